#pragma once

#include <cstddef>

#include "reconstruction/hr_geometry.h"
#include "reconstruction/reconstruction_method.h"
#include "reconstruction/reconstruction_options.h"

namespace lumet {

// Refuses (lumet::Error naming what it needs) a reconstruction on grid whose peak would pass
// limit, and gives the method what the limit leaves it in options.memoryLimit. Beside the
// method: the program, the frames (frameBytes), the first frame's picture and its grey
// levels, and the frame errors' warped frames (one green channel per thread beside frame 0's;
// watched, two whole layers). byBand: the caller takes the estimate band by band.
void CheckReconstructionMemory(const ReconstructionMethod& method, ReconstructionOptions& options,
                               const HrGeometry& grid, size_t frameBytes, bool watched, bool byBand, size_t limit);

}  // namespace lumet
