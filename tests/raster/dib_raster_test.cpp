#include "raster/dib_raster.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "util/error.h"

namespace lumet {
namespace {

uint32_t U32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
         static_cast<uint32_t>(b[3]) << 24;
}
uint16_t U16(const uint8_t* b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }

uint32_t Rgb(int r, int g, int b) {
  return static_cast<uint32_t>(r) | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b) << 16;
}

TEST(DibRasterTest, CreateLaysOutAPackedBottomUpBitmap) {
  DibRaster raster(0);
  EXPECT_TRUE(raster.Empty());
  EXPECT_EQ(raster.Block(), nullptr);
  const uint8_t* block = raster.Create(5, 3, 24, 1);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block, raster.Block());
  EXPECT_EQ(raster.Stride(), 16);
  EXPECT_EQ(raster.BlockSize(), 88u);
  EXPECT_EQ(raster.Bits(), block + 40);
  EXPECT_EQ(raster.FormatTag(), 1u);
  EXPECT_EQ(U32(block + 0), 40u);
  EXPECT_EQ(U32(block + 4), 5u);
  EXPECT_EQ(U32(block + 8), 3u);
  EXPECT_EQ(U16(block + 12), 1u);
  EXPECT_EQ(U16(block + 14), 24u);
  EXPECT_EQ(U32(block + 16), 0u);
  EXPECT_EQ(U32(block + 20), 48u);
  EXPECT_EQ(U32(block + 24), 3780u);
  EXPECT_EQ(U32(block + 28), 3780u);
  EXPECT_EQ(U32(block + 32), 0u);
  EXPECT_EQ(U32(block + 36), 0u);

  for (auto [w, stride] : {std::pair{1u, 4}, std::pair{4u, 12}, std::pair{7u, 24}, std::pair{8u, 24}}) {
    SCOPED_TRACE(w);
    ASSERT_NE(raster.Create(w, 2, 24, 1), nullptr);
    EXPECT_EQ(raster.Stride(), stride);
    EXPECT_EQ(raster.BlockSize(), 40u + 2u * static_cast<unsigned>(stride));
  }
}

TEST(DibRasterTest, SetPixelColorWritesBlueGreenRedAndIgnoresOutsidePixels) {
  DibRaster raster(0);
  ASSERT_NE(raster.Create(5, 3, 24, 1), nullptr);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) raster.SetPixelColor(x, y, Rgb(0x55, 0x55, 0x55));
  }
  raster.SetPixelColor(0, 0, 255);  // pure red, bottom-left on screen
  const uint8_t* b = raster.Block();
  EXPECT_EQ(b[40], 0);
  EXPECT_EQ(b[41], 0);
  EXPECT_EQ(b[42], 255);
  EXPECT_EQ(b[43], 0x55);

  raster.SetPixelColor(4, 2, Rgb(1, 2, 3));  // last pixel of the top row
  EXPECT_EQ(b[40 + 2 * 16 + 12], 3);
  EXPECT_EQ(b[40 + 2 * 16 + 13], 2);
  EXPECT_EQ(b[40 + 2 * 16 + 14], 1);
  EXPECT_EQ(raster.GetPixelColor(4, 2), Rgb(1, 2, 3));
  EXPECT_EQ(raster.GetPixelColor(0, 0), Rgb(255, 0, 0));

  const std::string before(reinterpret_cast<const char*>(b), raster.BlockSize());
  for (auto [x, y] : {std::pair{-1, 0}, std::pair{5, 0}, std::pair{0, -1}, std::pair{0, 3}, std::pair{100000, 100000}}) {
    raster.SetPixelColor(x, y, Rgb(9, 9, 9));
    EXPECT_EQ(raster.GetPixelColor(x, y), 0u);
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), raster.BlockSize()), before);

  DibRaster empty;
  empty.SetPixelColor(0, 0, 1);  // no block: nothing happens
  EXPECT_TRUE(empty.Empty());
}

TEST(DibRasterTest, ZeroSizeCreateFailsWithTheExactText) {
  DibRaster raster(0);
  ASSERT_NE(raster.Create(4, 4, 24, 1), nullptr);
  EXPECT_EQ(raster.Create(0, 10, 24, 1), nullptr);
  EXPECT_TRUE(raster.Empty());
  EXPECT_EQ(raster.Width(), 0);
  EXPECT_EQ(raster.LastError(), "DibRaster::Create : width and height must be greater than zero");
  EXPECT_EQ(raster.Create(10, 0, 24, 1), nullptr);

  DibRaster huge(0);
  EXPECT_EQ(huge.Create(0xFFFFFFFFu, 0xFFFFFFFFu, 24, 1), nullptr);
  EXPECT_TRUE(huge.Empty());
  EXPECT_EQ(huge.LastError(), "DibRaster::Create can't allocate memory");
  EXPECT_TRUE(huge.Destroy());
}

TEST(DibRasterTest, AssignmentCopiesTheWholeBlock) {
  DibRaster source(0);
  ASSERT_NE(source.Create(4, 4, 24, 1), nullptr);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) source.SetPixelColor(x, y, Rgb(x, y, x * y));
  }
  DibRaster target(0);
  ASSERT_NE(target.Create(10, 2, 24, 1), nullptr);
  target = source;
  ASSERT_EQ(target.Width(), 4);
  ASSERT_EQ(target.Height(), 4);
  ASSERT_EQ(target.BlockSize(), source.BlockSize());
  EXPECT_NE(target.Block(), source.Block());
  EXPECT_EQ(std::memcmp(target.Block(), source.Block(), source.BlockSize()), 0);
  EXPECT_EQ(target.GetPixelColor(3, 2), Rgb(3, 2, 6));

  DibRaster copy(source);
  EXPECT_EQ(std::memcmp(copy.Block(), source.Block(), source.BlockSize()), 0);

  DibRaster& alias = target;
  target = alias;  // self-assignment keeps the block
  EXPECT_EQ(target.GetPixelColor(3, 2), Rgb(3, 2, 6));

  target = DibRaster(0);  // an empty source empties the target
  EXPECT_TRUE(target.Empty());
  EXPECT_EQ(target.Block(), nullptr);
}

TEST(DibRasterTest, ImagesGoInUprightAndComeBack) {
  ColorGrayImage image;
  ASSERT_TRUE(image.Create(3, 2));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      image.channels[0][y][x] = static_cast<uint8_t>(10 * x + y);
      image.channels[1][y][x] = static_cast<uint8_t>(100 + y);
      image.channels[2][y][x] = static_cast<uint8_t>(200 + x);
    }
  }
  DibRaster raster(0);
  ImageToRaster(image, raster);
  ASSERT_EQ(raster.Width(), 3);
  ASSERT_EQ(raster.Height(), 2);
  EXPECT_EQ(raster.FormatTag(), 1u);
  // Raster row 0 is the bottom of the picture: image row 1.
  EXPECT_EQ(raster.GetPixelColor(0, 0), Rgb(1, 101, 200));
  EXPECT_EQ(raster.GetPixelColor(2, 1), Rgb(20, 100, 202));
  const uint8_t* bits = raster.Bits();
  EXPECT_EQ(bits[0], 200);  // blue of image pixel (0, 1)
  EXPECT_EQ(bits[2], 1);    // red

  ColorGrayImage back;
  RasterToImage(raster, back);
  ASSERT_EQ(back.Width(), 3);
  ASSERT_EQ(back.Height(), 2);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) EXPECT_EQ(back.channels[c][y][x], image.channels[c][y][x]) << c << "," << x << "," << y;
    }
  }

  {
    SCOPED_TRACE("CopyToRaster into a created raster");
    DibRaster r2(0);
    ASSERT_NE(r2.Create(3, 2, 24, 1), nullptr);
    CopyToRaster(r2, image, 3, 2);
    EXPECT_EQ(std::memcmp(r2.Block(), raster.Block(), raster.BlockSize()), 0);
    EXPECT_THROW(CopyToRaster(r2, image, 4, 2), Error);
  }
  {
    SCOPED_TRACE("empty image, empty raster");
    ImageToRaster(ColorGrayImage(), raster);
    EXPECT_TRUE(raster.Empty());
    RasterToImage(raster, back);
    EXPECT_TRUE(back.Empty());
  }
}

}  // namespace
}  // namespace lumet
