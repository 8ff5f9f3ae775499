#pragma once

#include <string>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "registration/direct/direct_alignment.h"
#include "registration/registration_options.h"

namespace lumet {

// The enhanced registration's step after the classic estimate of frame k: where the
// classic search did not run or accepted no trial (e1 says so), a coarse direct search
// offers a second start; the direct photometric refinement of all eight entries runs from
// each start and the better end is kept, `log` saying which start it was. A refinement
// that diverges keeps its start and `log` says so. Returns the RoiMae of the homography h
// ends with. Touches nothing but its arguments, so frames may be refined in parallel.
double RefineDirectly(const GrayImage& reference, const GrayImage& frame, Matrix& h, double e1, double e2, int k,
                      const RegistrationOptions& options, std::string& log);
// The same with the reference's pyramid for options.roi built once for every frame.
double RefineDirectly(const GrayImage& reference, const AlignmentPyramid& referencePyramid, const GrayImage& frame,
                      Matrix& h, double e1, double e2, int k, const RegistrationOptions& options, std::string& log);

}  // namespace lumet
