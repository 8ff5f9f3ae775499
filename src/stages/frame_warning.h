#pragma once

#include <string>
#include <vector>

namespace lumet {

// A warning about one frame. Frames warned of the same kind share its words, so a front end
// may name them together: "kind" is the same for each, "detail" what differs (may be empty),
// "remedy" the option that changes it.
struct FrameWarning {
  int frame = 0;
  std::string kind;
  std::string detail;
  std::string remedy;
};

// "Warning: frame 3: kind (detail); remedy\r\n", the warning as one log line.
inline std::string FormatWarningLine(const FrameWarning& w) {
  return "Warning: frame " + std::to_string(w.frame) + ": " + w.kind + (w.detail.empty() ? "" : " (" + w.detail + ")") +
         "; " + w.remedy + "\r\n";
}

// The warnings of each kind as one line, in the order their kinds first came, for front
// ends that report them once a stage is over:
// "Warning: frames 3, 7 … 9 (4 frames): kind (frame 3: detail; frame 7: detail; ...); remedy".
std::vector<std::string> GroupWarnings(const std::vector<FrameWarning>& warnings);

}  // namespace lumet
