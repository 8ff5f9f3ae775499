#include "synth/quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "numeric/projection.h"
#include "synth/synth_test_support.h"
#include "util/error.h"

namespace lumet {
namespace {

using testing::MakeImage;

ColorGrayImage Pattern(int width, int height) {
  return MakeImage(width, height,
                   [](int ch, int x, int y) { return (x * 7 + y * 13 + ch * 50 + (x * y) % 17) % 200 + 20; });
}

TEST(Quality, PsnrOfIdenticalImagesIsInfinite) {
  const ColorGrayImage a = Pattern(20, 15);
  const double psnr = Psnr(a, a);
  EXPECT_TRUE(std::isinf(psnr) && psnr > 0);
}

TEST(Quality, PsnrOfAConstantOffsetIsExact) {
  const ColorGrayImage a = Pattern(20, 15);
  for (int offset : {1, 5, 20}) {
    SCOPED_TRACE(offset);
    const ColorGrayImage b = MakeImage(20, 15, [&](int ch, int x, int y) { return a.channels[ch][y][x] + offset; });
    EXPECT_NEAR(Psnr(a, b), 20.0 * std::log10(255.0 / offset), 1e-9);
    EXPECT_NEAR(Psnr(b, a), 20.0 * std::log10(255.0 / offset), 1e-9);
  }
  // An offset in one channel only counts over all three channels' samples.
  const ColorGrayImage c =
      MakeImage(20, 15, [&](int ch, int x, int y) { return a.channels[ch][y][x] + (ch == 2 ? 6 : 0); });
  EXPECT_NEAR(Psnr(a, c), 10.0 * std::log10(255.0 * 255.0 / (36.0 / 3.0)), 1e-9);
}

TEST(Quality, SsimIsOneForIdenticalImagesAndFollowsTheFormulaForConstants) {
  const ColorGrayImage a = Pattern(30, 24);
  EXPECT_NEAR(Ssim(a, a), 1.0, 1e-12);

  // Flat images: no variance, so every window gives (2 mx my + C1) / (mx^2 + my^2 + C1).
  const ColorGrayImage flatA = MakeImage(16, 12, [](int, int, int) { return 100; });
  const ColorGrayImage flatB = MakeImage(16, 12, [](int, int, int) { return 110; });
  const double c1 = (0.01 * 255) * (0.01 * 255);
  const double mx = 100.0;  // 0.299 + 0.587 + 0.114 = 1
  const double my = 110.0;
  EXPECT_NEAR(Ssim(flatA, flatB), (2 * mx * my + c1) / (mx * mx + my * my + c1), 1e-9);
}

TEST(Quality, SsimUsesTheLuminanceWeights) {
  // A change in blue alone moves the luminance by 0.114 of it, one in green by 0.587: the
  // green change must cost more.
  const ColorGrayImage a = Pattern(30, 24);
  const ColorGrayImage blue =
      MakeImage(30, 24, [&](int ch, int x, int y) { return a.channels[ch][y][x] + (ch == 2 && (x + y) % 2 ? 30 : 0); });
  const ColorGrayImage green =
      MakeImage(30, 24, [&](int ch, int x, int y) { return a.channels[ch][y][x] + (ch == 1 && (x + y) % 2 ? 30 : 0); });
  EXPECT_LT(Ssim(a, green), Ssim(a, blue));
  EXPECT_LT(Ssim(a, blue), 1.0);
  EXPECT_NEAR(Ssim(a, blue), Ssim(blue, a), 1e-12);
}

TEST(Quality, MismatchedOrTooSmallImagesAreRefused) {
  const ColorGrayImage a = Pattern(20, 15);
  const ColorGrayImage b = Pattern(15, 20);
  EXPECT_THROW(Psnr(a, b), Error);
  EXPECT_THROW(Ssim(a, b), Error);
  const ColorGrayImage tiny = Pattern(10, 40);
  EXPECT_THROW(Ssim(tiny, tiny), Error);
}

TEST(Quality, BicubicEnlargeReproducesRampsAndSamplesAtTheGridPositions) {
  // A linear ramp is reproduced exactly by the a = -0.5 kernel, so HR pixel (c, r) must
  // hold the ramp at ((c + x0) / s, (r + y0) / s), frame pixels beyond the ROI included.
  const ColorGrayImage frame = MakeImage(40, 30, [](int ch, int x, int y) { return 10 + 4 * x + 3 * y + ch; });
  const RoiRect roi{10, 5, 20, 12};
  for (double s : {3.0, 4.0}) {
    SCOPED_TRACE(s);
    const ColorGrayImage hr = BicubicEnlarge(frame, roi, s);
    ASSERT_EQ(hr.Width(), static_cast<int>(10 * s));
    ASSERT_EQ(hr.Height(), static_cast<int>(7 * s));
    for (int ch = 0; ch < 3; ++ch) {
      for (int r = 0; r < hr.Height(); ++r) {
        for (int c = 0; c < hr.Width(); ++c) {
          const double x = (c + roi.left * s) / s;
          const double y = (r + roi.top * s) / s;
          EXPECT_EQ(hr.channels[ch][r][c], static_cast<int>(std::floor(10 + 4 * x + 3 * y + ch + 0.5)))
              << c << "," << r;
        }
      }
    }
  }
}

TEST(Quality, BicubicEnlargeClampsAtTheFrameBorder) {
  // A ROI at the corner reads beyond the frame; the border pixels are repeated, so a flat
  // frame stays flat and nothing is read outside the image.
  const ColorGrayImage flat = MakeImage(12, 10, [](int ch, int, int) { return 50 + ch; });
  const ColorGrayImage hr = BicubicEnlarge(flat, RoiRect{0, 0, 12, 10}, 4.0);
  for (int ch = 0; ch < 3; ++ch) {
    for (int r = 0; r < hr.Height(); ++r) {
      for (int c = 0; c < hr.Width(); ++c) ASSERT_EQ(hr.channels[ch][r][c], 50 + ch);
    }
  }
  EXPECT_THROW(BicubicEnlarge(flat, RoiRect{4, 4, 13, 8}, 4.0), Error);
  EXPECT_THROW(BicubicEnlarge(flat, RoiRect{-1, 0, 5, 5}, 4.0), Error);
}

Matrix Shift(double tx, double ty) {
  Matrix h = IdentityHomography();
  h.At1(1, 3) = tx / HomographyUnit;
  h.At1(2, 3) = ty / HomographyUnit;
  return h;
}

TEST(Quality, RegistrationErrorMeasuresTheRoiCentreAndCorners) {
  const RoiRect roi{160, 100, 200, 140};
  const RegistrationDistance same = RegistrationError(Shift(1.5, 2), Shift(1.5, 2), roi);
  EXPECT_NEAR(same.mean, 0.0, 1e-12);
  EXPECT_NEAR(same.max, 0.0, 1e-12);

  const RegistrationDistance shifted = RegistrationError(IdentityHomography(), Shift(3, -2), roi);
  EXPECT_NEAR(shifted.mean, std::sqrt(13.0), 1e-9);
  EXPECT_NEAR(shifted.max, std::sqrt(13.0), 1e-9);

  // A zoom of 1 % about the origin moves the ROI's pixels by 1 % of their distance from it:
  // the far corner (199, 139) the most, the near corner (160, 100) the least.
  Matrix zoom = IdentityHomography();
  zoom.At1(1, 1) = zoom.At1(2, 2) = 1.01;
  const RegistrationDistance z = RegistrationError(IdentityHomography(), zoom, roi);
  EXPECT_NEAR(z.max, 0.01 * std::hypot(199.0, 139.0), 1e-9);
  const double expectedMean = 0.01 *
                              (std::hypot(179.5, 119.5) + std::hypot(160.0, 100.0) + std::hypot(199.0, 100.0) +
                               std::hypot(160.0, 139.0) + std::hypot(199.0, 139.0)) /
                              5.0;
  EXPECT_NEAR(z.mean, expectedMean, 1e-9);

  // A degenerate estimate (h33 = 0 and no perspective: every point at infinity) shows as
  // not-a-number, not as a small error.
  Matrix broken(3, 3, 0.0);
  const RegistrationDistance bad = RegistrationError(IdentityHomography(), broken, roi);
  EXPECT_TRUE(std::isnan(bad.max));
}

}  // namespace
}  // namespace lumet
