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
  std::vector<double> flat(values);
  m.CopyFrom(flat.data());
  return m;
}

TEST(MatrixTest, BothIndexViewsReachTheSameElement) {
  Matrix m;
  m.Allocate(2, 3);
  for (int k = 0; k < 6; ++k) m.Data()[k] = 10.0 + k;
  EXPECT_EQ(&m.At1(2, 3), &m.Flat1(6));
  EXPECT_EQ(&m.At1(2, 3), &m[1][2]);
  EXPECT_EQ(&m.At1(2, 3), &m.Data()[5]);
  EXPECT_EQ(m.At1(1, 1), 10.0);
  EXPECT_EQ(m.At1(2, 1), 13.0);  // row-major: the second row starts at element 3
  m.At1(1, 2) = -7.0;
  EXPECT_EQ(m[0][1], -7.0);
  EXPECT_EQ(m.Flat1(2), -7.0);
  EXPECT_EQ(m.Rows(), 2);
  EXPECT_EQ(m.Cols(), 3);
  EXPECT_EQ(m.Size(), 6);
}

TEST(MatrixTest, InverseFollowsGaussJordanWithoutPivoting) {
  {
    SCOPED_TRACE("diagonal");
    const Matrix inv = Inverse(Make(2, 2, {2, 0, 0, 4}));
    ASSERT_EQ(inv.Rows(), 2);
    ASSERT_EQ(inv.Cols(), 2);
    EXPECT_EQ(inv[0][0], 0.5);
    EXPECT_EQ(inv[1][1], 0.25);
    EXPECT_EQ(inv[0][1], 0.0);
    EXPECT_EQ(inv[1][0], 0.0);
    EXPECT_TRUE(std::signbit(inv[1][0]));  // (-1 / p) * 0
  }
  {
    SCOPED_TRACE("general 2x2");
    const Matrix inv = Inverse(Make(2, 2, {1, 2, 3, 4}));
    const double expected[2][2] = {{-2.0, 1.0}, {1.5, -0.5}};
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 2; ++j) EXPECT_NEAR(inv[i][j], expected[i][j], 1e-12) << i << "," << j;
    }
  }
  {
    SCOPED_TRACE("3x3 times its inverse");
    const Matrix a = Make(3, 3, {4, 1, 2, 1, 5, 3, 2, 3, 6});
    const Matrix p = Multiply(a, Inverse(a));
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(p[i][j], i == j ? 1.0 : 0.0, 1e-12) << i << "," << j;
    }
  }
  {
    SCOPED_TRACE("1x1");
    EXPECT_EQ(Inverse(Make(1, 1, {4})).At1(1, 1), 0.25);
    const Matrix zero = Inverse(Make(1, 1, {0}));
    EXPECT_TRUE(std::isinf(zero[0][0]));
    EXPECT_GT(zero[0][0], 0.0);
  }
  {
    SCOPED_TRACE("zero first pivot: no row exchange");
    const Matrix inv = Inverse(Make(2, 2, {0, 1, 1, 0}));
    ASSERT_EQ(inv.Rows(), 2);
    bool anyNonFinite = false;
    for (int k = 0; k < 4; ++k) anyNonFinite = anyNonFinite || !std::isfinite(inv.Data()[k]);
    EXPECT_TRUE(anyNonFinite);
  }
  {
    SCOPED_TRACE("empty");
    const Matrix inv = Inverse(Matrix());
    EXPECT_EQ(inv.Rows(), 0);
    EXPECT_EQ(inv.Cols(), 0);
    EXPECT_TRUE(inv.Empty());
  }
  {
    SCOPED_TRACE("argument is left alone");
    const Matrix a = Make(2, 2, {1, 2, 3, 4});
    (void)Inverse(a);
    EXPECT_EQ(a[1][0], 3.0);
  }
}

TEST(MatrixTest, ProductsAndTransposeHaveTheRightShapesAndSums) {
  const Matrix a = Make(2, 3, {1, 2, 3, 4, 5, 6});
  const Matrix b = Make(3, 2, {7, 8, 9, 10, 11, 12});
  const Matrix p = Multiply(a, b);
  ASSERT_EQ(p.Rows(), 2);
  ASSERT_EQ(p.Cols(), 2);
  EXPECT_EQ(p[0][0], 58.0);
  EXPECT_EQ(p[0][1], 64.0);
  EXPECT_EQ(p[1][0], 139.0);
  EXPECT_EQ(p[1][1], 154.0);

  {
    SCOPED_TRACE("ascending summation order");
    // 1e16 + 1 - 1e16 is 0 when added left to right, 1 in any other grouping.
    const Matrix row = Make(1, 3, {1e16, 1, -1e16});
    const Matrix ones = Make(3, 1, {1, 1, 1});
    EXPECT_EQ(Multiply(row, ones)[0][0], 0.0);
  }

  Vector x(3);
  x[0] = 1;
  x[1] = -1;
  x[2] = 2;
  const Vector y = Multiply(a, x);
  ASSERT_EQ(y.Size(), 2);
  EXPECT_EQ(y[0], 5.0);
  EXPECT_EQ(y.At1(2), 11.0);

  const Matrix row = Make(1, 3, {1, 2, 3});
  const Matrix col = Transpose(row);
  ASSERT_EQ(col.Rows(), 3);
  ASSERT_EQ(col.Cols(), 1);
  EXPECT_EQ(col[2][0], 3.0);
  const Matrix at = Transpose(a);
  EXPECT_EQ(at.Rows(), 3);
  EXPECT_EQ(at[2][1], 6.0);
  const Matrix back = Transpose(at);
  ASSERT_EQ(back.Rows(), 2);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(back.Data()[k], a.Data()[k]);
}

TEST(MatrixTest, AssignmentCopiesDeeplyAndReusesEqualShapes) {
  Matrix target = Make(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  {
    SCOPED_TRACE("self");
    Matrix& alias = target;
    target = alias;
    EXPECT_EQ(target[2][2], 9.0);
  }
  {
    SCOPED_TRACE("same shape reuses the storage");
    const double* storage = target.Data();
    const Matrix other = Make(3, 3, {9, 8, 7, 6, 5, 4, 3, 2, 1});
    target = other;
    EXPECT_EQ(target.Data(), storage);
    EXPECT_EQ(target[0][0], 9.0);
    EXPECT_NE(target.Data(), other.Data());
  }
  {
    SCOPED_TRACE("other shape re-allocates, rows follow");
    const Matrix wide = Make(2, 8, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    target = wide;
    EXPECT_EQ(target.Rows(), 2);
    EXPECT_EQ(target.Cols(), 8);
    EXPECT_EQ(target[1][0], 8.0);
    EXPECT_EQ(target.At1(2, 8), 15.0);
  }
  {
    SCOPED_TRACE("copies are independent");
    Matrix copy(target);
    copy[0][0] = 100.0;
    EXPECT_EQ(target[0][0], 0.0);
    std::vector<Matrix> sequence(3, copy);
    sequence[1][0][1] = -1.0;
    EXPECT_EQ(sequence[0][0][1], 1.0);
    EXPECT_EQ(sequence[2][0][0], 100.0);
  }
  {
    SCOPED_TRACE("empty source empties the target");
    target = Matrix();
    EXPECT_TRUE(target.Empty());
    EXPECT_EQ(target.Rows(), 0);
  }
  const FloatMatrix k(3, 3, 0.5f);
  EXPECT_EQ(k[2][2], 0.5f);
}

}  // namespace
}  // namespace lumet
