#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "numeric/image_plane.h"

namespace lumet::testing {

// An 8-bit level from any number: rounded to the nearest and clamped to 0 .. 255.
template <typename T>
uint8_t Level(T value) {
  return static_cast<uint8_t>(std::clamp(std::lround(static_cast<double>(value)), 0L, 255L));
}

// A plane whose pixel (x, y) is Level(f(x, y)).
template <typename F>
GrayImage MakeGray(int width, int height, F f) {
  GrayImage image;
  image.Create(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.Row(y)[x] = Level(f(x, y));
  }
  return image;
}

// A colour image whose channel c (0 red, 1 green, 2 blue) at (x, y) is Level(f(c, x, y)).
template <typename F>
ColorGrayImage MakeColor(int width, int height, F f) {
  ColorGrayImage image;
  image.Create(width, height);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) image.channels[c][y][x] = Level(f(c, x, y));
    }
  }
  return image;
}

}  // namespace lumet::testing
