#include "reconstruction/psf_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "util/error.h"

namespace lumet {
namespace {

TEST(PsfKernelTest, SizeIsSixSigmaScalePlusOneMadeOddAndAtLeastSeven) {
  struct Row {
    double sigma;
    double scale;
    int n;
  };
  const Row table[] = {{1.0, 3.0, 19}, {1.0, 4.0, 25}, {0.5, 3.0, 11}, {0.5, 4.0, 13},
                       {0.3, 3.0, 7},  {0.2, 3.0, 7},  {0.6, 4.0, 17}, {0.05, 4.0, 7}};
  for (const Row& row : table) {
    SCOPED_TRACE("sigma " + std::to_string(row.sigma) + " scale " + std::to_string(row.scale));
    EXPECT_EQ(PsfKernelSize(row.sigma, row.scale), row.n);
    int n = 0;
    const FloatMatrix k = MakePsfKernel(row.sigma, row.scale, n);
    EXPECT_EQ(n, row.n);
    EXPECT_EQ(k.Rows(), row.n);
    EXPECT_EQ(k.Cols(), row.n);
  }
}

TEST(PsfKernelTest, KernelIsASymmetricNormalisedGaussianOnTheHrGrid) {
  for (const double sigma : {0.2, 0.6, 1.0}) {
    for (const double scale : {3.0, 4.0}) {
      SCOPED_TRACE("sigma " + std::to_string(sigma) + " scale " + std::to_string(scale));
      int n = 0;
      const FloatMatrix k = MakePsfKernel(sigma, scale, n);
      const int h = n / 2;
      double sum = 0.0;
      for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
          sum += k[a][b];
          EXPECT_EQ(k[a][b], k[b][a]);
          EXPECT_EQ(k[a][b], k[n - 1 - a][b]);
          EXPECT_EQ(k[a][b], k[a][n - 1 - b]);
        }
      }
      EXPECT_NEAR(sum, 1.0, 1e-5);
      // The ratio of neighbouring taps is that of a Gaussian of standard deviation
      // sigma * scale HR pixels.
      const double v = sigma * scale * sigma * scale;
      EXPECT_NEAR(k[h + 1][h] / k[h][h], std::exp(-1.0 / (2.0 * v)), 1e-5);
      EXPECT_NEAR(k[h + 1][h + 1] / k[h][h], std::exp(-2.0 / (2.0 * v)), 1e-5);
      EXPECT_GT(k[h][h], k[h + 1][h]);
    }
  }
}

TEST(PsfKernelTest, SigmaThatIsNotPositiveIsRefusedNamingTheValue) {
  for (const double sigma :
       {0.0, -0.5, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e12}) {
    SCOPED_TRACE("sigma " + std::to_string(sigma));
    try {
      PsfKernelSize(sigma, 4.0);
      FAIL() << "accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("psfSigma"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace lumet
