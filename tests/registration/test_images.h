#pragma once

#include <cmath>
#include <cstdint>

#include "numeric/image_plane.h"
#include "numeric/random.h"
#include "registration/registration_options.h"
#include "registration/registration_strategy.h"
#include "support/test_images.h"

namespace lumet::testing {

// A smooth, non-repeating scene in 68..188 (0 would be left out of the photometric score).
inline double Scene(double x, double y) {
  return 128 + 60 * std::sin(0.37 * x + 0.5 * std::cos(0.23 * y)) * std::cos(0.29 * y - 0.4 * std::sin(0.17 * x));
}

inline GrayImage NoiseImage(int width, int height, uint32_t seed) {
  LcgRandom random;
  random.Reset(seed);
  return MakeGray(width, height, [&](double, double) { return random.Next() % 256; });
}

// Options that register frames of the blob scene (support/test_images.h) quickly: a 40 x 40
// ROI in its middle, small blocks and search, small RANSAC samples.
inline RegistrationOptions BlobSceneOptions(bool directRefinement = false) {
  RegistrationOptions o;
  o.roi = RoiRect{60, 40, 100, 80};
  o.ransacFirst = 8;
  o.ransacSecond = 12;
  o.sadSize = 12;
  o.searchArea = 10;
  o.strategy = directRefinement ? &DirectRegistration() : &PointsRegistration();
  return o;
}

}  // namespace lumet::testing
