#include "numeric/image_plane.h"

#include <cmath>
#include <cstdlib>

namespace lumet {

double GrayImage::Sample(double x, double y) const {
  const int ix = static_cast<int>(std::floor(x));
  const int iy = static_cast<int>(std::floor(y));
  const double fx = x - ix;
  const double fy = y - iy;
  const int xl = std::abs(ix);
  int xr = ix + 1;
  if (xr >= Width()) xr = Width() - 1;
  const int yt = std::abs(iy);
  int yb = iy + 1;
  if (yb >= Height()) yb = Height() - 1;
  const uint8_t* top = Row(yt);
  const uint8_t* bottom = Row(yb);
  const double t = (1.0 - fx) * top[xl] + fx * top[xr];
  const double b = (1.0 - fx) * bottom[xl] + fx * bottom[xr];
  return (1.0 - fy) * t + fy * b;
}

}  // namespace lumet
