#pragma once

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// The estimate of another frame of the same scene (a video's previous output frame) that a
// method may start from instead of its own first guess: its planes (red, green, blue, grey
// levels as doubles) on its own HR grid, and the homography from the reference frame's
// positions to that frame's (ProjectPoint's units). A method that takes it starts from it
// carried onto the reference's grid wherever it reaches; a method may ignore it.
struct SeedEstimate {
  const ColorDoubleImage* estimate = nullptr;
  HrGeometry grid;
  Matrix toSeed;
};

}  // namespace lumet
