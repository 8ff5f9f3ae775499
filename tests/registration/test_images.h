#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/random.h"

namespace lumet::testing {

// A plane filled from f(x, y), values clamped to 0..255 and rounded.
template <typename F>
GrayImage MakeGray(int width, int height, F f) {
  GrayImage image;
  image.Create(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double v = std::lround(f(static_cast<double>(x), static_cast<double>(y)));
      image.Row(y)[x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
  return image;
}

// A smooth random scene: Gaussian blobs of radius 3..8 px on a mid-grey ground, in 1..254
// (never 0, which the photometric score leaves out). Defined everywhere, so frames can
// sample it at any position.
class BlobScene {
 public:
  BlobScene(int count, double width, double height, uint32_t seed = 7) {
    LcgRandom random;
    random.Reset(seed);
    const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * random.Next() / LcgRandom::kMax; };
    for (int i = 0; i < count; ++i) {
      blobs_.push_back(
          Blob{uniform(-10, width + 10), uniform(-10, height + 10), uniform(3.0, 8.0), uniform(-90.0, 90.0)});
    }
  }
  double operator()(double x, double y) const {
    double v = 128.0;
    for (const Blob& b : blobs_) {
      const double dx = x - b.x;
      const double dy = y - b.y;
      v += b.amplitude * std::exp(-(dx * dx + dy * dy) / (2.0 * b.radius * b.radius));
    }
    return v < 1.0 ? 1.0 : (v > 254.0 ? 254.0 : v);
  }

 private:
  struct Blob {
    double x;
    double y;
    double radius;
    double amplitude;
  };
  std::vector<Blob> blobs_;
};

// Pseudo-random 8-bit noise, for oracle comparisons.
inline GrayImage NoiseImage(int width, int height, uint32_t seed) {
  LcgRandom random;
  random.Reset(seed);
  return MakeGray(width, height, [&](double, double) { return random.Next() % 256; });
}

}  // namespace lumet::testing
