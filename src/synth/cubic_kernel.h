#pragma once

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

}  // namespace lumet
