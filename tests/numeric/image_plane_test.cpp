#include "numeric/image_plane.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lumet {
namespace {

// A gray plane whose pixel (x, y) holds 10 * x + y.
GrayImage Ramp(int w, int h) {
  GrayImage g;
  EXPECT_TRUE(g.Create(w, h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) g[y][x] = static_cast<uint8_t>(10 * x + y);
  }
  return g;
}

TEST(ImagePlaneTest, CreateSetsRowsOnFourByteStrides) {
  GrayImage g;
  ASSERT_TRUE(g.Create(5, 2));
  EXPECT_EQ(g.Stride(), 8);
  EXPECT_EQ(g.Row(1) - g.Row(0), 8);
  EXPECT_EQ(g.Pixels(), g.Row(0));

  DoubleImage d;
  ASSERT_TRUE(d.Create(5, 2));
  EXPECT_EQ(d.Stride(), 40);
  EXPECT_EQ(reinterpret_cast<const char*>(d.Row(1)) - reinterpret_cast<const char*>(d.Row(0)), 40);
  d.At(4, 1) = 2.5;
  EXPECT_EQ(d[1][4], 2.5);

  MaskImage m;
  ASSERT_TRUE(m.Create(1, 3));
  EXPECT_EQ(m.Stride(), 4);
  ASSERT_TRUE(m.Create(4, 1));
  EXPECT_EQ(m.Stride(), 4);
}

TEST(ImagePlaneTest, NonPositiveSizesEmptyThePlane) {
  GrayImage g = Ramp(4, 4);
  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}, std::pair{-3, 3}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    g = Ramp(4, 4);
    EXPECT_FALSE(g.Create(w, h));
    EXPECT_TRUE(g.Empty());
    EXPECT_EQ(g.Width(), 0);
    EXPECT_EQ(g.Height(), 0);
    EXPECT_EQ(g.Stride(), 0);
  }
}

TEST(ImagePlaneTest, AssignmentCopiesPixelsAndEmptySourceEmpties) {
  const GrayImage source = Ramp(3, 2);
  GrayImage target = Ramp(7, 7);
  target = source;
  ASSERT_EQ(target.Width(), 3);
  ASSERT_EQ(target.Height(), 2);
  EXPECT_NE(target.Pixels(), source.Pixels());
  EXPECT_EQ(target[1][2], 21);
  target[1][2] = 0;
  EXPECT_EQ(source[1][2], 21);

  std::vector<GrayImage> frames(2, source);
  EXPECT_EQ(frames[1][0][1], 10);

  target = GrayImage();
  EXPECT_TRUE(target.Empty());
}

TEST(ImagePlaneTest, SampleInterpolatesAndClampsTheFarNeighbours) {
  GrayImage g;
  ASSERT_TRUE(g.Create(4, 3));
  g.Fill(0);
  g[1][2] = 10;
  g[1][3] = 20;
  g[2][2] = 30;
  g[2][3] = 50;
  {
    SCOPED_TRACE("between columns 2 and 3");
    EXPECT_DOUBLE_EQ(g.Sample(2.5, 1.0), 15.0);
    EXPECT_DOUBLE_EQ(g.Sample(2.25, 1.5), 0.5 * (12.5 + 35.0));
  }
  {
    SCOPED_TRACE("last column: right neighbour is the column itself");
    EXPECT_DOUBLE_EQ(g.Sample(3.5, 1.0), 20.0);
    EXPECT_DOUBLE_EQ(g.Sample(3.0, 2.0), 50.0);
  }
  {
    SCOPED_TRACE("last row: fy = 0 there");
    EXPECT_DOUBLE_EQ(g.Sample(2.0, 2.0), 30.0);
    EXPECT_DOUBLE_EQ(g.Sample(2.5, 2.0), 40.0);
    EXPECT_DOUBLE_EQ(g.Sample(2.0, 2.5), 30.0);
  }
  {
    SCOPED_TRACE("ramp");
    const GrayImage r = Ramp(6, 5);
    EXPECT_DOUBLE_EQ(r.Sample(1.75, 2.5), 10 * 1.75 + 2.5);
    EXPECT_DOUBLE_EQ(r.Sample(5.5, 4.0), 54.0);
  }
}

TEST(ImagePlaneTest, ColorImageCreatesFourPlanes) {
  ColorGrayImage c;
  ASSERT_EQ(c.channels.size(), 3u);
  EXPECT_TRUE(c.Empty());
  EXPECT_EQ(c.levels, 256);
  EXPECT_EQ(c.flag, 0);
  ASSERT_TRUE(c.Create(6, 5));
  for (const auto& ch : c.channels) {
    EXPECT_EQ(ch.Width(), 6);
    EXPECT_EQ(ch.Height(), 5);
  }
  EXPECT_EQ(c.mask.Width(), 6);
  EXPECT_EQ(c.mask.Height(), 5);

  ColorDoubleImage d;
  EXPECT_EQ(d.levels, 65536);
  ASSERT_TRUE(d.Create(2, 2));
  d.channels[1].At(1, 1) = 3.0;
  ColorDoubleImage copy = d;
  copy.channels[1].At(1, 1) = 4.0;
  EXPECT_EQ(d.channels[1].At(1, 1), 3.0);

  {
    SCOPED_TRACE("a moved-from image is usable again");
    ColorGrayImage moved = std::move(c);
    EXPECT_EQ(moved.Width(), 6);
    EXPECT_EQ(c.Width(), 0);  // NOLINT(bugprone-use-after-move): the state is defined
    EXPECT_TRUE(c.Empty());
    ASSERT_TRUE(c.Create(2, 3));
    EXPECT_EQ(c.channels.size(), 3u);
    EXPECT_EQ(c.channels[2].Height(), 3);
  }
}

}  // namespace
}  // namespace lumet
