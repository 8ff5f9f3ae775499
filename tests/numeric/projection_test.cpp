#include "numeric/projection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

#include "numeric/random.h"

namespace lumet {
namespace {

TEST(ProjectionTest, IdentityAndShift) {
  const Matrix identity = IdentityHomography();
  for (auto [x, y] : {std::pair{0.0, 0.0}, std::pair{17.25, 3.5}, std::pair{639.0, 479.0}}) {
    SCOPED_TRACE(std::to_string(x) + ", " + std::to_string(y));
    const ProjectedPoint p = ProjectPoint(identity, x, y);
    EXPECT_DOUBLE_EQ(p.u, x);
    EXPECT_DOUBLE_EQ(p.v, y);

    Matrix shift = IdentityHomography();
    shift.At1(1, 3) = 2.5 / HomographyUnit;
    shift.At1(2, 3) = -4.0 / HomographyUnit;
    const ProjectedPoint s = ProjectPoint(shift, x, y);
    EXPECT_NEAR(s.u, x + 2.5, 1e-9);
    EXPECT_NEAR(s.v, y - 4.0, 1e-9);
  }
}

TEST(ProjectionTest, PerspectiveRowDividesInUnitsOf600) {
  // Coordinates are divided by 600: h31 = 1 doubles the denominator at x = 600, so
  // (600, 300) -> (300, 150).
  Matrix m = IdentityHomography();
  m.At1(3, 1) = 1.0;
  const ProjectedPoint p = ProjectPoint(m, 600.0, 300.0);
  EXPECT_NEAR(p.u, 300.0, 1e-9);
  EXPECT_NEAR(p.v, 150.0, 1e-9);

  // A zero denominator is not tested: the position is not finite.
  Matrix degenerate = IdentityHomography();
  degenerate.At1(3, 3) = 0.0;
  const ProjectedPoint z = ProjectPoint(degenerate, 0.0, 0.0);
  EXPECT_FALSE(std::isfinite(z.u));
}

TEST(RandomTest, ClassicSequenceFromStateOne) {
  LcgRandom random;
  const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (int value : expected) EXPECT_EQ(random.Next(), value);
  random.Reset();
  EXPECT_EQ(random.Next(), 41);
  LcgRandom other;
  other.Reset(12345);
  for (int i = 0; i < 1000; ++i) {
    const int v = other.Next();
    ASSERT_GE(v, 0);
    ASSERT_LE(v, LcgRandom::kMax);
  }
}

}  // namespace
}  // namespace lumet
