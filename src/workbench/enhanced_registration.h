#pragma once

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "params/param_set.h"
#include "workbench/ui_port.h"

namespace lumet {

// The enhanced registration's step after the classic estimate of frame k: where the
// classic search did not run or accepted no trial (e1 says so), a coarse direct search
// offers another start and the better of the two (by RoiMae) is kept; then the direct
// photometric refinement of all eight entries. A refinement that diverges keeps the start
// and says so in the log, as does a start from the direct search. Returns the RoiMae of
// the homography h ends with.
double RefineDirectly(const GrayImage& reference, const GrayImage& frame, Matrix& h, double e1, double e2, int k,
                      const ParamSet& p, UiPort& ui);

}  // namespace lumet
