#pragma once

#include <string>

#include "params/param_set.h"
#include "workbench/ui_port.h"

namespace lumet {

// Export Video…: every frame of the sequence the values name super-resolved from the frames
// `radius` around it with the values' method, scale and settings (the ROI, or the whole
// frame), written to output: a video (.mkv lossless, .mp4 H.264) or a frame pattern
// ("sr-%d.png"). A line per frame in the log with the time left, the progress bar counts the
// frames; the warnings go to the log. Cancelled, the finished frames are kept and the next
// export to the same output goes on from them.
void ExportVideo(UiPort& ui, const ParamSet& values, const std::string& output, int radius, bool wholeFrame);

// The output a name chosen in the save dialog means: a video's name as it is; a still
// frame's name ("sr.png") as the pattern of the frames it numbers ("sr-%d.png").
std::string VideoExportOutput(const std::string& chosen);

}  // namespace lumet
