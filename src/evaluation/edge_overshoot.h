#pragma once

#include "numeric/image_plane.h"

namespace lumet {

// How far a result rings past the edges of a reference that has no rims of its own (frame
// 0 enlarged by cubic convolution, or the truth): on the luminance Y = (R + 2G + B) / 4, at
// every pixel within `reach` pixels of an edge of the reference (a central difference of at
// least kEdgeStep levels per pixel), how far the result lies below the least (dark) or above
// the greatest (bright) reference value within `reach` pixels. Measured in grey levels.
struct EdgeOvershoot {
  int pixels = 0;         // pixels measured
  double meanDark = 0.0;  // mean over them (0 where the result stays inside)
  double meanBright = 0.0;
  double worstDark = 0.0;  // the 99th percentile
  double worstBright = 0.0;
};

inline constexpr double kEdgeStep = 8.0;

// lumet::Error when the sizes differ or the images are empty.
EdgeOvershoot MeasureEdgeOvershoot(const ColorGrayImage& result, const ColorGrayImage& reference, int reach);

}  // namespace lumet
