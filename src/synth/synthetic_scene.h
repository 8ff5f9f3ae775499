#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace lumet {

// A colour in grey levels (0 .. 255 scale, not quantised).
struct Rgb {
  double r = 0.0, g = 0.0, b = 0.0;
};

// A scene as a continuous function of the position, so that it can be sampled anywhere.
// Positions are LR pixel coordinates of the reference frame (frame 0): pixel centres at
// integers, pixel (c, r) covering [c - 0.5, c + 0.5) x [r - 0.5, r + 0.5). The scene
// extends over the whole plane. Evaluation is thread-safe.
class SyntheticScene {
 public:
  virtual ~SyntheticScene() = default;
  virtual Rgb At(double x, double y) const = 0;
};

// "chart" or "texture" (lumet::Error for anything else); the texture depends on seed.
std::unique_ptr<SyntheticScene> MakeScene(const std::string& name, uint64_t seed);

}  // namespace lumet
