#pragma once

// What the enhanced method's tests render their frames with: a scene blurred by a Gaussian
// PSF sampled at 9 x 9 points over +-2.4 sigma, and the sub-pixel translation of frame k.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "imageio/image_file.h"
#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "numeric/pixel_map.h"
#include "numeric/projection.h"

namespace lumet::testing {

class GaussianPoints {
 public:
  static constexpr int kTaps = 9;
  explicit GaussianPoints(double sigma) {
    double total = 0.0;
    for (int t = 0; t < kTaps; ++t) {
      offset_[t] = sigma * 2.4 * (2.0 * t / (kTaps - 1) - 1.0);
      weight_[t] = std::exp(-0.5 * offset_[t] * offset_[t] / (sigma * sigma));
      total += weight_[t];
    }
    for (double& w : weight_) w /= total;
  }
  // The scene (c, x, y) -> value blurred at (x, y) of channel c.
  template <typename Scene>
  double Blurred(const Scene& scene, int c, double x, double y) const {
    double v = 0.0;
    for (int b = 0; b < kTaps; ++b) {
      for (int a = 0; a < kTaps; ++a) v += weight_[a] * weight_[b] * scene(c, x + offset_[a], y + offset_[b]);
    }
    return v;
  }

 private:
  double offset_[kTaps];
  double weight_[kTaps];
};

// Frame k's translation against frame 0 (none for frame 0), spread over sub-pixel phases.
inline void FrameShift(int k, double& dx, double& dy) {
  dx = k == 0 ? 0.0 : 0.37 * k - 1.3 * std::floor(0.37 * k / 1.3);
  dy = k == 0 ? 0.0 : 0.61 * k - 1.1 * std::floor(0.61 * k / 1.1);
}

// The homography of a translation (reference positions to the frame's).
inline Matrix ShiftHomography(double dx, double dy) {
  PixelMap m;
  m.p[0][2] = dx;
  m.p[1][2] = dy;
  return HomographyOf(m);
}

// Sample (x, y) of channel c as a deep frame's file gives it: a floating-point sample (1.0
// the nominal white), or the 16-bit sample nearest grey level `level`; the 8-bit channel
// holds its cut, the deep plane its value.
inline void PutFloatSample(ColorGrayImage& frame, DeepPlanes& deep, int c, int x, int y, float sample) {
  frame.channels[static_cast<size_t>(c)].Row(y)[x] = FloatTo8Bit(sample);
  deep.channels[c].Row(y)[x] = FloatDeepValue(sample);
}
inline void Put16BitSample(ColorGrayImage& frame, DeepPlanes& deep, int c, int x, int y, double level) {
  const auto sample = static_cast<uint16_t>(std::clamp(std::lround(level * 257.0), 0L, 65535L));
  frame.channels[static_cast<size_t>(c)].Row(y)[x] = To8Bit(sample);
  deep.channels[c].Row(y)[x] = DeepValue(sample);
}

}  // namespace lumet::testing
