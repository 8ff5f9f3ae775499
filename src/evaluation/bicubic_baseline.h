#pragma once

#include "numeric/image_plane.h"
#include "numeric/roi_rect.h"

namespace lumet {

// The baseline a reconstruction should beat: the ROI of frame 0 enlarged to the HR grid
// (G x H, origin x0, y0 as the reconstruction computes them) by cubic convolution
// (a = -0.5). HR pixel (c, r) is interpolated at the LR position ((c + x0) / s,
// (r + y0) / s) from the 4 x 4 frame pixels around it, frame pixels beyond the ROI
// included, indices clamped at the frame border; rounded to the nearest level and clamped
// to 0 .. 255. lumet::Error when the ROI is not inside the frame.
ColorGrayImage BicubicEnlarge(const ColorGrayImage& frame0, const RoiRect& roi, double scale);

}  // namespace lumet
