#pragma once

#include <vector>

#include "lumet/registration.h"
#include "lumet/sequence.h"
#include "lumet/settings.h"
#include "lumet/stages.h"
#include "numeric/image_plane.h"

namespace lumet {

// Another frame's estimate on the same ROI, and the homography from the reference's
// positions to that frame's: what a video's output frame may start from.
struct EstimateSeed {
  const ColorDoubleImage* estimate = nullptr;
  PixelHomography toSeed;
};

// Reconstruct, the method starting from seed where it takes one (null: as Reconstruct).
Result ReconstructSeeded(const Sequence& sequence, const Registration& registration, int reference,
                         const std::vector<int>& frames, const Settings& settings, Observer* observer,
                         const EstimateSeed* seed);

}  // namespace lumet
