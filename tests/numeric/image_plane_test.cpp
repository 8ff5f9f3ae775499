#include "numeric/image_plane.h"

#include <gtest/gtest.h>

#include <utility>

#include "support/test_images.h"

namespace lumet {
namespace {

TEST(ImagePlaneTest, BadSizesEmptyThePlaneAndAMovedFromImageIsUsable) {
  GrayImage g;
  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}, std::pair{-3, 3}}) {
    ASSERT_TRUE(g.Create(4, 4));
    EXPECT_FALSE(g.Create(w, h));
    EXPECT_TRUE(g.Empty() && g.Width() == 0 && g.Height() == 0 && g.Stride() == 0) << w << " x " << h;
  }
  ColorGrayImage c;
  ASSERT_TRUE(c.Create(6, 5));
  ColorGrayImage moved = std::move(c);
  EXPECT_TRUE(c.Empty());       // NOLINT(bugprone-use-after-move): the state is defined
  ASSERT_TRUE(c.Create(2, 3));  // and the image is usable again
  EXPECT_EQ(c.channels[2].Height(), 3);
}

TEST(ImagePlaneTest, SampleInterpolatesAndClampsTheFarNeighbours) {
  GrayImage g;
  ASSERT_TRUE(g.Create(4, 3));
  g.Fill(0);
  g[1][2] = 10, g[1][3] = 20, g[2][2] = 30, g[2][3] = 50;
  // x, y and the value: inside, then on the last column (its own right neighbour) and the
  // last row (fy = 0 there).
  const double cases[][3] = {{2.5, 1.0, 15.0}, {2.25, 1.5, 0.5 * (12.5 + 35.0)}, {3.5, 1.0, 20.0}, {3.0, 2.0, 50.0},
                             {2.0, 2.0, 30.0}, {2.5, 2.0, 40.0},                 {2.0, 2.5, 30.0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(g.Sample(c[0], c[1]), c[2]) << c[0] << ", " << c[1];
}


TEST(ImagePlaneTest, APlaneKeepsABandOfRowsThroughCopiesMovesAndFills) {
  GrayImage g = testing::MakeGray(5, 10, [](int x, int y) { return 10 * y + x; });
  g.KeepRows(3, 4);
  EXPECT_EQ(g.Width(), 5);
  EXPECT_EQ(g.Height(), 10);
  EXPECT_EQ(g.FirstRow(), 3);
  EXPECT_EQ(g.HeldRows(), 4);
  EXPECT_FALSE(g.HoldsAllRows());
  EXPECT_EQ(g.Row(2), nullptr);
  EXPECT_EQ(g.Row(7), nullptr);
  EXPECT_EQ(g.Pixels(), g.Row(3));
  const GrayImage copy = g;  // NOLINT(performance-unnecessary-copy-initialization): the copy is under test
  for (int y = 3; y < 7; ++y) {
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(g.Row(y)[x], 10 * y + x);
      EXPECT_EQ(copy.Row(y)[x], 10 * y + x);
    }
  }
  EXPECT_EQ(copy.Row(2), nullptr);
  // A band asked beyond the rows held is clipped to them; a band outside them empties it.
  g.KeepRows(5, 20);
  EXPECT_EQ(g.FirstRow(), 5);
  EXPECT_EQ(g.HeldRows(), 2);
  EXPECT_EQ(g.Row(6)[4], 64);
  g.Fill(1);
  EXPECT_EQ(g.Row(5)[0], 1);
  GrayImage moved = std::move(g);
  EXPECT_EQ(moved.FirstRow(), 5);
  EXPECT_EQ(moved.Row(6)[1], 1);
  moved.KeepRows(0, 2);
  EXPECT_TRUE(moved.Empty());
  // Create makes a whole plane again; bands outside the plane are refused.
  ASSERT_TRUE(moved.Create(3, 3));
  EXPECT_TRUE(moved.HoldsAllRows());
  EXPECT_FALSE(moved.CreateRows(3, 3, 2, 2));
  EXPECT_FALSE(moved.CreateRows(3, 3, -1, 2));
}

}  // namespace
}  // namespace lumet
