#pragma once

#include "numeric/matrix.h"
#include "numeric/roi_rect.h"

namespace lumet {

// The high-resolution grid of the region of interest. HR pixel (column c, row r) has the
// absolute HR coordinates (c + x0, r + y0); divided by the scale they are reference-frame
// LR positions, pixel centres at integers, so HR pixel (0, 0) is LR pixel (left, top).
struct HrGeometry {
  int width = 0;   // G
  int height = 0;  // H
  int x0 = 0;
  int y0 = 0;
  double scale = 0.0;  // s
  int q = 0;           // s as an integer
};

// Hole filling needs a 5 x 5 window inside the grid.
inline constexpr int kMinHrGridSize = 5;

// G, H, x0 and y0 as double products of the ROI and the scale, truncated toward zero.
// The ROI is expected inside the reference frame (callers check), so nothing overflows.
HrGeometry MakeHrGeometry(const RoiRect& roi, double scale);

// A_k: the homography of frame k taking absolute HR positions to frame k's LR pixel grid:
// h11, h12, h21, h22, h31 and h32 divided by the scale, the third column kept.
Matrix LrFormOnHrInput(const Matrix& homography, double scale);

// B_k = diag(s, s, 1) * H_k * diag(1/s, 1/s, 1): absolute HR positions to frame k's
// positions at HR scale.
Matrix HrForm(const Matrix& homography, double scale);

}  // namespace lumet
