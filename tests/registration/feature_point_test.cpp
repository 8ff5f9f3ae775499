// Feature points: their kernels, detection, selection and block matching.
#include "registration/feature_point.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "registration/block_matching.h"
#include "registration/derivative_kernels.h"
#include "numeric/convolve.h"
#include "util/parallel.h"
#include "test_images.h"
#include "support/simd_variants.h"

namespace lumet {
namespace {

// The derivative filters of 8-bit frames take the fused loops where no sum can round; the
// result must then be the rounded product-and-sum's, bit for bit, on the harshest content.
TEST(DerivativeKernels, FusedFilteringOfEightBitFramesWhereExactEqualsTheProductSum) {
  const GrayImage harsh = testing::MakeGray(41, 37, [](double x, double y) {
    const int i = static_cast<int>(x) * 7 + static_cast<int>(y) * 13;
    return i % 5 == 0 ? 255 : i % 3 == 0 ? 0 : (i * 37) % 256;
  });
  int exactKernels = 0;
  for (const double sigma : {0.5, 0.6, 1.0, 1.5, 2.0, 3.0, 5.0}) {
    SCOPED_TRACE("sigma " + std::to_string(sigma));
    const int n = DerivativeKernelSize(sigma);
    FloatMatrix g;
    FloatMatrix kx;
    FloatMatrix ky;
    BuildDerivativeKernels(sigma, n, g, kx, ky);
    for (const FloatMatrix* kernel : {&kx, &ky, &g}) {
      if (EightBitSumsAreExact(*kernel, n)) ++exactKernels;
      if (n > harsh.Height()) continue;
      DoubleImage fast;
      DoubleImage direct;
      ConvolveMirror(harsh, fast, *kernel, n);
      ConvolveMirrorDirect(harsh, direct, *kernel, n);
      for (int y = 0; y < harsh.Height(); ++y) {
        ASSERT_EQ(std::memcmp(fast.Row(y), direct.Row(y), sizeof(double) * static_cast<size_t>(harsh.Width())), 0)
            << "row " << y;
      }
    }
  }
  // The default filter sigma's derivative kernels are among the exact ones.
  int n = DerivativeKernelSize(1.5);
  FloatMatrix g;
  FloatMatrix kx;
  FloatMatrix ky;
  BuildDerivativeKernels(1.5, n, g, kx, ky);
  EXPECT_TRUE(EightBitSumsAreExact(kx, n));
  EXPECT_TRUE(EightBitSumsAreExact(ky, n));
  EXPECT_GT(exactKernels, 2);

  // Taps 2^40 apart cannot be summed exactly: the product-and-sum loops are kept.
  n = 3;
  FloatMatrix wide(n, n, 0.0f);
  wide[0][0] = 1.0f;
  wide[2][2] = std::ldexp(1.0f, -40);
  EXPECT_FALSE(EightBitSumsAreExact(wide, n));
  wide[2][2] = -0.0f;  // zeros of either sign do not count
  EXPECT_TRUE(EightBitSumsAreExact(wide, n));
}

TEST(DerivativeKernels, SizesAndShapes) {
  for (const auto& [sigma, size] : {std::pair{1.5, 11}, {1.0, 7}, {0.6, 5}, {0.5, 5}}) {
    SCOPED_TRACE("sigma " + std::to_string(sigma));
    const int n = DerivativeKernelSize(sigma);
    ASSERT_EQ(n, size);
    const int h = n / 2;
    FloatMatrix g, kx, ky;
    BuildDerivativeKernels(sigma, n, g, kx, ky);
    double sum = 0.0;
    for (int a = 0; a < n; ++a) {
      for (int b = 0; b < n; ++b) {
        sum += g[a][b];
        EXPECT_EQ(g[a][b], g[n - 1 - a][b]);
        EXPECT_EQ(g[a][b], g[b][a]);
        EXPECT_EQ(kx[a][b], -kx[n - 1 - a][b]);
        EXPECT_EQ(kx[a][b], ky[b][a]);  // Kx varies with the first index (x), Ky with the second
      }
      EXPECT_EQ(kx[h][a], 0.0f);
      EXPECT_EQ(ky[a][h], 0.0f);
    }
    EXPECT_NEAR(sum, 1.0, 1e-6);
    EXPECT_GT(kx[h - 1][h], 0.0f);  // correlation gives the negated derivative
  }
}

TEST(SmoothInterior, LeavesBandZeroAndMatchesTheDirectSumExactly) {
  // 10 x 10 is smaller than the 11-tap kernel; 57 x 33 ends in every kind of block.
  for (SimdVariant variant : testing::SimdVariantsToTest()) {
  const ScopedSimdVariant variantGuard(variant);
  for (ParallelMode mode : {ParallelMode::ForceSerial, ParallelMode::ForceParallel}) {
  ScopedParallelMode scoped(mode);
  for (const int n : {5, 11}) {
    for (const auto& [w, ht] : {std::pair{37, 23}, {11, 11}, {10, 10}, {12, 30}, {57, 33}}) {
      SCOPED_TRACE(std::string(SimdVariantName(variant)) + (mode == ParallelMode::ForceSerial ? " serial" : " parallel") +
                   " n " + std::to_string(n) + ", " + std::to_string(w) + " x " + std::to_string(ht));
      FloatMatrix g, kx, ky;
      BuildDerivativeKernels(n == 5 ? 0.6 : 1.5, n, g, kx, ky);
      const GrayImage noise = testing::NoiseImage(w, ht, 11u + static_cast<uint32_t>(n));
      DoubleImage source, fast, direct;
      source.Create(w, ht);
      for (int y = 0; y < ht; ++y) {
        for (int x = 0; x < w; ++x) source.At(x, y) = noise.Row(y)[x] * 0.37 - 20.0;
      }
      SmoothInterior(source, fast, g, n);
      SmoothInteriorDirect(source, direct, g, n);
      ASSERT_EQ(fast.Width(), w);
      const int h = n / 2;
      for (int y = 0; y < ht; ++y) {
        for (int x = 0; x < w; ++x) {
          ASSERT_EQ(std::memcmp(&fast.At(x, y), &direct.At(x, y), sizeof(double)), 0) << x << "," << y;
          const bool band = x < h || y < h || x >= w - h || y >= ht - h;
          ASSERT_TRUE(!band || fast.At(x, y) == 0.0) << fast.At(x, y);
        }
      }
      EXPECT_TRUE(w <= 2 * h || ht <= 2 * h || fast.At(h, h) != 0.0);
    }
  }
  }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

TEST(DetectFeatures, FindsSquareCornersStrongestFirstInScanOrderOnTies) {
  // Two identical bright squares side by side on a dark ground.
  const GrayImage image = testing::MakeGray(80, 50, [](double x, double y) {
    return y >= 15 && y < 33 && ((x >= 12 && x < 30) || (x >= 48 && x < 66)) ? 200.0 : 40.0;
  });
  DoubleImage response;
  const auto features = DetectFeatures(image, response, 1.0);
  ASSERT_GE(features.size(), 8u);
  for (size_t i = 0; i < features.size(); ++i) {
    const FeaturePoint& p = features[i];
    if (i < 8) {  // the eight strongest lie within two pixels of a square corner
      bool nearCorner = false;
      for (double cx : {12.0, 29.0, 48.0, 65.0}) {
        for (double cy : {15.0, 32.0}) nearCorner |= std::fabs(p.x - cx) <= 2 && std::fabs(p.y - cy) <= 2;
      }
      EXPECT_TRUE(nearCorner) << p.x << "," << p.y;
      EXPECT_EQ(p.response, static_cast<float>(response.At(static_cast<int>(p.x), static_cast<int>(p.y))));
    }
    if (i == 0) continue;
    const FeaturePoint& q = features[i - 1];
    ASSERT_GE(q.response, p.response);
    EXPECT_TRUE(q.response > p.response || q.y < p.y || (q.y == p.y && q.x < p.x));  // matching corners tie
  }
  EXPECT_EQ(features[0].response, features[1].response);
}

TEST(DetectFeatures, MatchesTheDirectDetectorExactly) {
  // Noise gives many corners and equal responses; the smooth scene few. 12 x 9 has a
  // 1-pixel interior for n = 11, 9 x 9 none; sizes change between calls, so the planes
  // kept from the previous frame are re-sized. The tall frames span several of the
  // detector's strips and of its suppression's blocks of rows, ending in a short one.
  struct Case {
    int w, ht;
    double sigma;
    int window;
    bool noise;
  };
  const Case cases[] = {{64, 48, 1.5, 6, true}, {53, 37, 1.0, 5, true},  {70, 50, 1.5, 6, false},
                        {12, 9, 1.5, 6, true},  {9, 9, 1.5, 6, true},    {40, 30, 0.6, 2, true},
                        {33, 21, 0.6, 1, true}, {64, 48, 1.5, 6, true},  {45, 301, 1.5, 6, true},
                        {50, 171, 1.0, 5, false}};
  for (SimdVariant variant : testing::SimdVariantsToTest()) {
    const ScopedSimdVariant variantGuard(variant);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(SimdVariantName(variant)) + " " + std::to_string(c.w) + " x " + std::to_string(c.ht) +
                   " sigma " + std::to_string(c.sigma) + " window " + std::to_string(c.window));
      const GrayImage image = c.noise ? testing::NoiseImage(c.w, c.ht, static_cast<uint32_t>(c.w * c.ht))
                                      : testing::MakeGray(c.w, c.ht, testing::Scene);
      DoubleImage fastResponse;
      DoubleImage directResponse;
      fastResponse.Create(3, 3);
      const auto fast = DetectFeatures(image, fastResponse, c.sigma, kHarrisConstant, c.window);
      const auto direct = DetectFeaturesDirect(image, directResponse, c.sigma, kHarrisConstant, c.window);
      ASSERT_EQ(fast.size(), direct.size());
      for (size_t i = 0; i < fast.size(); ++i) {
        EXPECT_EQ(fast[i].x, direct[i].x) << i;
        EXPECT_EQ(fast[i].y, direct[i].y) << i;
        EXPECT_EQ(std::memcmp(&fast[i].response, &direct[i].response, sizeof(double)), 0) << i;
      }
      ASSERT_EQ(fastResponse.Width(), c.w);
      ASSERT_EQ(fastResponse.Height(), c.ht);
      for (int y = 0; y < c.ht; ++y) {
        for (int x = 0; x < c.w; ++x) {
          ASSERT_EQ(std::memcmp(&fastResponse.At(x, y), &directResponse.At(x, y), sizeof(double)), 0) << x << "," << y;
        }
      }
      EXPECT_TRUE(fast.size() > 0 || c.w < 40 || c.window < 2);
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

TEST(SuppressNonMaxima, KeepsFirstStrictMaximumOfTheAsymmetricWindow) {
  struct Case {
    const char* name;
    int x, y;
    double v;
    int x2, y2;  // holds 1.0
    bool keep, keep2;
  };
  const Case cases[] = {
      {"equal side by side: left survives", 7, 7, 1.0, 8, 7, true, false},
      {"equal stacked: upper survives", 7, 7, 1.0, 7, 8, true, false},
      {"weaker three left of stronger survives", 4, 7, 0.5, 7, 7, true, true},
      {"weaker three above stronger survives", 7, 4, 0.5, 7, 7, true, true},
      {"weaker three right of stronger is suppressed", 10, 7, 0.5, 7, 7, false, true},
      {"weaker three below stronger is suppressed", 7, 10, 0.5, 7, 7, false, true},
      {"weaker two left of stronger is suppressed", 5, 7, 0.5, 7, 7, false, true},
      {"inside the three-pixel band", 2, 7, 5.0, 7, 7, false, true},
      {"below the last row of centres, H - 4", 7, 13, 5.0, 7, 7, false, true},
      {"a negative maximum is an edge, not a corner", 7, 7, -1.0, 0, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DoubleImage r, s;
    r.Create(16, 16);
    r.Fill(c.v < 0 ? -2.0 : 0.0);
    r.At(c.x, c.y) = c.v;
    if (c.x2 > 0) r.At(c.x2, c.y2) = 1.0;
    SuppressNonMaxima(r, s, 6);
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        const bool kept = (x == c.x && y == c.y && c.keep) || (x == c.x2 && y == c.y2 && c.keep2);
        EXPECT_EQ(s.At(x, y), kept ? r.At(x, y) : 0.0) << x << "," << y;
      }
    }
  }
}

TEST(SuppressNonMaxima, EarlyExitScanEqualsTheFullWindowScan) {
  // Few distinct levels, so ties before and after the centre are frequent; some
  // not-a-number and negative values too.
  uint32_t state = 7;
  for (const int window : {6, 5, 2, 1}) {
    SCOPED_TRACE("window " + std::to_string(window));
    DoubleImage r, fast, direct;
    r.Create(41, 29);
    for (int y = 0; y < 29; ++y) {
      for (int x = 0; x < 41; ++x) {
        state = state * 1103515245u + 12345u;
        const int level = static_cast<int>((state >> 16) % 7) - 2;
        r.At(x, y) = level == 4 ? std::nan("") : static_cast<double>(level);
      }
    }
    SuppressNonMaxima(r, fast, window);
    SuppressNonMaximaDirect(r, direct, window);
    int kept = 0;
    for (int y = 0; y < 29; ++y) {
      for (int x = 0; x < 41; ++x) {
        ASSERT_EQ(fast.At(x, y), direct.At(x, y)) << x << "," << y;
        kept += direct.At(x, y) > 0.0;
      }
    }
    EXPECT_EQ(kept > 0, window > 1);  // a window of 1 has no offsets: nothing is a maximum
  }
}

TEST(SelectNearRoi, KeepsPointsWithinTheMarginOfTheFirstFifty) {
  // ROI 300..340: left/right/top/bottom 199 px away are in, 200 out; 100.9 truncates to 100.
  const float xs[] = {101, 100, 539, 540, 320, 320, 320, 320, 100.9f};
  const float ys[] = {320, 320, 320, 320, 101, 100, 539, 540, 320};
  std::vector<FeaturePoint> features;
  for (int i = 0; i < 9; ++i) features.push_back(FeaturePoint{xs[i], ys[i], 100.0 - i});
  const auto selected = SelectNearRoi(features, kSelectionLimit, RoiRect{300, 300, 340, 340});
  ASSERT_EQ(selected.size(), 4u);
  EXPECT_EQ(selected[0].x, 101);
  EXPECT_EQ(selected[1].x, 539);
  EXPECT_EQ(selected[2].y, 101);
  EXPECT_EQ(selected[3].y, 539);

  features.clear();
  for (int i = 0; i < 60; ++i) features.push_back(FeaturePoint{i < 50 ? 1000.0f : 15.0f, 15.0f, 100.0 - i});
  EXPECT_TRUE(SelectNearRoi(features, 50, RoiRect{10, 10, 20, 20}).empty());  // only 51..60 are near
  for (auto& f : features) f.x = 15.0f;
  const auto all = SelectNearRoi(features, 50, RoiRect{10, 10, 20, 20});
  ASSERT_EQ(all.size(), 50u);
  EXPECT_EQ(all.back().response, features[49].response);
}

FeaturePoint At(int x, int y) { return FeaturePoint{static_cast<float>(x), static_cast<float>(y), 1.0}; }

TEST(BlockCosts, ComparableOnlyWithinSearchAreaAndWithBlocksInside) {
  const GrayImage ref = testing::NoiseImage(40, 30, 1);
  const GrayImage frame = testing::NoiseImage(40, 30, 2);
  const GrayImage small = testing::NoiseImage(20, 20, 4);  // bounded by its own size, not read outside
  // p.x, p.y, q.x, q.y, comparable, on the 20 x 20 frame; s = 5, d = 10, W = 40, H = 30
  const int cases[][6] = {{12, 15, 22, 15, 0, 0}, {12, 15, 21, 15, 1, 0},   // |dx| = d, d - 1
                          {12, 6, 12, 16, 0, 0},                            // |dy| = d
                          {5, 15, 6, 15, 1, 0},   {4, 15, 6, 15, 0, 0},     // x = s, s - 1
                          {35, 15, 34, 15, 0, 0}, {34, 15, 34, 15, 1, 0},   // x = W - s, W - s - 1
                          {20, 25, 20, 24, 0, 0},                           // y = H - s
                          {6, 15, 4, 15, 0, 0},   {20, 24, 20, 25, 0, 0},   // the frame point's block
                          {16, 15, 16, 15, 0, 1}, {14, 14, 14, 14, 1, 1}};  // the frame's own size bounds it
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c[0] << "," << c[1] << " - " << c[2] << "," << c[3]);
    const Matrix costs = BlockCosts(ref, c[5] ? small : frame, {At(c[0], c[1])}, {At(c[2], c[3])}, 5, 10);
    EXPECT_EQ(costs[0][0] != kNotComparable, c[4] == 1);
  }
  // Every pixel differs by 10; then the frame moves by one pixel and the blocks differ by 10, 15 and 5.
  const GrayImage halves = testing::MakeGray(20, 20, [](double x, double) { return x < 10 ? 10 : 30; });
  const GrayImage grey = testing::MakeGray(20, 20, [](double, double) { return 20; });
  const GrayImage step = testing::MakeGray(20, 20, [](double x, double) { return x < 9 ? 0 : 25; });
  EXPECT_EQ(BlockCosts(halves, grey, {At(10, 10)}, {At(10, 10)}, 2, 5)[0][0], 10.0);
  EXPECT_EQ(BlockCosts(halves, step, {At(10, 10)}, {At(10, 10)}, 2, 5)[0][0], (5.0 * 10 + 5.0 * 15 + 15.0 * 5) / 25.0);
}

TEST(BlockCosts, IntegerSumsMatchTheDirectDoubleSums) {
  // Large enough that the s = 32 table is computed on several threads.
  const GrayImage ref = testing::NoiseImage(300, 220, 5);
  const GrayImage frame = testing::NoiseImage(300, 220, 6);
  std::vector<FeaturePoint> p, q;
  for (int i = 0; i < 50; ++i) {
    p.push_back(At(20 + (i * 37) % 260, 20 + (i * 23) % 180));
    q.push_back(At(20 + (i * 41 + 7) % 260, 20 + (i * 19 + 3) % 180));
  }
  for (const int s : {0, 3, 12, 32}) {
    SCOPED_TRACE("s " + std::to_string(s));
    const Matrix fast = BlockCosts(ref, frame, p, q, s, 250);
    ASSERT_EQ(fast.Rows(), 50);
    ASSERT_EQ(std::memcmp(fast.Data(), BlockCostsDirect(ref, frame, p, q, s, 250).Data(), sizeof(double) * 2500), 0);
    EXPECT_GT(std::count_if(fast.Data(), fast.Data() + 2500, [](double c) { return c != kNotComparable; }),
              s == 32 ? 1000 : 2000);
  }
}

TEST(PairByCost, CheapestFirstEachPointOnceTiesBySmallerFrameIndexMarkersNever) {
  Matrix costs(3, 3, 200.0);  // [reference][frame]
  costs[0][0] = 5.0;
  costs[1][0] = 2.0;
  costs[2][0] = 4.0;
  costs[0][2] = 9.0;
  costs[2][1] = 9.0;  // a tie: the smaller frame index first
  EXPECT_EQ(PairByCost(costs), (std::vector<std::pair<int, int>>{{1, 0}, {2, 1}, {0, 2}}));
  Matrix zeros(2, 2, 0.0);
  EXPECT_EQ(PairByCost(zeros), (std::vector<std::pair<int, int>>{{0, 0}, {1, 1}}));
  Matrix markers(2, 2, kNotComparable);
  markers[1][1] = 254.9;
  EXPECT_EQ(PairByCost(markers), (std::vector<std::pair<int, int>>{{1, 1}}));
}

TEST(MatchBlocks, AtMostThirtyPairsOfTheShiftedPoints) {
  // The frame is the reference moved by (2, -1): frame(x + 2, y - 1) = ref(x, y).
  const GrayImage ref = testing::NoiseImage(100, 100, 8);
  const GrayImage frame = testing::MakeGray(100, 100, [&](double x, double y) {
    return x >= 2 && y < 99 ? ref.Row(static_cast<int>(y) + 1)[static_cast<int>(x) - 2] : 0;
  });
  std::vector<FeaturePoint> p, q;
  for (int i = 0; i < 40; ++i) {
    p.push_back(At(12 + (i % 8) * 10, 14 + (i / 8) * 15));
    q.insert(q.begin(), At(14 + (i % 8) * 10, 13 + (i / 8) * 15));  // reversed: pairing by index would be wrong
  }
  const MatchedPairs pairs = MatchBlocks(ref, frame, p, q, 5, 12);
  ASSERT_EQ(pairs.a.size(), 30u);
  ASSERT_EQ(pairs.b.size(), 30u);
  for (size_t j = 0; j < 30; ++j) {
    EXPECT_EQ(pairs.b[j].x, pairs.a[j].x + 2);
    EXPECT_EQ(pairs.b[j].y, pairs.a[j].y - 1);
  }
  // Equal costs on flat images: taken in frame order, then reference order.
  const GrayImage flat = testing::MakeGray(60, 60, [](double, double) { return 80; });
  const MatchedPairs tied = MatchBlocks(flat, flat, {At(20, 20), At(30, 30)}, {At(31, 29), At(21, 22)}, 5, 12);
  ASSERT_EQ(tied.a.size(), 2u);
  EXPECT_EQ((std::vector{tied.a[0].x, tied.b[0].x, tied.a[1].x, tied.b[1].x}),
            (std::vector{20.0f, 31.0f, 30.0f, 21.0f}));
  EXPECT_TRUE(MatchBlocks(ref, frame, {}, q, 5, 12).a.empty());
  EXPECT_TRUE(MatchBlocks(ref, frame, p, {}, 5, 12).b.empty());
}

}  // namespace
}  // namespace lumet
