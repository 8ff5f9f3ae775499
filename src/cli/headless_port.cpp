#include "cli/headless_port.h"

#include <unistd.h>

#include <algorithm>

#include "imageio/bmp_file.h"
#include "util/text_format.h"

namespace lumet::cli {

HeadlessPort::HeadlessPort(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), progressTerminal_(err != nullptr && ::isatty(::fileno(err)) != 0) {}

HeadlessPort::~HeadlessPort() { FinishProgress(); }

void HeadlessPort::AppendLog(const std::string& text) {
  EndProgressLine();
  std::fprintf(out_, "%s\n", StripLineEnds(text).c_str());
  std::fflush(out_);
}

void HeadlessPort::ReportProgress(const std::string& stage, int step, int total) {
  if (!progressTerminal_) return;
  const std::string line = Format("%s %d of %d", stage.c_str(), step, total);
  if (line == lastProgress_) return;
  lastProgress_ = line;
  std::fprintf(err_, "\r\033[K%s", line.c_str());
  std::fflush(err_);
  progressShowing_ = true;
}

void HeadlessPort::Warn(const FrameWarning& warning) { warnings_.push_back(warning); }

void HeadlessPort::EndProgressLine() {
  if (!progressShowing_) return;
  std::fprintf(err_, "\r\033[K");
  std::fflush(err_);
  progressShowing_ = false;
  lastProgress_.clear();
}

void HeadlessPort::FinishProgress() {
  EndProgressLine();
  if (err_ != nullptr) {
    std::fflush(out_);  // the log lines before them come first on a shared terminal
    for (const std::string& line : GroupWarnings(warnings_)) std::fprintf(err_, "%s\n", line.c_str());
  }
  warnings_.clear();
  if (err_ != nullptr) std::fflush(err_);
}

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
    if (details.size() > kDetailsShown) detail += Format("; %zu more", details.size() - kDetailsShown);
    const std::string head =
        frames.size() == 1 ? "Warning: frame " + std::to_string(frames[0])
                           : Format("Warning: frames %s (%zu frames)", FrameList(frames).c_str(), frames.size());
    lines.push_back(head + ": " + kind + (detail.empty() ? "" : " (" + detail + ")") + "; " + remedy);
  }
  return lines;
}

void HeadlessPort::WriteSnapshots(const std::string& dir) const {
  const std::string base = dir.empty() ? std::string(".") : dir;
  const struct {
    Viewer viewer;
    const char* name;
  } views[] = {{Viewer::Reference, "reference-viewer.bmp"}, {Viewer::Frame, "frame-viewer.bmp"}};
  for (const auto& view : views) {
    if (!ViewerExists(view.viewer) || Model(view.viewer).picture.Empty()) continue;
    ColorGrayImage image;
    RasterToImage(Render(view.viewer), image);
    BmpFile::WriteImage(base + "/" + view.name, image, 0, 0, image.Width(), image.Height());
  }
  const DibRaster& compare = Model(Viewer::Frame).comparePicture;
  if (ViewerExists(Viewer::Frame) && !compare.Empty()) {
    ColorGrayImage image;
    RasterToImage(compare, image);
    BmpFile::WriteImage(base + "/frame-viewer-compare.bmp", image, 0, 0, image.Width(), image.Height());
  }
}

}  // namespace lumet::cli
