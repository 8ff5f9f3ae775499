#pragma once

#include <cstddef>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// Rows first .. first + count - 1 of a frame.
struct RowBand {
  int first = 0;
  int count = 0;
};

// The rows of a frame of frameHeight rows that a reconstruction on the grid reads: those
// under the grid's outline carried onto the frame by the homography (reference positions to
// the frame's, in the homography file's units), with a margin for the interpolation and
// the filters around each sample. Every row when the outline does not map to a bounded
// quadrilateral.
RowBand RowsUnderGrid(const Matrix& homography, const HrGeometry& grid, int frameHeight);

// Releases every row of the frame's channels a reconstruction on the grid does not read
// (the mask is not kept), and of its deep planes: a small region of many large frames then
// holds a band of each.
void KeepRowsUnderGrid(ColorGrayImage& frame, const Matrix& homography, const HrGeometry& grid);

// The bytes the three channels of a frame of width x height hold after KeepRowsUnderGrid
// (with deep planes, their floats too).
size_t BytesUnderGrid(const Matrix& homography, const HrGeometry& grid, int width, int height, bool deep = false);

}  // namespace lumet
