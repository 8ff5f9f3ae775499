#pragma once

#include <QImage>

#include "raster/dib_raster.h"

namespace lumet {

// The picture of a display raster as a QImage (Format_RGB32), row 0 at the top. The raster
// stores its rows bottom-up as blue, green, red with each row padded to its stride. An
// empty raster gives a null image.
QImage RasterToQImage(const DibRaster& raster);

}  // namespace lumet
