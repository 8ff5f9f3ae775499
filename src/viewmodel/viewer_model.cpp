#include "viewmodel/viewer_model.h"

#include <algorithm>
#include <cstdlib>

namespace lumet {

namespace {

// Sets a pixel given with row 0 at the top of the picture.
void Plot(DibRaster& raster, int x, int y, uint32_t color) {
  if (x >= 0 && y >= 0 && x < raster.Width() && y < raster.Height()) {
    raster.SetPixelColor(x, raster.Height() - 1 - y, color);
  }
}

}  // namespace

void ViewerModel::ShowPicture(const DibRaster& raster) {
  picture = raster;
  squares.clear();
  lines.clear();
}

void ViewerModel::AddSquares(const std::vector<MarkPoint>& centres) {
  squares.insert(squares.end(), centres.begin(), centres.end());
}

void ViewerModel::AddLines(const std::vector<MarkLine>& marks) { lines.insert(lines.end(), marks.begin(), marks.end()); }

void DrawRectOutline(DibRaster& raster, int left, int top, int right, int bottom, uint32_t color) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  // 64-bit so that a ROI typed with extreme values cannot overflow.
  if (static_cast<long long>(right) - left < 1 || static_cast<long long>(bottom) - top < 1) return;
  // The loops are clipped to the raster, so a ROI far outside costs nothing.
  const int x0 = std::max(left, 0);
  const int x1 = std::min(right - 1, raster.Width() - 1);
  const int y0 = std::max(top, 0);
  const int y1 = std::min(bottom - 1, raster.Height() - 1);
  for (int x = x0; x <= x1; ++x) {
    Plot(raster, x, top, color);
    Plot(raster, x, bottom - 1, color);
  }
  for (int y = y0; y <= y1; ++y) {
    Plot(raster, left, y, color);
    Plot(raster, right - 1, y, color);
  }
}

void DrawLine(DibRaster& raster, const MarkLine& line, uint32_t color) {
  int x = line.x0;
  int y = line.y0;
  const int dx = std::abs(line.x1 - line.x0);
  const int dy = -std::abs(line.y1 - line.y0);
  const int sx = line.x0 < line.x1 ? 1 : -1;
  const int sy = line.y0 < line.y1 ? 1 : -1;
  int err = dx + dy;
  while (x != line.x1 || y != line.y1) {
    Plot(raster, x, y, color);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

DibRaster RenderViewer(const ViewerModel& model, bool hoverInside) {
  return RenderViewer(model, model.roi ? &*model.roi : nullptr, hoverInside);
}

DibRaster RenderViewer(const ViewerModel& model, const RoiRect* roi, bool hoverInside) {
  if (model.mode == kModeComparison && hoverInside) return model.comparePicture;
  DibRaster out = model.picture;
  if (out.Empty()) return out;
  if (model.mode == kModeRoiSelection && roi != nullptr) {
    DrawRectOutline(out, roi->left, roi->top, roi->right, roi->bottom, kRoiColor);
  }
  for (const MarkPoint& p : model.squares) {
    DrawRectOutline(out, p.x - kSquareReach, p.y - kSquareReach, p.x + kSquareReach + 1, p.y + kSquareReach + 1,
                    kSquareColor);
  }
  for (const MarkLine& line : model.lines) DrawLine(out, line, kLineColor);
  return out;
}

}  // namespace lumet
