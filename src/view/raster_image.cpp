#include "view/raster_image.h"

#include <algorithm>
#include <cstdlib>

namespace lumet {

QImage RasterToQImage(const DibRaster& raster) {
  if (raster.Empty() || raster.Width() <= 0 || raster.Height() <= 0) return QImage();
  const int width = raster.Width();
  const int height = raster.Height();
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return image;
  const uint8_t* bits = raster.Bits();
  for (int y = 0; y < height; ++y) {
    // Raster row 0 is the bottom of the picture.
    const uint8_t* src = bits + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(raster.Stride());
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
    }
  }
  return image;
}

namespace {

void PutPixel(QImage& image, int x, int y, QRgb color) {
  if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
  reinterpret_cast<QRgb*>(image.scanLine(y))[x] = color;
}

}  // namespace

void DrawRectOutline(QImage& image, int left, int top, int right, int bottom, QRgb color) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  // 64-bit so that a ROI typed with extreme values cannot overflow.
  if (static_cast<long long>(right) - left < 1 || static_cast<long long>(bottom) - top < 1) return;
  // Clip the loops to the picture so a ROI far outside costs nothing.
  const int x0 = std::max(left, 0);
  const int x1 = std::min(right - 1, image.width() - 1);
  const int y0 = std::max(top, 0);
  const int y1 = std::min(bottom - 1, image.height() - 1);
  for (int x = x0; x <= x1; ++x) {
    PutPixel(image, x, top, color);
    PutPixel(image, x, bottom - 1, color);
  }
  for (int y = y0; y <= y1; ++y) {
    PutPixel(image, left, y, color);
    PutPixel(image, right - 1, y, color);
  }
}

void DrawRoiOutline(QImage& image, const RoiRect& roi) {
  DrawRectOutline(image, roi.left, roi.top, roi.right, roi.bottom, kRoiColor);
}

void DrawSquareMark(QImage& image, const MarkPoint& centre) {
  DrawRectOutline(image, centre.x - 1, centre.y - 1, centre.x + 2, centre.y + 2, kSquareColor);
}

void DrawLineMark(QImage& image, const MarkLine& line) {
  // Bresenham from the start point, stopping before the end point.
  int x = line.x0;
  int y = line.y0;
  const int dx = std::abs(line.x1 - line.x0);
  const int dy = -std::abs(line.y1 - line.y0);
  const int sx = line.x0 < line.x1 ? 1 : -1;
  const int sy = line.y0 < line.y1 ? 1 : -1;
  int err = dx + dy;
  while (x != line.x1 || y != line.y1) {
    PutPixel(image, x, y, kLineColor);
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

}  // namespace lumet
