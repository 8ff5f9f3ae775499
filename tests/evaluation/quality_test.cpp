#include "evaluation/quality.h"

#include <gtest/gtest.h>

#include <cmath>

#include "evaluation/bicubic_baseline.h"
#include "evaluation/registration_error.h"
#include "numeric/projection.h"
#include "support/test_images.h"
#include "util/error.h"

namespace lumet {
namespace {

int Pattern(int ch, int x, int y) { return (x * 7 + y * 13 + ch * 50 + (x * y) % 17) % 200 + 20; }

TEST(Quality, IdenticalImagesAndAKnownConstantOffset) {
  const ColorGrayImage a = testing::MakeColor(30, 24, Pattern);
  EXPECT_TRUE(std::isinf(Psnr(a, a)) && Psnr(a, a) > 0);
  EXPECT_NEAR(Ssim(a, a), 1.0, 1e-12);
  for (int offset : {1, 5, 20}) {
    SCOPED_TRACE(offset);
    const ColorGrayImage b = testing::MakeColor(30, 24, [=](int ch, int x, int y) { return Pattern(ch, x, y) + offset; });
    EXPECT_NEAR(Psnr(a, b), 20.0 * std::log10(255.0 / offset), 1e-9);
    EXPECT_NEAR(Psnr(b, a), 20.0 * std::log10(255.0 / offset), 1e-9);
  }
  // An offset in one channel counts over all three channels' samples.
  const ColorGrayImage c =
      testing::MakeColor(30, 24, [](int ch, int x, int y) { return Pattern(ch, x, y) + (ch == 2 ? 6 : 0); });
  EXPECT_NEAR(Psnr(a, c), 10.0 * std::log10(255.0 * 255.0 / (36.0 / 3.0)), 1e-9);
  // Mismatched sizes, or smaller than the SSIM window, are refused.
  const ColorGrayImage turned = testing::MakeColor(24, 30, Pattern);
  const ColorGrayImage tiny = testing::MakeColor(10, 40, Pattern);
  EXPECT_THROW(Psnr(a, turned), Error);
  EXPECT_THROW(Ssim(a, turned), Error);
  EXPECT_THROW(Ssim(tiny, tiny), Error);
}

TEST(Quality, DemoBaselinesStayInsideTheFrameAndShowDegenerateEstimates) {
  // A ROI at the corner reads beyond the frame: the border is repeated, so flat stays flat.
  const ColorGrayImage flat = testing::MakeColor(12, 10, [](int ch, int, int) { return 50 + ch; });
  const ColorGrayImage hr = BicubicEnlarge(flat, RoiRect{0, 0, 12, 10}, 4.0);
  ASSERT_EQ(hr.Width(), 48);
  for (int ch = 0; ch < 3; ++ch) {
    for (int r = 0; r < hr.Height(); ++r) {
      for (int c = 0; c < hr.Width(); ++c) ASSERT_EQ(hr.channels[ch][r][c], 50 + ch);
    }
  }
  EXPECT_THROW(BicubicEnlarge(flat, RoiRect{4, 4, 13, 8}, 4.0), Error);
  EXPECT_THROW(BicubicEnlarge(flat, RoiRect{-1, 0, 5, 5}, 4.0), Error);
  // The (3, -2) shift is sqrt(13) off everywhere; h33 = 0 and no perspective puts every point
  // at infinity, which must show as not a number, not as a small error.
  const RoiRect roi{160, 100, 200, 140};
  Matrix shift = IdentityHomography();
  shift.At1(1, 3) = 3.0 / HomographyUnit;
  shift.At1(2, 3) = -2.0 / HomographyUnit;
  EXPECT_NEAR(RegistrationError(IdentityHomography(), shift, roi).mean, std::sqrt(13.0), 1e-9);
  EXPECT_NEAR(RegistrationError(IdentityHomography(), shift, roi).max, std::sqrt(13.0), 1e-9);
  EXPECT_TRUE(std::isnan(RegistrationError(IdentityHomography(), Matrix(3, 3, 0.0), roi).max));
}

}  // namespace
}  // namespace lumet
