#include "reconstruction/enhanced/codec_blocks.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "support/test_images.h"

namespace lumet {
namespace {

// A textured frame with noise of sigma `noise` grey levels.
ColorGrayImage Noisy(int width, int height, double noise, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> normal(0.0, noise);
  return testing::MakeColor(width, height,
                            [&](int c, int x, int y) { return testing::BlobScene(x + 5.0 * c, y) + normal(random); });
}

// Every 4 x 4 block of every channel replaced by its plane.
void PlaneFit(ColorGrayImage& frame) {
  for (GrayImage& plane : frame.channels) {
    for (int by = 0; by + 4 <= plane.Height(); by += 4) {
      for (int bx = 0; bx + 4 <= plane.Width(); bx += 4) testing::FitBlockPlane(plane, bx, by);
    }
  }
}

TEST(CodecBlocks, ACamerasNoiseLeavesNoBlockSmoothWhereACodecsRoundingLeavesMost) {
  const RoiRect all{0, 0, 32, 32};
  for (double noise : {2.0, 4.0}) {
    SCOPED_TRACE(noise);
    ColorGrayImage frame = Noisy(32, 32, noise, 3);
    BlockCount raw;
    CountSmoothBlocks(frame, all, raw);
    EXPECT_EQ(raw.blocks, 3u * 64u);
    EXPECT_LT(raw.smooth, raw.blocks / 100 + 1);
    PlaneFit(frame);
    BlockCount coded;
    CountSmoothBlocks(frame, all, coded);
    EXPECT_GT(coded.smooth, coded.blocks / 2);
  }
}

TEST(CodecBlocks, ClippedBlocksAndRowsTheFrameDoesNotHoldAreNotCounted) {
  ColorGrayImage frame = testing::MakeColor(16, 16, [](int c, int x, int) { return c == 0 && x < 8 ? 255.0 : 100.0; });
  BlockCount count;
  CountSmoothBlocks(frame, {0, 0, 16, 16}, count);
  // Red's left half is clipped; every other block is flat, and smooth.
  EXPECT_EQ(count.blocks, 3u * 16u - 8u);
  EXPECT_EQ(count.smooth, count.blocks);
  // Only whole blocks on the frame's own grid inside the box: columns 4 .. 11, rows 0 .. 7.
  BlockCount inner;
  CountSmoothBlocks(frame, {2, 0, 13, 8}, inner);
  EXPECT_EQ(inner.blocks, 2u * 2u * 3u - 2u);

  ColorGrayImage band;
  band.channels.resize(3);
  for (GrayImage& plane : band.channels) {
    ASSERT_TRUE(plane.CreateRows(16, 16, 4, 8));  // rows 4 .. 11 held
    for (int y = 4; y < 12; ++y) {
      for (int x = 0; x < 16; ++x) plane.Row(y)[x] = 90;
    }
  }
  BlockCount held;
  CountSmoothBlocks(band, {0, 0, 16, 16}, held);
  EXPECT_EQ(held.blocks, 3u * 2u * 4u);
}

TEST(CodecBlocks, HalfAPerCentOfSmoothBlocksLooksCompressedWhereTheFramesDifferByTwoGreyLevels) {
  EXPECT_TRUE(SmoothBlocksLookCompressed({1000, 5}, 2.0));
  EXPECT_FALSE(SmoothBlocksLookCompressed({1000, 4}, 2.0));
  // Frames with next to no noise are smooth wherever their scene is.
  EXPECT_FALSE(SmoothBlocksLookCompressed({1000, 500}, 1.9));
  EXPECT_FALSE(SmoothBlocksLookCompressed({0, 0}, 3.0));
  EXPECT_FALSE(SmoothBlocksLookCompressed({1000, 500}, std::numeric_limits<double>::quiet_NaN()));  // a frame alone
}

TEST(CodecBlocks, TheRegionGrowsASmallRoiAboutItsCentreAndStaysInsideTheFrame) {
  const RoiRect small = BlockRegion(MakeHrGeometry({100, 50, 110, 60}, 1.0), 320, 240);
  EXPECT_EQ(small.right - small.left, 64);
  EXPECT_EQ(small.bottom - small.top, 64);
  EXPECT_EQ(small.left, 105 - 32);
  const RoiRect corner = BlockRegion(MakeHrGeometry({0, 0, 10, 10}, 1.0), 320, 240);
  EXPECT_EQ(corner.left, 0);
  EXPECT_EQ(corner.right, 64);
  const RoiRect tiny = BlockRegion(MakeHrGeometry({2, 2, 12, 12}, 1.0), 40, 30);
  EXPECT_EQ(tiny.left, 0);
  EXPECT_EQ(tiny.right, 40);
  EXPECT_EQ(tiny.bottom, 30);
  const RoiRect large = BlockRegion(MakeHrGeometry({10, 20, 200, 120}, 1.0), 320, 240);
  EXPECT_EQ(large.left, 10);
  EXPECT_EQ(large.right, 200);
  EXPECT_EQ(large.top, 20);
  EXPECT_EQ(large.bottom, 120);
  const RoiRect whole = BlockRegion(MakeHrGeometry({0, 0, 1280, 720}, 1.0), 1280, 720);
  EXPECT_EQ(whole.left, 640 - 128);
  EXPECT_EQ(whole.right - whole.left, 256);
  EXPECT_EQ(whole.bottom - whole.top, 256);
}

}  // namespace
}  // namespace lumet
