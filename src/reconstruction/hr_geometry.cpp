#include "reconstruction/hr_geometry.h"

namespace lumet {

HrGeometry MakeHrGeometry(const RoiRect& roi, double scale) {
  HrGeometry g;
  g.scale = scale;
  g.q = static_cast<int>(scale);
  g.width = static_cast<int>(static_cast<double>(roi.right - roi.left) * scale);
  g.height = static_cast<int>(static_cast<double>(roi.bottom - roi.top) * scale);
  g.x0 = static_cast<int>(static_cast<double>(roi.left) * scale);
  g.y0 = static_cast<int>(static_cast<double>(roi.top) * scale);
  return g;
}

Matrix LrFormOnHrInput(const Matrix& homography, double scale) {
  Matrix a = homography;
  a.At1(1, 1) /= scale;
  a.At1(1, 2) /= scale;
  a.At1(2, 1) /= scale;
  a.At1(2, 2) /= scale;
  a.At1(3, 1) /= scale;
  a.At1(3, 2) /= scale;
  return a;
}

Matrix HrForm(const Matrix& homography, double scale) {
  Matrix d(3, 3, 0.0);
  d[0][0] = scale;
  d[1][1] = scale;
  d[2][2] = 1.0;
  Matrix e(3, 3, 0.0);
  e[0][0] = 1.0 / scale;
  e[1][1] = 1.0 / scale;
  e[2][2] = 1.0;
  return Multiply(Multiply(d, homography), e);
}

}  // namespace lumet
