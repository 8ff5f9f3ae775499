// PixelMap (homographies in pixel units) and cubic convolution (taps and samples).
#include "numeric/pixel_map.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "numeric/cubic_kernel.h"
#include "numeric/projection.h"

namespace lumet {
namespace {

// A projective map in the file's units, every entry in play.
Matrix Projective() {
  Matrix h(3, 3, 0.0);
  const double values[9] = {1.02, 0.03, 2.5 / HomographyUnit, -0.01, 0.97, -1.25 / HomographyUnit,
                            4e-5 * HomographyUnit, -2e-5 * HomographyUnit, 1.0};
  h.CopyFrom(values);
  return h;
}

TEST(PixelMapTest, AppliesAsProjectPointAndRoundTripsTheFileUnits) {
  const Matrix h = Projective();
  const PixelMap map = PixelMapOf(h);
  for (const auto& [x, y] : {std::pair{0.0, 0.0}, {37.5, 12.0}, {320.0, 240.0}}) {
    SCOPED_TRACE(std::to_string(x) + ", " + std::to_string(y));
    double u = 0, v = 0;
    map.Apply(x, y, u, v);
    EXPECT_NEAR(u, ProjectPoint(h, x, y).u, 1e-9);
    EXPECT_NEAR(v, ProjectPoint(h, x, y).v, 1e-9);
  }
  const Matrix back = HomographyOf(map);
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(back.At1(i, j), h.At1(i, j), 1e-15 * (1 + std::fabs(h.At1(i, j))));
  }
  // Scaled as a whole, the map is the same homography: HomographyOf brings h33 back to 1.
  PixelMap scaled = map;
  for (auto& row : scaled.p) {
    for (double& e : row) e *= -3.0;
  }
  EXPECT_EQ(HomographyOf(scaled).At1(3, 3), 1.0);
  EXPECT_NEAR(HomographyOf(scaled).At1(1, 3), h.At1(1, 3), 1e-15);
}

TEST(PixelMapTest, ComposeIsOneAfterTheOtherAndTheAdjugateUndoesIt) {
  const PixelMap a = PixelMapOf(Projective());
  PixelMap b;
  b.p[0][2] = 4.0;   // a shift right by 4
  b.p[1][1] = 2.0;   // and a stretch of y by 2
  const PixelMap ab = Compose(a, b);
  double bu = 0, bv = 0, u = 0, v = 0, w = 0, z = 0;
  b.Apply(10.0, 7.0, bu, bv);
  EXPECT_EQ(bu, 14.0);
  EXPECT_EQ(bv, 14.0);
  a.Apply(bu, bv, u, v);
  ab.Apply(10.0, 7.0, w, z);
  EXPECT_NEAR(w, u, 1e-12);
  EXPECT_NEAR(z, v, 1e-12);

  PixelMap inverse;
  const double det = Adjugate(a, inverse);
  EXPECT_GT(det, 0.0);
  double x = 0, y = 0;
  inverse.Apply(u, v, x, y);  // the factor det cancels in the projective division
  EXPECT_NEAR(x, bu, 1e-9);
  EXPECT_NEAR(y, bv, 1e-9);
  const PixelMap identity = Compose(inverse, a);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(identity.p[i][j] / det, i == j ? 1.0 : 0.0, 1e-12) << i << j;
  }
}

TEST(CubicTapsTest, WeightsSumToOneReproduceRampsAndIndicesStayOnTheAxis) {
  for (const double t : {0.0, 0.25, 3.5, 6.999}) {
    SCOPED_TRACE(t);
    const CubicTaps taps = MakeCubicTaps(t, 12);
    double sum = 0.0;
    double ramp = 0.0;
    for (int i = 0; i < 4; ++i) {
      sum += taps.weight[i];
      ramp += taps.weight[i] * (3.0 * (static_cast<int>(t) - 1 + i) + 1.0);  // unclamped positions
    }
    EXPECT_NEAR(sum, 1.0, 1e-15);
    EXPECT_NEAR(ramp, 3.0 * t + 1.0, 1e-12);
  }
  // On a sample: all weight there.
  const CubicTaps on = MakeCubicTaps(5.0, 12);
  EXPECT_EQ(on.index[1], 5);
  EXPECT_EQ(on.weight[1], 1.0);
  EXPECT_EQ(on.weight[0], 0.0);
  EXPECT_EQ(on.weight[2], 0.0);
  EXPECT_EQ(on.weight[3], 0.0);
  // Near either end the indices are clamped to the axis.
  const CubicTaps first = MakeCubicTaps(0.5, 12);
  EXPECT_EQ(first.index[0], 0);
  EXPECT_EQ(first.index[1], 0);
  EXPECT_EQ(first.index[3], 2);
  const CubicTaps last = MakeCubicTaps(10.5, 12);
  EXPECT_EQ(last.index[0], 9);
  EXPECT_EQ(last.index[2], 11);
  EXPECT_EQ(last.index[3], 11);
}

TEST(CubicSampleTest, ReproducesAPlaneAndRepeatsTheEdges) {
  // A tilted plane 2x + 3y + 1 on 8 x 6 samples: reproduced inside, away from the edges.
  const auto plane = [](int i, int j) { return 2.0 * i + 3.0 * j + 1.0; };
  for (const auto& [x, y] : {std::pair{2.0, 2.0}, std::pair{3.25, 2.5}, std::pair{4.9, 1.1}}) {
    SCOPED_TRACE(testing::Message() << x << ", " << y);
    EXPECT_NEAR(CubicSample(x, y, 8, 6, plane), 2.0 * x + 3.0 * y + 1.0, 1e-12);
  }
  // On a sample: that sample exactly, whatever its neighbours.
  const auto bumpy = [](int i, int j) { return (i * 7 + j * 13) % 5 * 10.0; };
  EXPECT_EQ(CubicSample(3.0, 2.0, 8, 6, bumpy), bumpy(3, 2));
  // Beyond the first column the samples are column 0 repeated: a row that changes only
  // from column 1 on looks flat to the left of column 0.
  const auto step = [](int i, int) { return i >= 1 ? 100.0 : 0.0; };
  EXPECT_EQ(CubicSample(-1.5, 2.0, 8, 6, step), 0.0);
  // The x taps are those of MakeCubicTaps, rows summed first: a sample that varies only
  // along y gives the y interpolation of its column.
  const auto rows = [](int, int j) { return j == 3 ? 1.0 : 0.0; };
  const CubicTaps ty = MakeCubicTaps(2.6, 6);
  double expected = 0.0;
  for (int b = 0; b < 4; ++b) expected += ty.weight[b] * (ty.index[b] == 3 ? 1.0 : 0.0);
  EXPECT_DOUBLE_EQ(CubicSample(4.4, 2.6, 8, 6, rows), expected);
}

}  // namespace
}  // namespace lumet
