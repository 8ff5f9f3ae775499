#pragma once

#include <string>
#include <vector>

#include "workbench/ui_port.h"

namespace lumet {

// The warnings of each kind as one line, in the order their kinds first came, for front
// ends that report them once a stage is over:
// "Warning: frames 3, 7 … 9 (4 frames): kind (frame 3: detail; frame 7: detail; ...); remedy".
std::vector<std::string> GroupWarnings(const std::vector<FrameWarning>& warnings);

}  // namespace lumet
