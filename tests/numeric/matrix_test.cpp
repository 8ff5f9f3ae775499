#include "numeric/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

namespace lumet {
namespace {

Matrix Make(int rows, int cols, std::initializer_list<double> values) {
  Matrix m;
  m.Allocate(rows, cols);
  m.CopyFrom(std::vector<double>(values).data());
  return m;
}

TEST(MatrixTest, BothIndexViewsReachTheSameElementAndProductsSumInAscendingOrder) {
  Matrix m = Make(2, 3, {10, 11, 12, 13, 14, 15});
  EXPECT_EQ(&m.At1(2, 3), &m.Flat1(6));
  EXPECT_EQ(&m.At1(2, 3), &m[1][2]);
  EXPECT_EQ(m.At1(2, 1), 13.0);  // row-major: the second row starts at element 3
  m.At1(1, 2) = -7.0;
  EXPECT_EQ(m[0][1], -7.0);
  // 1e16 + 1 - 1e16 is 0 when added left to right, 1 in any other grouping.
  EXPECT_EQ(Multiply(Make(1, 3, {1e16, 1, -1e16}), Make(3, 1, {1, 1, 1}))[0][0], 0.0);
}

TEST(MatrixTest, InverseFollowsGaussJordanWithoutPivoting) {
  const Matrix diagonal = Inverse(Make(2, 2, {2, 0, 0, 4}));
  EXPECT_EQ(diagonal[0][0], 0.5);
  EXPECT_EQ(diagonal[1][1], 0.25);
  EXPECT_TRUE(diagonal[1][0] == 0.0 && std::signbit(diagonal[1][0]));  // (-1 / p) * 0
  const Matrix general = Inverse(Make(2, 2, {1, 2, 3, 4}));
  const double expected[] = {-2.0, 1.0, 1.5, -0.5};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(general.Data()[k], expected[k], 1e-12) << k;
  const Matrix a = Make(3, 3, {4, 1, 2, 1, 5, 3, 2, 3, 6});
  const Matrix p = Multiply(a, Inverse(a));
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(p.Data()[k], k % 4 == 0 ? 1.0 : 0.0, 1e-12) << k;
  EXPECT_EQ(a[1][0], 1.0);  // the argument is left alone
  EXPECT_EQ(Inverse(Make(1, 1, {0}))[0][0], INFINITY);
  // A zero first pivot: no row exchange, so the result is not finite.
  const Matrix swap = Inverse(Make(2, 2, {0, 1, 1, 0}));
  ASSERT_EQ(swap.Rows(), 2);
  EXPECT_FALSE(std::isfinite(swap[0][0]) && std::isfinite(swap[0][1]) && std::isfinite(swap[1][0]) &&
               std::isfinite(swap[1][1]));
  EXPECT_TRUE(Inverse(Matrix()).Empty());
}

}  // namespace
}  // namespace lumet
