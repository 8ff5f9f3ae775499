#include "view/raster_image.h"

#include "raster/mark_drawing.h"

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

void PutPixel(QImage& image, int x, int y, QRgb color) { reinterpret_cast<QRgb*>(image.scanLine(y))[x] = color; }

}  // namespace

void DrawRectOutline(QImage& image, int left, int top, int right, int bottom, QRgb color) {
  PlotRectOutline(left, top, right, bottom, image.width(), image.height(),
                  [&](int x, int y) { PutPixel(image, x, y, color); });
}

void DrawRoiOutline(QImage& image, const RoiRect& roi) {
  DrawRectOutline(image, roi.left, roi.top, roi.right, roi.bottom, kRoiColor);
}

void DrawSquareMark(QImage& image, const MarkPoint& centre) {
  DrawRectOutline(image, centre.x - 1, centre.y - 1, centre.x + 2, centre.y + 2, kSquareColor);
}

void DrawLineMark(QImage& image, const MarkLine& line) {
  PlotLine(line.x0, line.y0, line.x1, line.y1, image.width(), image.height(),
           [&](int x, int y) { PutPixel(image, x, y, kLineColor); });
}

}  // namespace lumet
