#include "raster/dib_raster.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace lumet {
namespace {

TEST(DibRasterTest, CreateLaysOutAPackedBottomUpBitmapOrFailsWithTheExactText) {
  DibRaster raster(0);
  const uint8_t* block = raster.Create(5, 3, 24, 1);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(raster.Stride(), 16);
  EXPECT_EQ(raster.BlockSize(), 88u);
  EXPECT_EQ(raster.Bits(), block + 40);
  // Offset, size and value of every info header field.
  const uint32_t fields[][3] = {{0, 4, 40},  {4, 4, 5},     {8, 4, 3},     {12, 2, 1}, {14, 2, 24}, {16, 4, 0},
                                {20, 4, 48}, {24, 4, 3780}, {28, 4, 3780}, {32, 4, 0}, {36, 4, 0}};
  for (const auto& [at, size, value] : fields) {
    uint32_t v = 0;
    for (uint32_t i = size; i-- > 0;) v = v << 8 | block[at + i];
    EXPECT_EQ(v, value) << "at " << at;
  }
  for (auto [w, stride] : {std::pair{1u, 4}, std::pair{4u, 12}, std::pair{7u, 24}, std::pair{8u, 24}}) {
    ASSERT_NE(raster.Create(w, 2, 24, 1), nullptr);
    EXPECT_EQ(raster.Stride(), stride) << w;
    EXPECT_EQ(raster.BlockSize(), 40u + 2u * static_cast<unsigned>(stride)) << w;
  }
  EXPECT_EQ(raster.Create(0, 10, 24, 1), nullptr);
  EXPECT_TRUE(raster.Empty());
  EXPECT_EQ(raster.LastError(), "DibRaster::Create : width and height must be greater than zero");
  EXPECT_EQ(raster.Create(10, 0, 24, 1), nullptr);
  EXPECT_EQ(raster.Create(0xFFFFFFFFu, 0xFFFFFFFFu, 24, 1), nullptr);
  EXPECT_TRUE(raster.Empty());
  EXPECT_EQ(raster.LastError(), "DibRaster::Create can't allocate memory");
}

TEST(DibRasterTest, SetPixelColorWritesBlueGreenRedAndIgnoresOutsidePixels) {
  DibRaster raster(0);
  ASSERT_NE(raster.Create(5, 3, 24, 1), nullptr);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) raster.SetPixelColor(x, y, 0x555555);
  }
  raster.SetPixelColor(0, 0, 0x0000FF);  // red, bottom-left on screen
  raster.SetPixelColor(4, 2, 0x030201);  // last pixel of the top row
  const auto bytes = [&] { return std::string(reinterpret_cast<const char*>(raster.Block()), raster.BlockSize()); };
  EXPECT_EQ(bytes().substr(40, 4), std::string("\0\0\xff\x55", 4));
  EXPECT_EQ(bytes().substr(40 + 2 * 16 + 12, 4), std::string("\3\2\1\0", 4));
  EXPECT_EQ(raster.GetPixelColor(4, 2), 0x030201u);
  const std::string before = bytes();
  for (auto [x, y] : {std::pair{-1, 0}, {5, 0}, {0, -1}, {0, 3}, {100000, 100000}}) {
    raster.SetPixelColor(x, y, 0x090909);
    EXPECT_EQ(raster.GetPixelColor(x, y), 0u);
  }
  EXPECT_EQ(bytes(), before);
  DibRaster().SetPixelColor(0, 0, 1);  // no block: nothing happens
}

}  // namespace
}  // namespace lumet
