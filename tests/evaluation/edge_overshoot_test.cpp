#include "evaluation/edge_overshoot.h"

#include <gtest/gtest.h>

#include "support/expect_error.h"
#include "support/test_images.h"

namespace lumet {
namespace {

// A grey step from 60 to 180 at x = 10 on a 20 x 8 grey image.
ColorGrayImage Step() {
  return testing::MakeColor(20, 8, [](int, int x, int) { return x < 10 ? 60 : 180; });
}

TEST(EdgeOvershoot, ARimDarkerThanTheEdgeIsMeasuredAndTheEdgeItselfIsNot) {
  const ColorGrayImage reference = Step();
  {
    SCOPED_TRACE("the reference itself");
    const EdgeOvershoot m = MeasureEdgeOvershoot(reference, reference, 2);
    EXPECT_GT(m.pixels, 0);
    EXPECT_EQ(m.meanDark, 0.0);
    EXPECT_EQ(m.meanBright, 0.0);
  }
  {
    // A dark rim of 20 levels on the column before the step, a bright one of 10 after it.
    const ColorGrayImage ringing = testing::MakeColor(20, 8, [](int, int x, int) {
      return x == 9 ? 40 : x == 10 ? 190 : x < 10 ? 60 : 180;
    });
    SCOPED_TRACE("ringing");
    const EdgeOvershoot m = MeasureEdgeOvershoot(ringing, reference, 2);
    EXPECT_EQ(m.worstDark, 20.0);
    EXPECT_EQ(m.worstBright, 10.0);
    // One column of eight pixels each, over the pixels within 2 of the edge columns.
    EXPECT_NEAR(m.meanDark, 20.0 * 8 / m.pixels, 1e-12);
    EXPECT_NEAR(m.meanBright, 10.0 * 8 / m.pixels, 1e-12);
  }
  {
    // Far from any edge a dark spot is not an overshoot of an edge.
    const ColorGrayImage spot = testing::MakeColor(20, 8, [](int, int x, int y) {
      return x == 1 && y == 4 ? 0 : x < 10 ? 60 : 180;
    });
    SCOPED_TRACE("a spot away from the edge");
    EXPECT_EQ(MeasureEdgeOvershoot(spot, reference, 2).meanDark, 0.0);
  }
}

TEST(EdgeOvershoot, RefusesImagesOfDifferentSizes) {
  testing::ExpectError([] { MeasureEdgeOvershoot(testing::MakeColor(4, 4, [](int, int, int) { return 0; }), Step(), 1); },
                       {"one size"});
}

}  // namespace
}  // namespace lumet
