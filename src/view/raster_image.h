#pragma once

#include <QImage>

#include "params/param_set.h"
#include "raster/dib_raster.h"
#include "workbench/ui_port.h"

namespace lumet {

// The picture of a display raster as a QImage (Format_RGB32), row 0 at the top. The raster
// stores its rows bottom-up as blue, green, red with each row padded to its stride. An
// empty raster gives a null image.
QImage RasterToQImage(const DibRaster& raster);

// Pixel-exact overlays drawn into a Format_RGB32 image, clipped to it.

// The outline the platform's rectangle call draws with a one-pixel pen from (left, top) to
// (right, bottom): columns left .. right - 1 and rows top .. bottom - 1. A rectangle given
// with its corners swapped is normalised; an empty one draws nothing.
void DrawRectOutline(QImage& image, int left, int top, int right, int bottom, QRgb color);

// The ROI outline in olive (128, 128, 0).
void DrawRoiOutline(QImage& image, const RoiRect& roi);

// A red ring of 3 x 3 pixels around the centre (the centre itself left untouched).
void DrawSquareMark(QImage& image, const MarkPoint& centre);

// A black line from (x0, y0) to (x1, y1) without its end pixel, as a line-to call draws it.
void DrawLineMark(QImage& image, const MarkLine& line);

inline constexpr QRgb kRoiColor = 0xFF808000u;   // olive: red 128, green 128, blue 0
inline constexpr QRgb kSquareColor = 0xFFFF0000u;
inline constexpr QRgb kLineColor = 0xFF000000u;

}  // namespace lumet
