#include "cli/headless_port.h"

#include <unistd.h>

#include "imageio/bmp_file.h"
#include "raster/mark_drawing.h"
#include "util/text_format.h"

namespace lumet::cli {

namespace {

constexpr uint32_t kOlive = 128u | (128u << 8);
constexpr uint32_t kRed = 255u;
constexpr uint32_t kBlack = 0u;

// Sets a pixel given in picture coordinates (row 0 at the top).
void Plot(DibRaster& raster, int x, int y, uint32_t color) {
  raster.SetPixelColor(x, raster.Height() - 1 - y, color);
}

void PlotRectangle(DibRaster& raster, int left, int top, int right, int bottom, uint32_t color) {
  PlotRectOutline(left, top, right, bottom, raster.Width(), raster.Height(),
                  [&](int x, int y) { Plot(raster, x, y, color); });
}

}  // namespace

HeadlessPort::HeadlessPort(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), progressTerminal_(err != nullptr && ::isatty(::fileno(err)) != 0) {}

HeadlessPort::~HeadlessPort() { FinishProgress(); }

void HeadlessPort::AppendLog(const std::string& text) {
  FinishProgress();
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

void HeadlessPort::FinishProgress() {
  if (!progressShowing_) return;
  std::fprintf(err_, "\r\033[K");
  std::fflush(err_);
  progressShowing_ = false;
  lastProgress_.clear();
}

bool HeadlessPort::ViewerExists(Viewer viewer) const { return State(viewer).exists; }

void HeadlessPort::CreateViewer(Viewer viewer, const std::string& title, const ScreenRect&) {
  auto& v = State(viewer);
  v.exists = true;
  v.title = title;
}

void HeadlessPort::FitViewer(Viewer, int, int) {}

void HeadlessPort::SetViewerMode(Viewer viewer, int mode) { State(viewer).mode = mode; }

void HeadlessPort::ShowPicture(Viewer viewer, const DibRaster& picture) {
  auto& v = State(viewer);
  v.picture = picture;
  v.squares.clear();
  v.lines.clear();
}

void HeadlessPort::SetComparePicture(Viewer viewer, const DibRaster& picture) { State(viewer).comparePicture = picture; }

void HeadlessPort::SetViewerTitle(Viewer viewer, const std::string& title) { State(viewer).title = title; }

void HeadlessPort::AttachRoi(Viewer viewer, const RoiRect& roi) {
  auto& v = State(viewer);
  v.roiAttached = true;
  v.roi = roi;
}

void HeadlessPort::DrawSquares(Viewer viewer, const std::vector<MarkPoint>& centres) {
  auto& v = State(viewer);
  v.squares.insert(v.squares.end(), centres.begin(), centres.end());
}

void HeadlessPort::DrawLines(Viewer viewer, const std::vector<MarkLine>& lines) {
  auto& v = State(viewer);
  v.lines.insert(v.lines.end(), lines.begin(), lines.end());
}

DibRaster HeadlessPort::Render(Viewer viewer) const {
  const auto& v = State(viewer);
  DibRaster out = v.picture;
  if (out.Empty()) return out;
  if (v.mode == kModeRoiSelection && v.roiAttached) {
    PlotRectangle(out, v.roi.left, v.roi.top, v.roi.right, v.roi.bottom, kOlive);
  }
  for (const auto& p : v.squares) PlotRectangle(out, p.x - 1, p.y - 1, p.x + 2, p.y + 2, kRed);
  for (const auto& l : v.lines) {
    PlotLine(l.x0, l.y0, l.x1, l.y1, out.Width(), out.Height(), [&](int x, int y) { Plot(out, x, y, kBlack); });
  }
  return out;
}

void HeadlessPort::WriteSnapshots(const std::string& dir) const {
  const std::string base = dir.empty() ? std::string(".") : dir;
  const struct {
    Viewer viewer;
    const char* name;
  } views[] = {{Viewer::Reference, "reference-viewer.bmp"}, {Viewer::Frame, "frame-viewer.bmp"}};
  for (const auto& view : views) {
    const auto& v = State(view.viewer);
    if (!v.exists || v.picture.Empty()) continue;
    ColorGrayImage image;
    RasterToImage(Render(view.viewer), image);
    BmpFile::WriteImage(base + "/" + view.name, image, 0, 0, image.Width(), image.Height());
  }
  const auto& frame = State(Viewer::Frame);
  if (frame.exists && !frame.comparePicture.Empty()) {
    ColorGrayImage image;
    RasterToImage(frame.comparePicture, image);
    BmpFile::WriteImage(base + "/frame-viewer-compare.bmp", image, 0, 0, image.Width(), image.Height());
  }
}

}  // namespace lumet::cli
