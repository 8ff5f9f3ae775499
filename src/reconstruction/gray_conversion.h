#pragma once

#include "numeric/image_plane.h"
#include "numeric/roi_rect.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// target = offset + (gain * value truncated toward zero), clamped to 0 .. 255 (a value
// that is not a number gives 0). target is re-created at the source's size.
void ConvertToGray(const DoubleImage& source, GrayImage& target, int offset, double gain);

// All three channels with offset 0 and gain 1.
void ConvertToGray(const ColorDoubleImage& source, ColorGrayImage& target);

// The ROI of frame enlarged to the HR grid by pixel replication: HR pixel (c, r) is the
// frame's pixel at column left + floor(c / s), row top + floor(r / s). The ROI must lie
// inside the frame.
void EnlargeByReplication(const ColorGrayImage& frame, const RoiRect& roi, const HrGeometry& grid,
                          ColorGrayImage& target);

}  // namespace lumet
