#include "reconstruction/gray_conversion.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "test_images.h"

namespace lumet {
namespace {

using testing::MakeDouble;
using testing::MakeFrame;

TEST(GrayConversionTest, TruncatesTowardZeroAndClamps) {
  const double values[] = {
      -300.0, -0.9, 0.0, 0.99, 1.0, 127.5, 254.999, 255.0, 255.7, 1e300, std::numeric_limits<double>::quiet_NaN()};
  const int expected[] = {0, 0, 0, 0, 1, 127, 254, 255, 255, 255, 0};
  const DoubleImage source = MakeDouble(11, 1, [&](int x, int) { return values[x]; });
  GrayImage target;
  ConvertToGray(source, target, 0, 1.0);
  ASSERT_EQ(target.Width(), 11);
  ASSERT_EQ(target.Height(), 1);
  for (int x = 0; x < 11; ++x) EXPECT_EQ(target[0][x], expected[x]) << "value " << values[x];

  // Offset and gain: 10 + trunc(2 * v).
  ConvertToGray(MakeDouble(3, 1, [](int x, int) { return x == 0 ? -2.7 : x == 1 ? 3.3 : 200.0; }), target, 10, 2.0);
  EXPECT_EQ(target[0][0], 5);    // 10 + trunc(-5.4) = 5
  EXPECT_EQ(target[0][1], 16);   // 10 + trunc(6.6)
  EXPECT_EQ(target[0][2], 255);  // 410 clamped
}

TEST(GrayConversionTest, ReplicationRepeatsEachRoiPixelScaleTimes) {
  const ColorGrayImage frame = MakeFrame(9, 8, [](int c, int x, int y) { return x * 20 + y + c * 3; });
  const RoiRect roi{2, 3, 5, 7};
  for (double s : {3.0, 4.0}) {
    SCOPED_TRACE("scale " + std::to_string(s));
    const HrGeometry grid = MakeHrGeometry(roi, s);
    ColorGrayImage picture;
    EnlargeByReplication(frame, roi, grid, picture);
    const int q = static_cast<int>(s);
    ASSERT_EQ(picture.Width(), 3 * q);
    ASSERT_EQ(picture.Height(), 4 * q);
    for (int c = 0; c < 3; ++c) {
      for (int r = 0; r < 4 * q; ++r) {
        for (int x = 0; x < 3 * q; ++x) {
          ASSERT_EQ(picture.channels[static_cast<size_t>(c)][r][x],
                    frame.channels[static_cast<size_t>(c)][roi.top + r / q][roi.left + x / q]);
        }
      }
    }
  }
}

}  // namespace
}  // namespace lumet
