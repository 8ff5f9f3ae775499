#pragma once

#include "params/param_set.h"
#include "workbench/ui_port.h"

namespace lumet {

// Super-resolves frame `reference` of the sequence the values name as the reference of
// frames reference - radius .. reference + radius (clipped to the sequence), with the
// values' method, scale, ROI (in that frame's pixels) and settings: output frame
// `reference` of VideoSuperResolver. The viewers show it as a reconstruction shows its
// result (the frame's ROI enlarged, then the result to compare with it); no file is written.
// lumet::Cancelled when the port asks; lumet::Error for a frame outside the sequence.
void SuperResolveFrame(UiPort& ui, const ParamSet& values, int reference, int radius);

}  // namespace lumet
