#include "lumet/observer.h"

#include "stages/frame_warning.h"

namespace lumet {

Observer::~Observer() = default;
void Observer::OnProgress(const Progress&) {}
void Observer::OnWarning(const Warning&) {}
void Observer::OnLog(const std::string&) {}
bool Observer::WantsPictures() const { return false; }
void Observer::OnPicture(const Frame&) {}
void Observer::OnFileWritten(const std::string&) {}
bool Observer::CancelRequested() { return false; }

std::string Warning::Text() const {
  std::vector<FrameWarning> each;
  for (size_t i = 0; i < frames.size(); ++i) {
    each.push_back(FrameWarning{frames[i], kind, i < details.size() ? details[i] : std::string(), remedy});
  }
  const std::vector<std::string> lines = GroupWarnings(each);
  std::string text = lines.empty() ? std::string() : lines.front();
  // The grouped line as the command line prints it, without its "Warning: " and line end.
  if (text.rfind("Warning: ", 0) == 0) text.erase(0, 9);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace lumet
