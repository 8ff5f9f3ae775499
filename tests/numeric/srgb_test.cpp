#include "numeric/srgb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumet {
namespace {

// Points of the standard's table: 8-bit codes and their linear values as the standard's
// formula gives them (computed independently to 10 digits).
TEST(Srgb, MatchesTheStandardsCurve) {
  struct Point {
    double encoded;
    double linear;
  };
  const Point points[] = {{0.0, 0.0},
                          {10.0 / 255, 0.0030352698},   // linear piece
                          {11.0 / 255, 0.0033465358},   // first code above the knee
                          {0.5, 0.2140411405},
                          {128.0 / 255, 0.2158605001},
                          {200.0 / 255, 0.5775804404},
                          {1.0, 1.0}};
  for (const Point& p : points) {
    SCOPED_TRACE(p.encoded);
    EXPECT_NEAR(SrgbDecode(p.encoded), p.linear, 1e-9);
    EXPECT_NEAR(SrgbEncode(p.linear), p.encoded, 1e-8);
  }
  // The table is the curve at every code.
  const auto& table = SrgbDecodeTable();
  for (int i = 0; i < 256; ++i) EXPECT_DOUBLE_EQ(table[static_cast<size_t>(i)], SrgbDecode(i / 255.0)) << i;
  EXPECT_DOUBLE_EQ(SrgbDecodeLevel(128.0), 255.0 * table[128]);
  EXPECT_NEAR(SrgbEncodeLevel(SrgbDecodeLevel(77.0)), 77.0, 1e-9);
}

// Both ways invert each other, both are monotone, slopes match finite differences, and the
// continuations beyond 0 .. 1 stay finite.
TEST(Srgb, RoundTripMonotoneAndContinued) {
  double lastDecoded = -std::numeric_limits<double>::infinity();
  double lastEncoded = lastDecoded;
  for (int i = -3000; i <= 6000; ++i) {
    const double v = i / 2000.0;  // -1.5 .. 3
    SCOPED_TRACE(v);
    const double d = SrgbDecode(v);
    const double e = SrgbEncode(v);
    ASSERT_TRUE(std::isfinite(d) && std::isfinite(e));
    EXPECT_NEAR(SrgbEncode(d), v, kSrgbRoundTrip * std::max(1.0, std::fabs(v)));
    EXPECT_NEAR(SrgbDecode(e), v, kSrgbRoundTrip * std::max(1.0, std::fabs(v)));
    EXPECT_GT(d, lastDecoded);
    EXPECT_GE(e, lastEncoded);
    lastDecoded = d;
    lastEncoded = e;
    // Mirrored below 0.
    EXPECT_DOUBLE_EQ(SrgbDecode(-v), -d);
    EXPECT_DOUBLE_EQ(SrgbEncode(-v), -e);
    // Away from the knee, where the slope steps, the slope is the curve's.
    if (std::fabs(std::fabs(v) - 0.04045) > 1e-3 && std::fabs(std::fabs(v) - 1.0) > 1e-3) {
      const double h = 1e-6;
      EXPECT_NEAR(SrgbDecodeSlope(v), (SrgbDecode(v + h) - SrgbDecode(v - h)) / (2 * h), 1e-5);
      if (std::fabs(v) > 0.004) {
        EXPECT_NEAR(SrgbEncodeSlope(v), (SrgbEncode(v + h) - SrgbEncode(v - h)) / (2 * h), 1e-4 * SrgbEncodeSlope(v));
      }
    }
  }
  // Above white it goes on along the tangent: a straight line.
  EXPECT_NEAR(SrgbDecode(3.0) - SrgbDecode(2.0), SrgbDecode(2.0) - SrgbDecode(1.0), 1e-12);
  EXPECT_NEAR(SrgbDecodeSlope(2.0), SrgbDecodeSlope(1.0), 1e-12);
  // At the knee the two pieces step by less than kSrgbKneeGap, and the inverse keeps to it.
  const double step = SrgbDecode(0.04045 + 1e-15) - SrgbDecode(0.04045);
  EXPECT_GT(step, 0.0);
  EXPECT_LT(step, kSrgbKneeGap);
  const double inStep = SrgbDecode(0.04045) + 0.5 * step;
  EXPECT_NEAR(SrgbDecode(SrgbEncode(inStep)), inStep, kSrgbKneeGap);
  // A not-a-number stays one; infinities stay infinite.
  EXPECT_TRUE(std::isnan(SrgbDecode(std::nan(""))));
  EXPECT_TRUE(std::isnan(SrgbEncode(std::nan(""))));
  EXPECT_EQ(SrgbDecode(HUGE_VAL), HUGE_VAL);
  EXPECT_EQ(SrgbEncode(-HUGE_VAL), -HUGE_VAL);
}

}  // namespace
}  // namespace lumet
