#include "registration/homography_refinement.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "numeric/projection.h"
#include "registration/homography_search.h"
#include "registration/search_sizes.h"
#include "test_images.h"
#include "util/atomic_file.h"
#include "util/error.h"

namespace lumet {
namespace {

bool SameMatrix(const Matrix& a, const Matrix& b) {
  return a.Rows() == b.Rows() && a.Cols() == b.Cols() &&
         std::memcmp(a.Data(), b.Data(), sizeof(double) * static_cast<size_t>(a.Size())) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(RefineHomography, NoIterationsReturnsZeroAndLogsNothing) {
  const GrayImage image = testing::MakeGray(40, 40, [](double x, double y) { return 10 + x + y; });
  Matrix h = IdentityHomography();
  std::string log = "old";
  EXPECT_EQ(RefineHomography(image, image, h, RoiRect{5, 5, 20, 20}, 0, log), 0.0);
  EXPECT_EQ(log, "");
  EXPECT_TRUE(SameMatrix(h, IdentityHomography()));
  Matrix empty;
  EXPECT_THROW(RefineHomography(image, image, empty, RoiRect{5, 5, 20, 20}, 200, log), Error);
  EXPECT_THROW(FormatHomographyFile(empty), Error);
}

TEST(RefineHomography, ScoreThatIsNotANumberStopsAtOnce) {
  const GrayImage image = testing::MakeGray(40, 40, [](double x, double y) { return 10 + x + y; });
  Matrix h = IdentityHomography();
  h.At1(1, 3) = 100.0 / 600;  // the ROI maps wholly outside the frame
  const Matrix start = h;
  std::string log;
  const double score = RefineHomography(image, image, h, RoiRect{5, 5, 20, 20}, 200, log);
  EXPECT_TRUE(std::isnan(score));
  EXPECT_TRUE(SameMatrix(h, start));
  EXPECT_EQ(Lines(log).size(), 1u);
  EXPECT_EQ(log.substr(0, 2), "0 ");
}

TEST(RefineHomography, FlatScoreStopsWithoutDividingByZero) {
  const GrayImage ref = testing::MakeGray(40, 40, [](double, double) { return 100; });
  const GrayImage frame = testing::MakeGray(40, 40, [](double, double) { return 60; });
  Matrix h = IdentityHomography();
  std::string log;
  EXPECT_EQ(RefineHomography(ref, frame, h, RoiRect{5, 5, 20, 20}, 200, log), 40.0);
  EXPECT_EQ(log, "0 40\n");
  EXPECT_TRUE(SameMatrix(h, IdentityHomography()));
}

TEST(RefineHomography, UpdateWithoutAScoreIsUndoneAndTheStepShrunk) {
  // A one-pixel ROI at x = 95 of a 100-pixel-wide frame: the probe h11 + 0.08 maps it to
  // x = 102.6, outside, so the gradient is not a number; the update is undone, and with
  // the shorter step (0.048, x = 99.56) the flat images give a zero gradient.
  const GrayImage ref = testing::MakeGray(100, 40, [](double, double) { return 60; });
  const GrayImage frame = testing::MakeGray(100, 40, [](double, double) { return 50; });
  Matrix h = IdentityHomography();
  std::string log;
  const double score = RefineHomography(ref, frame, h, RoiRect{95, 10, 96, 11}, 200, log);
  EXPECT_EQ(score, 10.0);
  EXPECT_EQ(log, "0 10\n1 10\n");
  EXPECT_TRUE(SameMatrix(h, IdentityHomography()));
  {
    SCOPED_TRACE("at the iteration limit the score of the kept homography is returned");
    Matrix once = IdentityHomography();
    EXPECT_EQ(RefineHomography(ref, frame, once, RoiRect{95, 10, 96, 11}, 1, log), 10.0);
    EXPECT_EQ(log, "0 10\n");
    EXPECT_TRUE(SameMatrix(once, IdentityHomography()));
  }
}

TEST(RefineHomography, OptimalStartEndsAfterTheEighteenthFailedStep) {
  // Identical frames and the identity: every update makes the score worse, each failure
  // shrinks the step by 0.6, and 0.08 * 0.6^18 is the first step below 0.00001.
  const testing::BlobScene scene(30, 80, 80);
  const GrayImage image = testing::MakeGray(80, 80, scene);
  Matrix h = IdentityHomography();
  std::string log;
  const double score = RefineHomography(image, image, h, RoiRect{20, 20, 60, 60}, 200, log);
  EXPECT_EQ(score, 0.0);
  EXPECT_TRUE(SameMatrix(h, IdentityHomography()));
  const auto lines = Lines(log);
  ASSERT_EQ(lines.size(), 18u);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], std::to_string(i) + " 0");
}

TEST(RefineHomography, DescendsTowardsTheTrueLinearPartKeepingTheRest) {
  // The frame is the scene enlarged by 1 % about the origin: h11 = h22 = 1.01.
  const testing::BlobScene scene(80, 140, 140);
  const GrayImage ref = testing::MakeGray(140, 140, scene);
  const GrayImage frame = testing::MakeGray(140, 140, [&](double x, double y) { return scene(x / 1.01, y / 1.01); });
  const RoiRect roi{50, 50, 90, 90};
  Matrix h = IdentityHomography();
  h.At1(1, 3) = 1e-7;
  h.At1(2, 3) = -2e-7;
  h.At1(3, 1) = 1e-9;
  h.At1(3, 2) = -1e-9;
  const Matrix start = h;
  const double startScore = RoiMae(ref, frame, h, roi);
  std::string log;
  const double score = RefineHomography(ref, frame, h, roi, kRefinementIterations, log);
  EXPECT_LT(score, startScore * 0.5);
  // Before: 0.5 to 0.9 px off over the ROI. The descent stops at the first improvement
  // below 0.00005, leaving about 0.05 px at the centre and 0.2 px at the corners.
  for (double x : {50.0, 70.0, 90.0}) {
    for (double y : {50.0, 70.0, 90.0}) {
      const ProjectedPoint p = ProjectPoint(h, x, y);
      const double tolerance = x == 70.0 && y == 70.0 ? 0.1 : 0.3;
      EXPECT_NEAR(p.u, 1.01 * x, tolerance);
      EXPECT_NEAR(p.v, 1.01 * y, tolerance);
    }
  }
  for (const auto& [r, c] : {std::pair{1, 3}, {2, 3}, {3, 1}, {3, 2}, {3, 3}}) EXPECT_EQ(h.At1(r, c), start.At1(r, c));
  const auto lines = Lines(log);
  ASSERT_GE(lines.size(), 2u);
  ASSERT_LE(lines.size(), static_cast<size_t>(kRefinementIterations));
  double previous = startScore;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::istringstream in(lines[i]);
    size_t index = 0;
    double value = 0;
    in >> index >> value;
    EXPECT_EQ(index, i);
    EXPECT_LE(value, previous * (1 + 1e-5));  // logged to six digits; never worse
    previous = value;
  }
  EXPECT_NEAR(std::stod(lines[0].substr(2)), startScore, startScore * 1e-5);
}

#ifdef _OPENMP
TEST(RefineHomography, LargeRoiGivesTheSameResultOnOneThreadAndOnSeveral) {
  // A 130 x 130 ROI has its gradient scores (and warps) computed on several threads.
  const testing::BlobScene scene(60, 160, 160);
  const GrayImage ref = testing::MakeGray(160, 160, scene);
  const GrayImage frame =
      testing::MakeGray(160, 160, [&](double x, double y) { return scene(x / 1.008 - 0.3, y / 1.008); });
  const RoiRect roi{15, 15, 145, 145};
  Matrix serial = IdentityHomography();
  Matrix threaded = IdentityHomography();
  std::string serialLog;
  std::string threadedLog;
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  const double serialScore = RefineHomography(ref, frame, serial, roi, 12, serialLog);
  omp_set_num_threads(threads > 1 ? threads : 2);
  const double threadedScore = RefineHomography(ref, frame, threaded, roi, 12, threadedLog);
  omp_set_num_threads(threads);
  EXPECT_EQ(std::memcmp(&serialScore, &threadedScore, sizeof(double)), 0);
  EXPECT_TRUE(SameMatrix(serial, threaded));
  EXPECT_EQ(serialLog, threadedLog);
  EXPECT_GE(Lines(serialLog).size(), 3u);
}
#endif

Matrix Entries(double h11, double h12, double h13, double h21, double h22, double h23, double h31, double h32) {
  Matrix h(3, 3, 0.0);
  const double values[9] = {h11, h12, h13, h21, h22, h23, h31, h32, 1.0};
  h.CopyFrom(values);
  return h;
}

TEST(HomographyFile, EightNumbersInGeneralNotationOneLine) {
  EXPECT_EQ(FormatHomographyFile(IdentityHomography()), "1 0 0 0 1 0 0 0\n");
  EXPECT_EQ(FormatHomographyFile(Entries(1, 0, 3.0 / 600, 0, 1, -2.0 / 600, 0, 0)), "1 0 0.005 0 1 -0.00333333 0 0\n");
  EXPECT_EQ(FormatHomographyFile(Entries(1.0000001, 0.0000123457, 123456789.0, 0, 1, 0, 0, 0)),
            "1 1.23457e-05 1.23457e+08 0 1 0 0 0\n");

  const auto dir = std::filesystem::temp_directory_path() / ("lumet_hom_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  const std::string path = (dir / "result" / "hr_hom-3.txt").string();
  WriteHomographyFile(path, Entries(1, 0, 3.0 / 600, 0, 1, -2.0 / 600, 0, 0));
  EXPECT_EQ(ReadWholeFile(path), "1 0 0.005 0 1 -0.00333333 0 0\n");
  WriteHomographyFile(path, IdentityHomography());  // truncated and rewritten
  EXPECT_EQ(ReadWholeFile(path), "1 0 0 0 1 0 0 0\n");
  std::filesystem::remove_all(dir);
}

TEST(SearchSizes, UserValuesOrTheFallbackOnFewPairs) {
  struct Case {
    int first, second, pairs, sample, pool;
    bool searchable;
  };
  const Case cases[] = {
      {20, 25, 30, 20, 25, true}, {20, 25, 25, 20, 25, true}, {20, 25, 24, 19, 23, true}, {20, 25, 11, 6, 10, true},
      {20, 25, 10, 5, 9, false},  {5, 25, 30, 5, 25, false},  {20, 31, 30, 25, 29, true}, {20, 25, 0, -5, -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + "/" + std::to_string(c.second) + " with " + std::to_string(c.pairs) +
                 " pairs");
    const SearchSizes sizes = ChooseSearchSizes(c.first, c.second, c.pairs);
    EXPECT_EQ(sizes.sampleSize, c.sample);
    EXPECT_EQ(sizes.poolSize, c.pool);
    EXPECT_EQ(sizes.Searchable(), c.searchable);
  }
}

TEST(SearchSizes, MaeLineFormat) {
  EXPECT_EQ(FormatMaeLine(3, 4.5, 4.25), "MAE(3) = 4.5->4.25\r\n\n");
  EXPECT_EQ(FormatMaeLine(12, kTooFewPairs, 7.123456789), "MAE(12) = 99999.9->7.12346\r\n\n");
  EXPECT_EQ(FormatMaeLine(1, kNoTrialAccepted, 0.0), "MAE(1) = 1e+07->0\r\n\n");
}

}  // namespace
}  // namespace lumet
