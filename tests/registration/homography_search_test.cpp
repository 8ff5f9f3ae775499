// Homography search and refinement.
#include "registration/homography_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "numeric/projection.h"
#include "registration/homography_refinement.h"
#include "support/simd_variants.h"
#include "support/temp_folder.h"
#include "numeric/convolve.h"
#include "test_images.h"
#include "util/parallel.h"
#include "util/error.h"
#include "util/text_format.h"

namespace lumet {
namespace {

using testing::MakeGray;
using testing::Scene;

// h11 .. h32 with h33 = 1.
Matrix MakeH(double h11, double h12, double h13, double h21, double h22, double h23, double h31 = 0, double h32 = 0) {
  Matrix h(3, 3, 0.0);
  const double values[9] = {h11, h12, h13, h21, h22, h23, h31, h32, 1.0};
  h.CopyFrom(values);
  return h;
}

bool SameBits(const Matrix& a, const Matrix& b) {
  return a.Rows() == 3 && b.Rows() == 3 && std::memcmp(a.Data(), b.Data(), 9 * sizeof(double)) == 0;
}

TEST(FitHomography, RecoversAProjectiveMapFromExactPairs) {
  const Matrix truth = MakeH(1.01, 0.02, 0.004, -0.015, 0.99, -0.003, 2e-5, -1e-5);
  std::vector<FeaturePoint> a, b;
  for (int i = 0; i < 12; ++i) {
    const double x = 10 + (i % 4) * 90;
    const double y = 12 + (i / 4) * 100 + (i % 3) * 7;
    const ProjectedPoint p = ProjectPoint(truth, x, y);
    a.push_back(FeaturePoint{static_cast<float>(x), static_cast<float>(y), 0});
    b.push_back(FeaturePoint{static_cast<float>(p.u), static_cast<float>(p.v), 0});
  }
  Matrix h;
  FitHomography(a, b, h);
  EXPECT_EQ(h.At1(3, 3), 1.0);
  // Single-precision positions (about 1e-5 px) allow a few thousandths of a pixel.
  for (double x : {0.0, 150.0, 320.0}) {
    for (double y : {0.0, 120.0, 240.0}) {
      EXPECT_NEAR(ProjectPoint(h, x, y).u, ProjectPoint(truth, x, y).u, 2e-3);
      EXPECT_NEAR(ProjectPoint(h, x, y).v, ProjectPoint(truth, x, y).v, 2e-3);
    }
  }
}

// Frames searched at once start each search where the one before would end: skipping the
// draws of a search must leave the generator exactly where the search itself leaves it.
TEST(SkipSearchDraws, EndsWhereTheSearchEnds) {
  const GrayImage ref = MakeGray(120, 100, Scene);
  const GrayImage frame = MakeGray(120, 100, [](double x, double y) { return Scene(x + 0.6, y - 0.3); });
  std::vector<FeaturePoint> a, b;
  for (int i = 0; i < 12; ++i) {
    const float x = static_cast<float>(20 + (i % 4) * 25);
    const float y = static_cast<float>(20 + (i / 4) * 25);
    a.push_back(FeaturePoint{x, y, 0});
    b.push_back(FeaturePoint{x - 0.6f, y + 0.3f, 0});
  }
  for (const int trials : {1, 2, 7, 50}) {
    SCOPED_TRACE(std::to_string(trials) + " trials");
    LcgRandom searched;
    searched.Reset(12345u);
    Matrix h = IdentityHomography();
    EstimateHomography(ref, frame, a, b, h, 6, trials, 10, RoiRect{30, 30, 80, 70}, searched);
    LcgRandom skipped;
    skipped.Reset(12345u);
    SkipSearchDraws(skipped, trials);
    EXPECT_EQ(skipped.State(), searched.State());
    EXPECT_EQ(skipped.State() == 12345u, trials == 1);  // trial 0 draws nothing
  }
}

TEST(RoiMae, CountsWarpedPixelsAboveZeroAndTheFastPathMatchesTheDirectWarp) {
  const GrayImage grey = MakeGray(100, 80, [](double, double) { return 100; });
  const GrayImage half = MakeGray(100, 80, [](double x, double) { return x < 50 ? 0 : 70; });
  const RoiRect small{40, 20, 60, 40};
  EXPECT_EQ(RoiMae(grey, half, IdentityHomography(), small), 30.0);
  EXPECT_NEAR(RoiMae(grey, half, MakeH(1, 0, 50.0 / 600, 0, 1, 0), small), 30.0, 1e-9);   // half falls off
  EXPECT_TRUE(std::isnan(RoiMae(grey, half, MakeH(1, 0, 500.0 / 600, 0, 1, 0), small)));  // nothing inside
  EXPECT_THROW(RoiMae(grey, half, IdentityHomography(), RoiRect{90, 20, 101, 40}), Error);

  const GrayImage ref = MakeGray(300, 220, Scene);
  const GrayImage frame = MakeGray(300, 220, [](double x, double y) { return Scene(x * 0.98 + 1.3, y + 0.7); });
  const double c = std::cos(0.03);
  const double s = std::sin(0.03);
  int round = 0;
  for (SimdVariant variant : testing::SimdVariantsToTest()) {
  const ScopedSimdVariant variantGuard(variant);
  // The whole frame reads its very last pixel; 37 columns end in a partial vector.
  for (const RoiRect& roi : {RoiRect{100, 80, 137, 120}, RoiRect{10, 5, 290, 215}, RoiRect{0, 0, 300, 220}}) {
    ScopedParallelMode mode(round++ % 2 == 0 ? ParallelMode::ForceParallel : ParallelMode::ForceSerial);
    SCOPED_TRACE(SimdVariantName(variant));
    for (const Matrix& h :
         {IdentityHomography(), MakeH(1, 0, 0.7 / 600, 0, 1, -1.35 / 600), MakeH(c, -s, 4.0 / 600, s, c, -2.5 / 600),
          MakeH(1.02, 0.01, 0.01, -0.02, 0.97, 0.02, 3e-5, -2e-5), MakeH(1, 0, 150.0 / 600, 0, 1, 0),
          MakeH(1, 0, 900.0 / 600, 0, 1, 0)}) {
      const double fast = RoiMae(ref, frame, h, roi);
      const double direct = RoiMaeDirect(ref, frame, h, roi);
      EXPECT_TRUE(std::isnan(direct) ? std::isnan(fast) : std::memcmp(&fast, &direct, sizeof(double)) == 0)
          << roi.Width() << ": " << fast << " vs " << direct;
    }
  }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

TEST(RoiScorer, ManyHomographiesAtOnceMatchTheDirectWarpOneByOne) {
  // 301 x 221: rows padded to a multiple of 4 bytes; noise with zeros, so the count varies.
  const GrayImage ref = testing::NoiseImage(301, 221, 5);
  const GrayImage frame = testing::NoiseImage(301, 221, 6);
  const double c = std::cos(0.05);
  const double s = std::sin(0.05);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Eleven: a full batch and a partial one. Some land on the last column and row (no
  // right or lower neighbour), one is a degenerate fit, one maps outside.
  const std::vector<Matrix> hs = {
      IdentityHomography(), MakeH(1, 0, 0.4 / 600, 0, 1, 0.6 / 600), MakeH(c, -s, 3.0 / 600, s, c, -1.5 / 600),
      MakeH(1.03, 0.02, 0.01, -0.01, 0.96, 0.02, 4e-5, -3e-5), MakeH(1, 0, 20.5 / 600, 0, 1, 12.25 / 600),
      MakeH(1, 0, -7.75 / 600, 0, 1, -3.5 / 600), MakeH(1, 0, nan, 0, 1, 0), MakeH(1, 0, 900.0 / 600, 0, 1, 0),
      MakeH(0.5, 0, 150.0 / 600, 0, 0.5, 110.0 / 600), MakeH(1.001, 0, 0.3 / 600, 0, 1.002, 0.2 / 600),
      MakeH(0.99, 0.01, 1.0 / 600, -0.01, 0.99, 2.0 / 600)};
  std::vector<const Matrix*> pointers;
  for (const Matrix& h : hs) pointers.push_back(&h);
  int round = 0;
  for (SimdVariant variant : testing::SimdVariantsToTest()) {
    const ScopedSimdVariant variantGuard(variant);
    for (const RoiRect& roi : {RoiRect{0, 0, 301, 221}, RoiRect{250, 180, 301, 221}, RoiRect{100, 80, 109, 83}}) {
      ScopedParallelMode mode(round++ % 2 == 0 ? ParallelMode::ForceParallel : ParallelMode::ForceSerial);
      for (int count : {1, 4, 8, 11}) {
        SCOPED_TRACE(std::string(SimdVariantName(variant)) + ", ROI " + RoiText(roi) + ", " + std::to_string(count));
        std::vector<double> scores(static_cast<size_t>(count));
        RoiMaeMany(ref, frame, pointers.data(), count, roi, scores.data());
        const RoiScorer scorer(ref, frame, roi);
        for (int k = 0; k < count; ++k) {
          const Matrix& h = hs[static_cast<size_t>(k)];
          const double direct = RoiMaeDirect(ref, frame, h, roi);
          const double many = scores[static_cast<size_t>(k)];
          const double one = RoiMae(ref, frame, h, roi);
          const double scored = scorer.Score(h);
          for (const double fast : {many, one, scored}) {
            EXPECT_TRUE(std::isnan(direct) ? std::isnan(fast) : std::memcmp(&fast, &direct, sizeof(double)) == 0)
                << "homography " << k << ": " << many << ", " << one << ", " << scored << " vs " << direct;
          }
        }
      }
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
  EXPECT_THROW(RoiMaeMany(ref, frame, pointers.data(), 2, RoiRect{290, 0, 302, 10}, nullptr), Error);
}

TEST(RoiScorer, HomographiesSharingRowsAreScoredAsOneByOne) {
  // The refinement's probes: each raises one of h11, h21, h12, h22, so all share the third
  // row and pairs share the first or the second. Some fall off the frame's right edge.
  const GrayImage ref = testing::NoiseImage(161, 121, 8);
  const GrayImage frame = testing::NoiseImage(161, 121, 9);
  const Matrix base = MakeH(1.01, 0.02, 4.0 / 600, -0.015, 0.99, -2.0 / 600, 3e-5, -2e-5);
  std::vector<Matrix> hs(8, base);
  const int rows[] = {1, 2, 1, 2, 1, 2, 1, 1};
  const int cols[] = {1, 1, 2, 2, 3, 3, 1, 1};
  const double steps[] = {0.08, 0.08, 0.08, 0.08, 0.05, -0.05, 0.0, 0.08};  // the last two repeat h and probe 0
  for (size_t k = 0; k < hs.size(); ++k) hs[k].At1(rows[k], cols[k]) = base.At1(rows[k], cols[k]) + steps[k];
  std::vector<const Matrix*> pointers;
  for (const Matrix& h : hs) pointers.push_back(&h);
  for (SimdVariant variant : testing::SimdVariantsToTest()) {
    const ScopedSimdVariant variantGuard(variant);
    for (const RoiRect& roi : {RoiRect{0, 0, 161, 121}, RoiRect{140, 30, 161, 43}}) {
      const RoiScorer scorer(ref, frame, roi);
      for (int count = 2; count <= 8; ++count) {
        SCOPED_TRACE(std::string(SimdVariantName(variant)) + ", ROI " + RoiText(roi) + ", " + std::to_string(count));
        double scores[8];
        scorer.ScoreMany(pointers.data(), count, scores);
        for (int k = 0; k < count; ++k) {
          const double direct = RoiMaeDirect(ref, frame, hs[static_cast<size_t>(k)], roi);
          EXPECT_EQ(std::memcmp(&scores[k], &direct, sizeof(double)), 0) << k << ": " << scores[k] << " vs " << direct;
        }
      }
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

// The frame shows the reference moved by (3, -2); pairs from `good` on are off by 4..8 px.
struct ShiftCase {
  GrayImage ref, frame;
  std::vector<FeaturePoint> a, b;
  ShiftCase(int good, int bad) {
    ref = MakeGray(120, 100, Scene);
    frame = MakeGray(120, 100, [](double x, double y) { return Scene(x - 3, y + 2); });
    for (int i = 0; i < good + bad; ++i) {
      const float x = static_cast<float>(15 + (i * 29) % 90);
      const float y = static_cast<float>(12 + (i * 17) % 75);
      const float error = i < good ? 0.0f : static_cast<float>(4 + i % 5);
      a.push_back(FeaturePoint{x, y, 0});
      b.push_back(FeaturePoint{x + 3 + error, y - 2 - error, 0});
    }
  }
};

TEST(EstimateHomography, ShiftExampleGivesTheShiftHomography) {
  const ShiftCase c(12, 0);
  Matrix h;
  LcgRandom random;
  EXPECT_LT(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 8, kSearchTrials, 12, RoiRect{40, 30, 80, 70}, random),
            1e-6);
  const double expected[9] = {1, 0, 0.005, 0, 1, -2.0 / 600, 0, 0, 1};
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(h.Flat1(k + 1), expected[k], 1e-9) << "entry " << k;
  EXPECT_EQ(h.At1(3, 3), 1.0);
}

TEST(EstimateHomography, ParallelTrialsMatchTheSequentialSearchAndDrawTheSameNumbers) {
  // The good pairs come last, so later trials must win; the ROI is scored on several threads.
  ShiftCase c(10, 7);
  std::rotate(c.a.begin(), c.a.begin() + 10, c.a.end());
  std::rotate(c.b.begin(), c.b.begin() + 10, c.b.end());
  const RoiRect roi{10, 10, 110, 90};
  LcgRandom random, sequential;
  random.Reset(42);
  sequential.Reset(42);
  Matrix h, expected;
  const double score = EstimateHomography(c.ref, c.frame, c.a, c.b, h, 7, kSearchTrials, 17, roi, random);
  // One plain loop: 100 random transpositions of the pool before every trial but the first.
  std::array<size_t, 17> perm;
  for (size_t i = 0; i < 17; ++i) perm[i] = i;
  double best = kNoTrialAccepted;
  for (int t = 0; t < kSearchTrials; ++t) {
    for (int k = 0; t > 0 && k < 100; ++k) {
      const size_t r1 = static_cast<size_t>(sequential.Next()) % 17;
      std::swap(perm[r1], perm[static_cast<size_t>(sequential.Next()) % 17]);
    }
    std::vector<FeaturePoint> as, bs;
    for (size_t i = 0; i < 7; ++i) {
      as.push_back(c.a[perm[i]]);
      bs.push_back(c.b[perm[i]]);
    }
    Matrix hc(3, 3, 0.0);
    FitHomography(as, bs, hc);
    if (const double e = RoiMaeDirect(c.ref, c.frame, hc, roi); e < best) {
      best = e;
      expected = hc;
    }
  }
  EXPECT_EQ(std::memcmp(&score, &best, sizeof(double)), 0) << score << " vs " << best;
  EXPECT_TRUE(SameBits(h, expected));
  EXPECT_EQ(random.State(), sequential.State());
}

TEST(EstimateHomography, RefusesSizesItCannotDrawAndKeepsHWhenNoTrialIsAccepted) {
  ShiftCase c(8, 0);
  Matrix h = MakeH(1, 2, 3, 4, 5, 6, 7, 8);
  LcgRandom random;
  const RoiRect roi{40, 30, 80, 70};
  EXPECT_THROW(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 7, 5, 6, roi, random), Error);  // sample > pool
  EXPECT_THROW(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 6, 5, 9, roi, random), Error);  // pool > pairs
  EXPECT_THROW(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 0, 5, 6, roi, random), Error);
  EXPECT_THROW(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 6, 5, 8, RoiRect{100, 30, 130, 70}, random), Error);
  for (auto& b : c.b) b.x += 500.0f;  // every fit maps the ROI far outside the frame
  EXPECT_EQ(EstimateHomography(c.ref, c.frame, c.a, c.b, h, 6, 5, 8, roi, random), kNoTrialAccepted);
  EXPECT_TRUE(SameBits(h, MakeH(1, 2, 3, 4, 5, 6, 7, 8)));
}

TEST(RefineHomography, StoppingRulesKeepTheStartingHomography) {
  const GrayImage ramp = MakeGray(40, 40, [](double x, double y) { return 10 + x + y; });
  const auto flat = [](int w, int v) { return MakeGray(w, 40, [=](double, double) { return v; }); };
  const GrayImage scene = MakeGray(80, 80, Scene);
  const double nan = RoiMae(ramp, ramp, MakeH(1, 0, 100.0 / 600, 0, 1, 0), RoiRect{5, 5, 20, 20});  // outside
  const std::string nanLog = "0 " + FormatG6(nan) + "\n";
  std::string eighteen;  // every update is worse: 0.08 * 0.6^18 is the first step below 0.00001
  for (int i = 0; i < 18; ++i) eighteen += std::to_string(i) + " 0\n";
  struct Case {
    const char* name;
    GrayImage ref, frame;
    double h13;
    RoiRect roi;
    int iterations;
    double score;
    std::string log;
  };
  // At x 95 of 100 the probe h11 + 0.08 maps to 102.6, outside: the gradient is not a number,
  // the update is undone; with the step 0.048 (x 99.56) the flat images give a zero gradient.
  const RoiRect edge{95, 10, 96, 11};
  const Case cases[] = {
      {"no iterations", ramp, ramp, 0, {5, 5, 20, 20}, 0, 0.0, ""},
      {"not-a-number score", ramp, ramp, 100.0 / 600, {5, 5, 20, 20}, 200, nan, nanLog},
      {"flat score, no division by zero", flat(40, 100), flat(40, 60), 0, {5, 5, 20, 20}, 200, 40, "0 40\n"},
      {"update without a score undone", flat(100, 60), flat(100, 50), 0, edge, 200, 10, "0 10\n1 10\n"},
      {"iteration limit: the kept score", flat(100, 60), flat(100, 50), 0, edge, 1, 10, "0 10\n"},
      {"optimal start", scene, scene, 0, {20, 20, 60, 60}, 200, 0, eighteen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Matrix h = MakeH(1, 0, c.h13, 0, 1, 0);
    std::string log = "old";
    const double score = RefineHomography(c.ref, c.frame, h, c.roi, c.iterations, log);
    EXPECT_TRUE(std::isnan(c.score) ? std::isnan(score) : score == c.score) << score;
    EXPECT_EQ(log, c.log);
    EXPECT_TRUE(SameBits(h, MakeH(1, 0, c.h13, 0, 1, 0)));
  }
  Matrix empty;
  std::string log;
  EXPECT_THROW(RefineHomography(ramp, ramp, empty, RoiRect{5, 5, 20, 20}, 200, log), Error);
}

}  // namespace
}  // namespace lumet
