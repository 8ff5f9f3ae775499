#pragma once

#include "numeric/homography_unit.h"
#include "numeric/matrix.h"

namespace lumet {

// A 3 x 3 map from reference-frame pixel positions to LR-frame positions, addressed
// 1-based as hij. It acts on coordinates divided by HomographyUnit and its result is
// multiplied by HomographyUnit again.
using Homography = Matrix;

struct ProjectedPoint {
  double u = 0.0;
  double v = 0.0;
};

// d = h31 x + h32 y + 600 h33; u = 600 (h11 x + h12 y + 600 h13) / d, likewise v.
// No test of d: a zero d gives a non-finite position, which every caller's range test
// rejects.
inline ProjectedPoint ProjectPoint(const Matrix& m, double x, double y) {
  const double d = m.At1(3, 1) * x + m.At1(3, 2) * y + HomographyUnit * m.At1(3, 3);
  ProjectedPoint p;
  p.u = HomographyUnit * (m.At1(1, 1) * x + m.At1(1, 2) * y + HomographyUnit * m.At1(1, 3)) / d;
  p.v = HomographyUnit * (m.At1(2, 1) * x + m.At1(2, 2) * y + HomographyUnit * m.At1(2, 3)) / d;
  return p;
}

// The 3 x 3 identity.
Matrix IdentityHomography();

}  // namespace lumet
