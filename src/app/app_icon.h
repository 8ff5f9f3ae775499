#pragma once

#include <QIcon>
#include <QImage>

namespace lumet {

// The application icon drawn at size x size pixels: a magnifying lens over a coarse
// pixel mosaic, showing a sharp picture where the mosaic is blocky.
QImage DrawAppIcon(int size);

// The icon in the sizes window managers ask for.
QIcon MakeAppIcon();

}  // namespace lumet
