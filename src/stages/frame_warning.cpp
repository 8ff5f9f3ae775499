#include "stages/frame_warning.h"

#include <algorithm>

#include "util/text_format.h"

namespace lumet {

namespace {

// Details named in a grouped warning; the rest are counted.
constexpr size_t kDetailsShown = 4;

// "3, 7, 9 … 12": runs of three or more frames in a row as "first … last".
std::string FrameList(const std::vector<int>& frames) {
  std::string text;
  for (size_t i = 0; i < frames.size();) {
    size_t j = i;
    while (j + 1 < frames.size() && frames[j + 1] == frames[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(frames[i]);
    if (j >= i + 2) {
      text += " … " + std::to_string(frames[j]);
    } else if (j == i + 1) {
      text += ", " + std::to_string(frames[j]);
    }
    i = j + 1;
  }
  return text;
}

}  // namespace

std::vector<std::string> GroupWarnings(const std::vector<FrameWarning>& warnings) {
  std::vector<std::string> kinds;
  for (const FrameWarning& w : warnings) {
    if (std::find(kinds.begin(), kinds.end(), w.kind) == kinds.end()) kinds.push_back(w.kind);
  }
  std::vector<std::string> lines;
  for (const std::string& kind : kinds) {
    std::vector<int> frames;
    std::vector<std::string> details;
    std::string remedy;
    for (const FrameWarning& w : warnings) {
      if (w.kind != kind) continue;
      frames.push_back(w.frame);
      if (!w.detail.empty()) details.push_back("frame " + std::to_string(w.frame) + ": " + w.detail);
      remedy = w.remedy;
    }
    std::string detail;
    for (size_t i = 0; i < details.size() && i < kDetailsShown; ++i) detail += (i > 0 ? "; " : "") + details[i];
    // One frame, named at the start already.
    if (frames.size() == 1 && !detail.empty()) detail = detail.substr(detail.find(": ") + 2);
    if (details.size() > kDetailsShown) detail += Format("; %zu more", details.size() - kDetailsShown);
    const std::string head =
        frames.size() == 1 ? "Warning: frame " + std::to_string(frames[0])
                           : Format("Warning: frames %s (%zu frames)", FrameList(frames).c_str(), frames.size());
    lines.push_back(head + ": " + kind + (detail.empty() ? "" : " (" + detail + ")") + "; " + remedy);
  }
  return lines;
}

}  // namespace lumet
