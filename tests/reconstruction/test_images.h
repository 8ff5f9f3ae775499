#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "numeric/projection.h"
#include "support/temp_folder.h"

namespace lumet::testing {

// A colour frame whose channel c at (x, y) is value(c, x, y).
template <typename F>
ColorGrayImage MakeFrame(int width, int height, F value) {
  ColorGrayImage frame;
  frame.Create(width, height);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x)
        frame.channels[static_cast<size_t>(c)][y][x] = static_cast<uint8_t>(value(c, x, y));
    }
  }
  return frame;
}

// A double plane whose pixel (x, y) is value(x, y).
template <typename F>
DoubleImage MakeDouble(int width, int height, F value) {
  DoubleImage image;
  image.Create(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.At(x, y) = value(x, y);
  }
  return image;
}

// The homography of a pure shift by (tx, ty) LR pixels.
inline Matrix ShiftHomography(double tx, double ty) {
  Matrix h = IdentityHomography();
  h.At1(1, 3) = tx / HomographyUnit;
  h.At1(2, 3) = ty / HomographyUnit;
  return h;
}

// A fresh, empty folder for one test, removed by the destructor.
class ScratchFolder : public TempFolder {
 public:
  explicit ScratchFolder(const std::string& /*tag*/) {}
};

}  // namespace lumet::testing
