#include "reconstruction/frame_rows.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "numeric/projection.h"

namespace lumet {

namespace {

// LR rows beyond the outline's: bilinear and bicubic taps, the noise and edge filters and
// the rounding of the outline itself.
constexpr int kRowMargin = 4;

}  // namespace

RowBand RowsUnderGrid(const Matrix& homography, const HrGeometry& grid, int frameHeight) {
  const RowBand all{0, std::max(frameHeight, 0)};
  const Matrix form = LrFormOnHrInput(homography, grid.scale);
  // One HR pixel beyond the grid on each side.
  const double xs[2] = {grid.x0 - 1.0, grid.x0 + static_cast<double>(grid.width)};
  const double ys[2] = {grid.y0 - 1.0, grid.y0 + static_cast<double>(grid.height)};
  double top = HUGE_VAL;
  double bottom = -HUGE_VAL;
  int positive = 0;
  for (const double y : ys) {
    for (const double x : xs) {
      // The corners' denominators of one sign: the quadrilateral does not cross the line
      // at infinity, so it lies within the corners' bounding box.
      const double d = form.At1(3, 1) * x + form.At1(3, 2) * y + HomographyUnit * form.At1(3, 3);
      if (!(d != 0.0) || !std::isfinite(d)) return all;
      positive += d > 0.0 ? 1 : 0;
      const double v = ProjectPoint(form, x, y).v;
      if (!std::isfinite(v)) return all;
      top = std::min(top, v);
      bottom = std::max(bottom, v);
    }
  }
  if (positive != 0 && positive != 4) return all;
  const double first = std::max(0.0, std::floor(top) - kRowMargin);
  const double last = std::min(frameHeight - 1.0, std::ceil(bottom) + kRowMargin);
  // Outside the frame altogether: one row, which nothing samples.
  if (last < first) return RowBand{static_cast<int>(std::min(first, frameHeight - 1.0)), 1};
  return RowBand{static_cast<int>(first), static_cast<int>(last - first) + 1};
}

void KeepRowsUnderGrid(ColorGrayImage& frame, const Matrix& homography, const HrGeometry& grid) {
  frame.mask.Free();
  const RowBand band = RowsUnderGrid(homography, grid, frame.Height());
  for (GrayImage& channel : frame.channels) channel.KeepRows(band.first, band.count);
  if (frame.deep) {
    // The deep planes are shared with whoever else holds the frame: the rows kept are a copy.
    auto kept = std::make_shared<DeepPlanes>(*frame.deep);
    for (FloatImage& channel : kept->channels) channel.KeepRows(band.first, band.count);
    frame.deep = std::move(kept);
  }
}

size_t BytesUnderGrid(const Matrix& homography, const HrGeometry& grid, int width, int height, bool deep) {
  const RowBand band = RowsUnderGrid(homography, grid, height);
  return (deep ? 3 + 3 * sizeof(float) : 3) * static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(band.count);
}

}  // namespace lumet
