#pragma once

#include <string>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "numeric/roi_rect.h"

namespace lumet {

// The iteration limit the registration refines with.
inline constexpr int kRefinementIterations = 200;

// Normalised-gradient descent of RoiMae over h11, h12, h21, h22 (the other entries are
// kept exactly). Each iteration logs "i E0\n" (E0 the score of the current h, "%g") into
// log, which is cleared first. A worse step (or one whose score is not a number) is undone
// and the step shrunk by 0.6, ending the descent below 0.00001 with E0; an improvement
// below 0.00005 ends it with the new score; at maxIter the last update's score is returned
// (E0 when it was not a number). When E0 is not a number or the gradient is zero the
// descent stops at once and returns E0 with h unchanged. maxIter < 1 returns 0. h must
// be 3 x 3 (lumet::Error otherwise).
double RefineHomography(const GrayImage& reference, const GrayImage& frame, Matrix& h, const RoiRect& roi, int maxIter,
                        std::string& log);

}  // namespace lumet
