#pragma once

#include <functional>
#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/hr_geometry.h"
#include "stages/frame_warning.h"

namespace lumet {

// Each frame's error against the reference on the HR grid: frame k's green channel warped
// through homographies[k] onto grid and compared with frames[0]'s (FrameMae). Frames are
// measured in parallel; the reference's own error is FrameMae of its plane with itself.
// Not a number for a frame whose homography shows nothing of the ROI.
std::vector<double> MeasureFrameErrors(const std::vector<ColorGrayImage>& frames,
                                       const std::vector<Matrix>& homographies, const HrGeometry& grid);

// A frame that shows nothing of the ROI through its homography (an absurd or damaged one)
// has no error against the reference; the classic selection stops at the first such frame,
// so the user hears which frames they are instead of finding a result from fewer frames.
// One warning per such frame after the first of errors, detail(k) naming where its
// homography came from ("" for nothing).
std::vector<FrameWarning> FramesWithoutError(const std::vector<double>& errors,
                                             const std::function<std::string(int)>& detail);

}  // namespace lumet
