#include "view/raster_image.h"

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

}  // namespace lumet
