#pragma once

#include "reconstruction/hr_geometry.h"

namespace lumet {

// The part of grid over a square of lrSide LR pixels around its centre (the whole grid
// along a side that is shorter): where a check solves or predicts on a small sample of the
// ROI instead of the whole of it.
inline HrGeometry CentredCrop(const HrGeometry& grid, int lrSide) {
  HrGeometry crop = grid;
  const int side = lrSide * grid.q;
  if (grid.width > side) {
    crop.width = side;
    crop.x0 = grid.x0 + (grid.width - side) / 2;
  }
  if (grid.height > side) {
    crop.height = side;
    crop.y0 = grid.y0 + (grid.height - side) / 2;
  }
  return crop;
}

}  // namespace lumet
