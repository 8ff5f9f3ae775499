#pragma once

#include <algorithm>
#include <cmath>

namespace lumet {

// The cubic convolution kernel with a = -0.5 (Catmull-Rom): weight of a sample at
// distance d from the interpolation position. Reproduces constants and linear ramps.
inline double CubicKernel(double d) {
  constexpr double a = -0.5;
  d = std::fabs(d);
  if (d <= 1.0) return ((a + 2.0) * d - (a + 3.0)) * d * d + 1.0;
  if (d < 2.0) return ((a * d - 5.0 * a) * d + 8.0 * a) * d - 4.0 * a;
  return 0.0;
}

// The four weights for the samples at floor(t) - 1 .. floor(t) + 2, f = t - floor(t).
inline void CubicWeights(double f, double w[4]) {
  w[0] = CubicKernel(1.0 + f);
  w[1] = CubicKernel(f);
  w[2] = CubicKernel(1.0 - f);
  w[3] = CubicKernel(2.0 - f);
}

// The four samples cubic convolution takes at position t on an axis of n samples: indices
// floor(t) - 1 .. floor(t) + 2 clamped to 0 .. n - 1, and their weights.
struct CubicTaps {
  int index[4];
  double weight[4];
};
inline CubicTaps MakeCubicTaps(double t, int n) {
  const double f = std::floor(t);
  CubicTaps taps;
  CubicWeights(t - f, taps.weight);
  for (int i = 0; i < 4; ++i) taps.index[i] = std::clamp(static_cast<int>(f) - 1 + i, 0, n - 1);
  return taps;
}

// Cubic convolution at (x, y) of a width x height grid whose sample (i, j) is at(i, j), the
// edge samples repeated outward: each of the four rows summed from 0, then the rows.
template <typename At>
double CubicSample(double x, double y, int width, int height, At at) {
  const CubicTaps tx = MakeCubicTaps(x, width);
  const CubicTaps ty = MakeCubicTaps(y, height);
  double v = 0.0;
  for (int b = 0; b < 4; ++b) {
    double across = 0.0;
    for (int a = 0; a < 4; ++a) across += tx.weight[a] * at(tx.index[a], ty.index[b]);
    v += ty.weight[b] * across;
  }
  return v;
}

}  // namespace lumet
