#include "cli/headless_port.h"

#include <unistd.h>

#include "imageio/bmp_file.h"
#include "util/text_format.h"
#include "workbench/warning_groups.h"

namespace lumet::cli {

HeadlessPort::HeadlessPort(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), progressTerminal_(err != nullptr && ::isatty(::fileno(err)) != 0) {}

HeadlessPort::~HeadlessPort() { FinishProgress(); }

void HeadlessPort::AppendLog(const std::string& text) {
  if (!logShown_) return;
  EndProgressLine();
  std::fprintf(out_, "%s\n", StripLineEnds(text).c_str());
  std::fflush(out_);
}

void HeadlessPort::ReportProgress(const std::string& stage, int step, int total) {
  if (!progressTerminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (stage != stage_ || step <= 1) {
    stage_ = stage;
    stageStart_ = now;
  }
  std::string line = Format("%s %d of %d", stage.c_str(), step, total);
  if (total > 0) line += Format(" (%d %%", static_cast<int>(100.0 * step / total));
  const double elapsed = std::chrono::duration<double>(now - stageStart_).count();
  // The time left from the pace so far, once there is one to go by.
  if (total > 0 && step > 1 && step < total && elapsed >= 1.0) {
    const double left = elapsed / (step - 1) * (total - step);
    line += left < 90.0 ? Format(", %.0f s left", left) : Format(", %.0f min left", left / 60.0);
  }
  if (total > 0) line += ")";
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
