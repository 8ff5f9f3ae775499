#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/random.h"

namespace lumet::testing {

// An 8-bit level from any number: rounded to the nearest and clamped to 0 .. 255.
template <typename T>
uint8_t Level(T value) {
  return static_cast<uint8_t>(std::clamp(std::lround(static_cast<double>(value)), 0L, 255L));
}

// Whether two colour images have the same size and the same samples in every channel.
inline bool SamePixels(const ColorGrayImage& a, const ColorGrayImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      if (!std::equal(a.channels[c].Row(y), a.channels[c].Row(y) + a.Width(), b.channels[c].Row(y))) return false;
    }
  }
  return true;
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

// A smooth random scene: Gaussian blobs of radius 3..8 px on a mid-grey ground over about
// 160 x 120 pixels, values in 1..254, defined everywhere so that a moved frame can sample it
// anywhere: corners for the detector and texture for the block matching.
inline double BlobScene(double x, double y) {
  static const std::vector<std::array<double, 4>> blobs = [] {
    LcgRandom random;
    random.Reset(2024);
    const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * random.Next() / LcgRandom::kMax; };
    std::vector<std::array<double, 4>> b;
    for (int i = 0; i < 160; ++i) b.push_back({uniform(-15, 175), uniform(-15, 135), uniform(3, 8), uniform(-90, 90)});
    return b;
  }();
  double v = 128.0;
  for (const auto& [u, w, r, a] : blobs) v += a * std::exp(-((x - u) * (x - u) + (y - w) * (y - w)) / (2 * r * r));
  return std::fmin(254.0, std::fmax(1.0, v));
}

// Replaces the 4 x 4 block of plane at (bx, by) by its least-squares plane, rounded: what a
// codec leaves of a block whose detail it rounded away.
inline void FitBlockPlane(GrayImage& plane, int bx, int by) {
  double mean = 0.0;
  double slopeX = 0.0;
  double slopeY = 0.0;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      const double v = plane.Row(by + y)[bx + x];
      mean += v / 16.0;
      slopeX += v * (x - 1.5) / 20.0;  // (x - 1.5)^2 sums to 20 over the block
      slopeY += v * (y - 1.5) / 20.0;
    }
  }
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) plane.Row(by + y)[bx + x] = Level(mean + slopeX * (x - 1.5) + slopeY * (y - 1.5));
  }
}

}  // namespace lumet::testing
