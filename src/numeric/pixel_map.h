#pragma once

#include "numeric/matrix.h"
#include "numeric/projection.h"

namespace lumet {

// A homography as a plain 3 x 3 map in pixel units, rows acting on (x, y, 1):
// (x, y) -> ((p00 x + p01 y + p02) / d, (p10 x + p11 y + p12) / d), d = p20 x + p21 y + p22.
// Code that composes, inverts or iterates on homographies works in this form and converts
// at the file's units only on the way in and out.
struct PixelMap {
  double p[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

  // No test of d: callers that can meet a vanishing d test the result themselves.
  void Apply(double x, double y, double& u, double& v) const {
    const double d = p[2][0] * x + p[2][1] * y + p[2][2];
    u = (p[0][0] * x + p[0][1] * y + p[0][2]) / d;
    v = (p[1][0] * x + p[1][1] * y + p[1][2]) / d;
  }
};

// a after b: the map x -> a(b(x)).
inline PixelMap Compose(const PixelMap& a, const PixelMap& b) {
  PixelMap m;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m.p[i][j] = a.p[i][0] * b.p[0][j] + a.p[i][1] * b.p[1][j] + a.p[i][2] * b.p[2][j];
  }
  return m;
}

// The adjugate: the inverse times the determinant, which is returned. A projective map does
// not mind the factor; a caller that needs the true inverse divides by it.
inline double Adjugate(const PixelMap& a, PixelMap& m) {
  const auto& p = a.p;
  m.p[0][0] = p[1][1] * p[2][2] - p[1][2] * p[2][1];
  m.p[0][1] = p[0][2] * p[2][1] - p[0][1] * p[2][2];
  m.p[0][2] = p[0][1] * p[1][2] - p[0][2] * p[1][1];
  m.p[1][0] = p[1][2] * p[2][0] - p[1][0] * p[2][2];
  m.p[1][1] = p[0][0] * p[2][2] - p[0][2] * p[2][0];
  m.p[1][2] = p[0][2] * p[1][0] - p[0][0] * p[1][2];
  m.p[2][0] = p[1][0] * p[2][1] - p[1][1] * p[2][0];
  m.p[2][1] = p[0][1] * p[2][0] - p[0][0] * p[2][1];
  m.p[2][2] = p[0][0] * p[1][1] - p[0][1] * p[1][0];
  return p[0][0] * m.p[0][0] + p[0][1] * m.p[1][0] + p[0][2] * m.p[2][0];
}

// From the units of ProjectPoint (h13, h23 times 1/600, h31, h32 times 600) to pixel units.
inline PixelMap PixelMapOf(const Matrix& h) {
  PixelMap m;
  m.p[0][0] = h.At1(1, 1);
  m.p[0][1] = h.At1(1, 2);
  m.p[0][2] = h.At1(1, 3) * HomographyUnit;
  m.p[1][0] = h.At1(2, 1);
  m.p[1][1] = h.At1(2, 2);
  m.p[1][2] = h.At1(2, 3) * HomographyUnit;
  m.p[2][0] = h.At1(3, 1) / HomographyUnit;
  m.p[2][1] = h.At1(3, 2) / HomographyUnit;
  m.p[2][2] = h.At1(3, 3);
  return m;
}

// Back to the units of ProjectPoint, scaled so that h33 = 1.
inline Matrix HomographyOf(const PixelMap& map) {
  const auto& p = map.p;
  const double n = p[2][2];
  Matrix h(3, 3, 0.0);
  h.At1(1, 1) = p[0][0] / n;
  h.At1(1, 2) = p[0][1] / n;
  h.At1(1, 3) = p[0][2] / n / HomographyUnit;
  h.At1(2, 1) = p[1][0] / n;
  h.At1(2, 2) = p[1][1] / n;
  h.At1(2, 3) = p[1][2] / n / HomographyUnit;
  h.At1(3, 1) = p[2][0] / n * HomographyUnit;
  h.At1(3, 2) = p[2][1] / n * HomographyUnit;
  h.At1(3, 3) = 1.0;
  return h;
}

}  // namespace lumet
