#include "registration/homography_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>

#include "numeric/projection.h"
#include "test_images.h"
#include "util/error.h"

namespace lumet {
namespace {

Matrix MakeHomography(double h11, double h12, double h13, double h21, double h22, double h23, double h31 = 0.0,
                      double h32 = 0.0) {
  Matrix h(3, 3, 0.0);
  const double values[9] = {h11, h12, h13, h21, h22, h23, h31, h32, 1.0};
  h.CopyFrom(values);
  return h;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof(double)) == 0; }

TEST(FitHomography, RecoversAShiftFromExactPairs) {
  std::vector<FeaturePoint> a;
  std::vector<FeaturePoint> b;
  for (int i = 0; i < 8; ++i) {
    const float x = static_cast<float>(20 + 37 * i % 150);
    const float y = static_cast<float>(15 + 53 * i % 110);
    a.push_back(FeaturePoint{x, y, 0});
    b.push_back(FeaturePoint{x + 3, y - 2, 0});
  }
  Matrix h;
  FitHomography(a, b, h);
  ASSERT_EQ(h.Rows(), 3);
  const double expected[9] = {1, 0, 3.0 / 600, 0, 1, -2.0 / 600, 0, 0, 1};
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(h.Flat1(k + 1), expected[k], 1e-9) << "entry " << k;
  EXPECT_EQ(h.At1(3, 3), 1.0);
}

TEST(FitHomography, RecoversAProjectiveMapFromExactPairs) {
  const Matrix truth = MakeHomography(1.01, 0.02, 0.004, -0.015, 0.99, -0.003, 2e-5, -1e-5);
  std::vector<FeaturePoint> a;
  std::vector<FeaturePoint> b;
  for (int i = 0; i < 12; ++i) {
    const double x = 10 + (i % 4) * 90;
    const double y = 12 + (i / 4) * 100 + (i % 3) * 7;
    const ProjectedPoint p = ProjectPoint(truth, x, y);
    a.push_back(FeaturePoint{static_cast<float>(x), static_cast<float>(y), 0});
    b.push_back(FeaturePoint{static_cast<float>(p.u), static_cast<float>(p.v), 0});
  }
  Matrix h;
  FitHomography(a, b, h);
  // The pairs carry single-precision positions (about 1e-5 px), so the fit matches to a
  // few thousandths of a pixel anywhere in the area.
  for (double x : {0.0, 150.0, 320.0}) {
    for (double y : {0.0, 120.0, 240.0}) {
      const ProjectedPoint e = ProjectPoint(truth, x, y);
      const ProjectedPoint f = ProjectPoint(h, x, y);
      EXPECT_NEAR(f.u, e.u, 2e-3);
      EXPECT_NEAR(f.v, e.v, 2e-3);
    }
  }
}

TEST(RoiMae, CountsOnlyWarpedPixelsAboveZero) {
  const GrayImage ref = testing::MakeGray(100, 80, [](double, double) { return 100; });
  const GrayImage frame = testing::MakeGray(100, 80, [](double x, double) { return x < 50 ? 0 : 70; });
  const RoiRect roi{40, 20, 60, 40};
  EXPECT_EQ(RoiMae(ref, frame, IdentityHomography(), roi), 30.0);
  // Shifted so that half of the ROI falls off the right edge: the rest still counts.
  const Matrix shift = MakeHomography(1, 0, 50.0 / 600, 0, 1, 0);
  EXPECT_NEAR(RoiMae(ref, frame, shift, roi), 30.0, 1e-9);
  // Nothing maps into the frame: not a number.
  const Matrix away = MakeHomography(1, 0, 500.0 / 600, 0, 1, 0);
  EXPECT_TRUE(std::isnan(RoiMae(ref, frame, away, roi)));
  const DoubleImage warped = WarpRoi(frame, shift, roi);
  ASSERT_EQ(warped.Width(), 20);
  ASSERT_EQ(warped.Height(), 20);
  EXPECT_NEAR(warped.At(0, 0), 70.0, 1e-9);  // x 90
  EXPECT_EQ(warped.At(15, 0), 0.0);          // x 105: outside
  EXPECT_THROW(RoiMae(ref, frame, shift, RoiRect{90, 20, 101, 40}), Error);
}

TEST(RoiMae, FastPathMatchesTheDirectWarpExactly) {
  const testing::BlobScene scene(50, 300, 220);
  const GrayImage ref = testing::MakeGray(300, 220, scene);
  const GrayImage frame =
      testing::MakeGray(300, 220, [&](double x, double y) { return scene(x * 0.98 + 1.3, y + 0.7); });
  const double c = std::cos(0.03);
  const double s = std::sin(0.03);
  const Matrix homographies[] = {
      IdentityHomography(),
      MakeHomography(1, 0, 0.7 / 600, 0, 1, -1.35 / 600),
      MakeHomography(c, -s, 4.0 / 600, s, c, -2.5 / 600),
      MakeHomography(1.02, 0.01, 0.01, -0.02, 0.97, 0.02, 3e-5, -2e-5),
      MakeHomography(1, 0, 150.0 / 600, 0, 1, 0),  // partly outside
      MakeHomography(1, 0, 900.0 / 600, 0, 1, 0),  // wholly outside
  };
  const RoiRect rois[] = {{100, 80, 140, 120}, {10, 5, 290, 215}};  // the second is warped in parallel
  for (const RoiRect& roi : rois) {
    for (size_t k = 0; k < std::size(homographies); ++k) {
      SCOPED_TRACE("roi width " + std::to_string(roi.Width()) + ", homography " + std::to_string(k));
      const double fast = RoiMae(ref, frame, homographies[k], roi);
      const double direct = RoiMaeDirect(ref, frame, homographies[k], roi);
      if (std::isnan(direct)) {
        EXPECT_TRUE(std::isnan(fast));
      } else {
        EXPECT_TRUE(SameBits(fast, direct)) << fast << " vs " << direct;
      }
    }
  }
}

struct ShiftCase {
  GrayImage ref;
  GrayImage frame;
  std::vector<FeaturePoint> a;
  std::vector<FeaturePoint> b;
};

// The frame shows the reference content moved by (3, -2): frame(x + 3, y - 2) = ref(x, y).
// Pairs 0 .. good-1 are exact, the later ones wrong by several pixels.
ShiftCase MakeShiftCase(int good, int bad) {
  const testing::BlobScene scene(60, 120, 100);
  ShiftCase c;
  c.ref = testing::MakeGray(120, 100, scene);
  c.frame = testing::MakeGray(120, 100, [&](double x, double y) { return scene(x - 3, y + 2); });
  for (int i = 0; i < good + bad; ++i) {
    const float x = static_cast<float>(15 + (i * 29) % 90);
    const float y = static_cast<float>(12 + (i * 17) % 75);
    c.a.push_back(FeaturePoint{x, y, 0});
    const float error = i < good ? 0.0f : static_cast<float>(4 + i % 5);
    c.b.push_back(FeaturePoint{x + 3 + error, y - 2 - error, 0});
  }
  return c;
}

TEST(EstimateHomography, ShiftExampleGivesTheShiftHomography) {
  const ShiftCase c = MakeShiftCase(12, 0);
  Matrix h;
  LcgRandom random;
  const double score =
      EstimateHomography(c.ref, c.frame, c.a, c.b, h, 8, kSearchTrials, 12, RoiRect{40, 30, 80, 70}, random);
  EXPECT_LT(score, 1e-6);
  const double expected[9] = {1, 0, 0.005, 0, 1, -2.0 / 600, 0, 0, 1};
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(h.Flat1(k + 1), expected[k], 1e-9) << "entry " << k;
  EXPECT_EQ(h.At1(3, 3), 1.0);
}

TEST(EstimateHomography, TrialZeroUsesTheBestPairsWhateverTheGeneratorState) {
  const ShiftCase c = MakeShiftCase(6, 6);
  for (const int advance : {0, 1, 12345}) {
    SCOPED_TRACE("generator advanced " + std::to_string(advance));
    LcgRandom random;
    for (int i = 0; i < advance; ++i) random.Next();
    const uint32_t before = random.State();
    Matrix h;
    const double score = EstimateHomography(c.ref, c.frame, c.a, c.b, h, 6, 1, 12, RoiRect{40, 30, 80, 70}, random);
    EXPECT_LT(score, 1e-6);
    EXPECT_NEAR(h.At1(1, 3), 0.005, 1e-9);
    EXPECT_EQ(random.State(), before);  // a single trial draws nothing
  }
}

// The search written as one plain sequential loop.
double SequentialSearch(const ShiftCase& c, Matrix& h, int u, int trials, int n, const RoiRect& roi,
                        LcgRandom& random) {
  std::vector<int> perm(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) perm[static_cast<size_t>(i)] = i;
  double best = kNoTrialAccepted;
  for (int t = 0; t < trials; ++t) {
    if (t > 0) {
      for (int k = 0; k < 100; ++k) {
        const int r1 = random.Next();
        const int r2 = random.Next();
        std::swap(perm[static_cast<size_t>(r1 % n)], perm[static_cast<size_t>(r2 % n)]);
      }
    }
    std::vector<FeaturePoint> as;
    std::vector<FeaturePoint> bs;
    for (int i = 0; i < u; ++i) {
      as.push_back(c.a[static_cast<size_t>(perm[static_cast<size_t>(i)])]);
      bs.push_back(c.b[static_cast<size_t>(perm[static_cast<size_t>(i)])]);
    }
    Matrix hc(3, 3, 0.0);
    FitHomography(as, bs, hc);
    const double e = RoiMaeDirect(c.ref, c.frame, hc, roi);
    if (e < best) {
      best = e;
      h = hc;
    }
  }
  return best;
}

TEST(EstimateHomography, ParallelTrialsMatchTheSequentialSearchAndDrawTheSameNumbers) {
  // Trial 0 takes bad pairs 0..6 (the good ones come last), so later trials must win.
  // The ROI is large enough for the trials to be scored on several threads.
  ShiftCase c = MakeShiftCase(10, 7);
  std::rotate(c.a.begin(), c.a.begin() + 10, c.a.end());
  std::rotate(c.b.begin(), c.b.begin() + 10, c.b.end());
  const RoiRect roi{10, 10, 110, 90};
  LcgRandom parallelRandom;
  LcgRandom sequentialRandom;
  parallelRandom.Reset(42);
  sequentialRandom.Reset(42);
  Matrix h;
  Matrix expected;
  const double score = EstimateHomography(c.ref, c.frame, c.a, c.b, h, 7, kSearchTrials, 17, roi, parallelRandom);
  const double expectedScore = SequentialSearch(c, expected, 7, kSearchTrials, 17, roi, sequentialRandom);
  EXPECT_TRUE(SameBits(score, expectedScore)) << score << " vs " << expectedScore;
  ASSERT_EQ(h.Rows(), 3);
  EXPECT_EQ(std::memcmp(h.Data(), expected.Data(), 9 * sizeof(double)), 0);
  EXPECT_EQ(parallelRandom.State(), sequentialRandom.State());
  LcgRandom counted;
  counted.Reset(42);
  for (int i = 0; i < 2 * 100 * (kSearchTrials - 1); ++i) counted.Next();
  EXPECT_EQ(parallelRandom.State(), counted.State());
}

TEST(EstimateHomography, NoAcceptedTrialLeavesTheHomographyUnchanged) {
  ShiftCase c = MakeShiftCase(8, 0);
  for (auto& b : c.b) b.x += 500.0f;  // every fit maps the ROI far outside the frame
  Matrix h = MakeHomography(1, 2, 3, 4, 5, 6, 7, 8);
  const Matrix before = h;
  LcgRandom random;
  const double score = EstimateHomography(c.ref, c.frame, c.a, c.b, h, 6, 5, 8, RoiRect{40, 30, 80, 70}, random);
  EXPECT_EQ(score, kNoTrialAccepted);
  EXPECT_EQ(std::memcmp(h.Data(), before.Data(), 9 * sizeof(double)), 0);
}

TEST(EstimateHomography, RefusesSizesItCannotDraw) {
  const ShiftCase c = MakeShiftCase(8, 0);
  Matrix h;
  LcgRandom random;
  const RoiRect roi{40, 30, 80, 70};
  EXPECT_THROW(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 7, 5, 6, roi, random), Error);  // sample > pool
  EXPECT_THROW(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 6, 5, 9, roi, random), Error);  // pool > pairs
  EXPECT_THROW(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 0, 5, 6, roi, random), Error);
  EXPECT_THROW(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 6, 5, 8, RoiRect{100, 30, 130, 70}, random), Error);
}

}  // namespace
}  // namespace lumet
