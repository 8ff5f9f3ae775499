#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "numeric/image_plane.h"
#include "numeric/random.h"

namespace lumet::testing {

// A plane filled from f(x, y), rounded and clamped to 0..255.
template <typename F>
GrayImage MakeGray(int width, int height, F f) {
  GrayImage image;
  image.Create(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.Row(y)[x] = static_cast<uint8_t>(std::clamp(std::lround(f(x, y)), 0L, 255L));
  }
  return image;
}

// A smooth, non-repeating scene in 68..188 (0 would be left out of the photometric score).
inline double Scene(double x, double y) {
  return 128 + 60 * std::sin(0.37 * x + 0.5 * std::cos(0.23 * y)) * std::cos(0.29 * y - 0.4 * std::sin(0.17 * x));
}

inline GrayImage NoiseImage(int width, int height, uint32_t seed) {
  LcgRandom random;
  random.Reset(seed);
  return MakeGray(width, height, [&](double, double) { return random.Next() % 256; });
}

}  // namespace lumet::testing
