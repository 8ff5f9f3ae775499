#include "synth/drifting_clip.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "reconstruction/hr_geometry.h"
#include "synth/synthetic_scene.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// Scene samples per side of a pixel's square.
constexpr int kSamples = 3;


uint8_t Quantise(double v) { return static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }

// The scene's mean over the square of side `size` centred at (x, y), into pixel (c, r).
void PutBoxMean(const SyntheticScene& scene, double zoom, double x, double y, double size, ColorGrayImage& image, int c, int r) {
  double sum[3] = {0, 0, 0};
  for (int b = 0; b < kSamples; ++b) {
    const double dy = ((b + 0.5) / kSamples - 0.5) * size;
    for (int a = 0; a < kSamples; ++a) {
      const double dx = ((a + 0.5) / kSamples - 0.5) * size;
      const Rgb v = scene.At((x + dx) / zoom, (y + dy) / zoom);
      sum[0] += v.r;
      sum[1] += v.g;
      sum[2] += v.b;
    }
  }
  for (int ch = 0; ch < 3; ++ch) image.channels[ch].Row(r)[c] = Quantise(sum[ch] / (kSamples * kSamples));
}

}  // namespace

std::pair<double, double> DriftShift(int k) {
  return {0.41 * k + 0.1 * std::sin(1.9 * k), 0.27 * k + 0.1 * std::cos(1.3 * k) - 0.1};
}

DriftingClip MakeDriftingClip(const DriftingClipOptions& options) {
  const std::unique_ptr<SyntheticScene> scene = MakeScene(options.scene, options.seed);
  const HrGeometry grid = MakeHrGeometry(options.roi, static_cast<double>(options.scale));
  DriftingClip clip;
  clip.frames.resize(static_cast<size_t>(options.frames));
  clip.truths.resize(static_cast<size_t>(options.frames));
  for (int k = 0; k < options.frames; ++k) {
    // Plain variables: the lambdas below capture them (a structured binding they cannot).
    const std::pair<double, double> shift = DriftShift(k);
    const double dx = shift.first;
    const double dy = shift.second;
    ColorGrayImage& frame = clip.frames[static_cast<size_t>(k)];
    frame.Create(options.width, options.height);
    frame.mask.Fill(0);
    ParallelFor(0, options.height, 1000L * options.width, [&](int lo, int hi) {
      for (int y = lo; y < hi; ++y) {
        for (int x = 0; x < options.width; ++x) PutBoxMean(*scene, options.zoom, x + dx, y + dy, 1.0, frame, x, y);
      }
    });
    ColorGrayImage& truth = clip.truths[static_cast<size_t>(k)];
    truth.Create(grid.width, grid.height);
    truth.mask.Fill(0);
    const double s = grid.scale;
    ParallelFor(0, grid.height, 1000L * grid.width, [&](int lo, int hi) {
      for (int r = lo; r < hi; ++r) {
        for (int c = 0; c < grid.width; ++c) {
          PutBoxMean(*scene, options.zoom, (c + grid.x0) / s + dx, (r + grid.y0) / s + dy, 1.0 / s, truth, c, r);
        }
      }
    });
  }
  return clip;
}

}  // namespace lumet
