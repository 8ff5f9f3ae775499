#include "registration/derivative_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "numeric/convolve.h"
#include "test_images.h"

namespace lumet {
namespace {

TEST(DerivativeKernelSize, FollowsSixSigmaRuleMadeOdd) {
  EXPECT_EQ(DerivativeKernelSize(1.5), 11);
  EXPECT_EQ(DerivativeKernelSize(1.0), 7);
  EXPECT_EQ(DerivativeKernelSize(0.6), 5);  // ceil(3.6) = 4 -> 5
  EXPECT_EQ(DerivativeKernelSize(0.5), 5);  // 3 + 1 = 4, made odd
  EXPECT_EQ(DerivativeKernelSize(2.0), 13);
}

TEST(BuildDerivativeKernels, GaussianSumsToOneAndDerivativesAreAntisymmetric) {
  for (double sigma : {0.6, 1.0, 1.5}) {
    SCOPED_TRACE("sigma " + std::to_string(sigma));
    const int n = DerivativeKernelSize(sigma);
    const int h = n / 2;
    FloatMatrix g;
    FloatMatrix kx;
    FloatMatrix ky;
    BuildDerivativeKernels(sigma, n, g, kx, ky);
    ASSERT_EQ(g.Rows(), n);
    ASSERT_EQ(kx.Cols(), n);
    double sum = 0.0;
    for (int a = 0; a < n; ++a) {
      for (int b = 0; b < n; ++b) {
        sum += g[a][b];
        EXPECT_EQ(g[a][b], g[n - 1 - a][b]);
        EXPECT_EQ(g[a][b], g[a][n - 1 - b]);
        EXPECT_EQ(g[a][b], g[b][a]);
        EXPECT_EQ(kx[a][b], -kx[n - 1 - a][b]);
        EXPECT_EQ(ky[a][b], -ky[a][n - 1 - b]);
        // Kx varies with the first index (x), Ky with the second (y).
        EXPECT_EQ(kx[a][b], ky[b][a]);
      }
      EXPECT_EQ(kx[h][a], 0.0f);
      EXPECT_EQ(ky[a][h], 0.0f);
    }
    EXPECT_NEAR(sum, 1.0, 1e-6);
    // Correlation with Kx gives the negated derivative: positive weights at negative u.
    EXPECT_GT(kx[h - 1][h], 0.0f);
    // Kx keeps the unnormalised factor: -u/s2 * exp(-u^2/(2 s2)) / (6.28318 s2) at u = 1.
    const double s2 = static_cast<float>(sigma * sigma);
    EXPECT_NEAR(kx[h + 1][h], -1.0 / s2 * std::exp(-1.0 / (2 * s2)) / (6.28318 * s2), 1e-6);
  }
}

TEST(DerivativeFilters, RampGivesConstantInteriorAndMirroredBorders) {
  const int n = DerivativeKernelSize(1.0);
  FloatMatrix g;
  FloatMatrix kx;
  FloatMatrix ky;
  BuildDerivativeKernels(1.0, n, g, kx, ky);
  const GrayImage ramp = testing::MakeGray(20, 12, [](double x, double) { return x; });
  DoubleImage dx;
  DoubleImage dy;
  ConvolveMirror(ramp, dx, kx, n);
  ConvolveMirror(ramp, dy, ky, n);
  const double interior = dx.At(10, 6);
  EXPECT_LT(interior, 0.0);  // brightening towards larger x gives a negative response
  for (int y = 0; y < 12; ++y) {
    SCOPED_TRACE("row " + std::to_string(y));
    for (int x = 3; x <= 16; ++x) EXPECT_NEAR(dx.At(x, y), interior, 1e-9);
    EXPECT_NEAR(dx.At(0, y), 0.0, 1e-9);       // -i reflection: symmetric about column 0
    EXPECT_GT(std::fabs(dx.At(19, y)), 1e-3);  // the last column is repeated
    for (int x = 0; x < 20; ++x) EXPECT_NEAR(dy.At(x, y), 0.0, 1e-9);
  }
}

TEST(DerivativeFilters, ConstantImageGivesItselfAndZeroDerivatives) {
  const int n = DerivativeKernelSize(1.5);
  FloatMatrix g;
  FloatMatrix kx;
  FloatMatrix ky;
  BuildDerivativeKernels(1.5, n, g, kx, ky);
  const GrayImage flat = testing::MakeGray(16, 14, [](double, double) { return 77; });
  DoubleImage smooth;
  DoubleImage dx;
  ConvolveMirror(flat, smooth, g, n);
  ConvolveMirror(flat, dx, kx, n);
  for (int y = 0; y < 14; ++y) {
    for (int x = 0; x < 16; ++x) {
      EXPECT_NEAR(smooth.At(x, y), 77.0, 1e-4);
      EXPECT_NEAR(dx.At(x, y), 0.0, 1e-9);
    }
  }
}

DoubleImage NoiseDouble(int w, int h, uint32_t seed) {
  const GrayImage noise = testing::NoiseImage(w, h, seed);
  DoubleImage out;
  out.Create(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) out.At(x, y) = noise.Row(y)[x] * 0.37 - 20.0;
  }
  return out;
}

TEST(SmoothInterior, LeavesBandZeroAndMatchesTheDirectSumExactly) {
  // 230 x 200 with n = 11 is smoothed on several threads.
  for (const int n : {5, 11}) {
    for (const auto& size :
         {std::pair{37, 23}, std::pair{64, 48}, std::pair{11, 11}, std::pair{12, 30}, std::pair{230, 200}}) {
      SCOPED_TRACE("n " + std::to_string(n) + ", " + std::to_string(size.first) + " x " + std::to_string(size.second));
      FloatMatrix g;
      FloatMatrix kx;
      FloatMatrix ky;
      BuildDerivativeKernels(n == 5 ? 0.6 : 1.5, n, g, kx, ky);
      const DoubleImage source = NoiseDouble(size.first, size.second, 11u + static_cast<uint32_t>(n));
      DoubleImage fast;
      DoubleImage direct;
      SmoothInterior(source, fast, g, n);
      SmoothInteriorDirect(source, direct, g, n);
      const int h = n / 2;
      for (int y = 0; y < size.second; ++y) {
        for (int x = 0; x < size.first; ++x) {
          ASSERT_EQ(std::memcmp(&fast.At(x, y), &direct.At(x, y), sizeof(double)), 0) << x << "," << y;
          if (x < h || y < h || x >= size.first - h || y >= size.second - h) {
            ASSERT_EQ(fast.At(x, y), 0.0);
          }
        }
      }
      if (size.first > 2 * h && size.second > 2 * h) {
        EXPECT_NE(fast.At(h, h), 0.0);
      }
    }
  }
}

TEST(SmoothInterior, ImageSmallerThanKernelIsAllZero) {
  FloatMatrix g;
  FloatMatrix kx;
  FloatMatrix ky;
  BuildDerivativeKernels(1.5, 11, g, kx, ky);
  const DoubleImage source = NoiseDouble(10, 10, 5);
  DoubleImage out;
  SmoothInterior(source, out, g, 11);
  ASSERT_EQ(out.Width(), 10);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) EXPECT_EQ(out.At(x, y), 0.0);
  }
}

TEST(SmoothInterior, ReadsKernelFirstIndexAlongX) {
  // A kernel with a single tap at (a, b) = (h + 1, h) shifts the image by one column.
  FloatMatrix k(3, 3, 0.0f);
  k[2][1] = 1.0f;
  const DoubleImage source = NoiseDouble(8, 6, 3);
  DoubleImage out;
  SmoothInterior(source, out, k, 3);
  for (int y = 1; y < 5; ++y) {
    for (int x = 1; x < 7; ++x) EXPECT_EQ(out.At(x, y), source.At(x + 1, y));
  }
}

}  // namespace
}  // namespace lumet
