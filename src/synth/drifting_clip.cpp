#include "synth/drifting_clip.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "reconstruction/hr_geometry.h"
#include "synth/synthetic_scene.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// Scene samples per side of a pixel's square.
constexpr int kSamples = 3;


uint8_t Quantise(double v) { return static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }

// The mean over the square of side `size` centred at (x, y) of at(x, y), into pixel (c, r).
template <typename Sampler>
void PutBoxMean(const Sampler& at, double x, double y, double size, ColorGrayImage& image, int c, int r) {
  double sum[3] = {0, 0, 0};
  for (int b = 0; b < kSamples; ++b) {
    const double dy = ((b + 0.5) / kSamples - 0.5) * size;
    for (int a = 0; a < kSamples; ++a) {
      const double dx = ((a + 0.5) / kSamples - 0.5) * size;
      const Rgb v = at(x + dx, y + dy);
      sum[0] += v.r;
      sum[1] += v.g;
      sum[2] += v.b;
    }
  }
  for (int ch = 0; ch < 3; ++ch) image.channels[ch].Row(r)[c] = Quantise(sum[ch] / (kSamples * kSamples));
}

// Sub-pixels per LR pixel side of a blurred frame's rendering.
constexpr int kSubPixels = 4;

// The weights of a pixel's square blurred by a Gaussian of sigma, at sub-pixel centres
// offset -half .. half sub-pixels from the pixel's centre: the box's integral of the
// Gaussian, normalised.
std::vector<double> BlurredBoxWeights(double sigma, int& half) {
  half = static_cast<int>(std::ceil((0.5 + 3.0 * sigma) * kSubPixels));
  std::vector<double> w(static_cast<size_t>(2 * half + 1));
  double total = 0;
  for (int t = -half; t <= half; ++t) {
    const double u = static_cast<double>(t) / kSubPixels;
    const double v = std::erf((u + 0.5) / (sigma * std::sqrt(2.0))) - std::erf((u - 0.5) / (sigma * std::sqrt(2.0)));
    w[static_cast<size_t>(t + half)] = v;
    total += v;
  }
  for (double& v : w) v /= total;
  return w;
}

// Frame pixels through the blur: the scene's means over sub-pixel squares, weighted
// separably.
template <typename Sampler>
void RenderBlurred(const Sampler& at, double dx, double dy, double sigma, ColorGrayImage& frame) {
  int half = 0;
  const std::vector<double> w = BlurredBoxWeights(sigma, half);
  const int width = frame.Width();
  const int height = frame.Height();
  // Sub-pixel (i, j) of the rendering is centred at LR (i / kSubPixels - margin, ...).
  const int sw = width * kSubPixels + 2 * half;
  const int sh = height * kSubPixels + 2 * half;
  const double margin = static_cast<double>(half) / kSubPixels;
  std::vector<double> sub[3];
  for (auto& plane : sub) plane.assign(static_cast<size_t>(sw) * static_cast<size_t>(sh), 0.0);
  ParallelFor(0, sh, 200L * sw, [&](int lo, int hi) {
    for (int i = lo; i < hi; ++i) {
      for (int j = 0; j < sw; ++j) {
        const double x = static_cast<double>(j) / kSubPixels - margin + dx;
        const double y = static_cast<double>(i) / kSubPixels - margin + dy;
        double sum[3] = {0, 0, 0};
        for (int b = 0; b < kSamples; ++b) {
          for (int a = 0; a < kSamples; ++a) {
            const Rgb v = at(x + ((a + 0.5) / kSamples - 0.5) / kSubPixels, y + ((b + 0.5) / kSamples - 0.5) / kSubPixels);
            sum[0] += v.r;
            sum[1] += v.g;
            sum[2] += v.b;
          }
        }
        for (int c = 0; c < 3; ++c) sub[c][static_cast<size_t>(i) * sw + j] = sum[c] / (kSamples * kSamples);
      }
    }
  });
  ParallelFor(0, height, 1000L * width, [&](int lo, int hi) {
    for (int r = lo; r < hi; ++r) {
      for (int c = 0; c < width; ++c) {
        for (int ch = 0; ch < 3; ++ch) {
          double v = 0;
          for (int ti = 0; ti <= 2 * half; ++ti) {
            const double* row = &sub[ch][static_cast<size_t>(r * kSubPixels + ti) * sw + c * kSubPixels];
            double across = 0;
            for (int tj = 0; tj <= 2 * half; ++tj) across += w[static_cast<size_t>(tj)] * row[tj];
            v += w[static_cast<size_t>(ti)] * across;
          }
          frame.channels[ch].Row(r)[c] = Quantise(v);
        }
      }
    }
  });
}

// Gaussian noise of sigma grey levels on every sample of frame k, the same for a seed.
void AddNoise(double sigma, uint64_t seed, int k, ColorGrayImage& frame) {
  std::mt19937_64 random(seed * 7919u + static_cast<uint64_t>(k));
  std::normal_distribution<double> normal(0.0, sigma);
  for (int ch = 0; ch < 3; ++ch) {
    for (int r = 0; r < frame.Height(); ++r) {
      uint8_t* row = frame.channels[ch].Row(r);
      for (int c = 0; c < frame.Width(); ++c) row[c] = Quantise(row[c] + normal(random));
    }
  }
}

}  // namespace

std::pair<double, double> DriftShift(int k) {
  return {0.41 * k + 0.1 * std::sin(1.9 * k), 0.27 * k + 0.1 * std::cos(1.3 * k) - 0.1};
}

namespace {

// The moving object: a square of kObjectSide LR pixels whose top-left corner is here in frame k.
constexpr double kObjectSide = 24;
double ObjectX(int k) { return 30 + 1.7 * k; }
double ObjectY(int k) { return 40 + 0.9 * k; }

}  // namespace

RoiRect MovingObjectBox(int k) {
  // Pixel x covers [x - 0.5, x + 0.5): wholly inside [o, o + side) for o + 0.5 <= x <= o + side - 0.5.
  const auto first = [](double o) { return static_cast<int32_t>(std::ceil(o + 0.5)); };
  const auto end = [](double o) { return static_cast<int32_t>(std::floor(o + kObjectSide - 0.5)) + 1; };
  return RoiRect{first(ObjectX(k)), first(ObjectY(k)), end(ObjectX(k)), end(ObjectY(k))};
}

DriftingClip MakeDriftingClip(const DriftingClipOptions& options) {
  const std::unique_ptr<SyntheticScene> scene = MakeScene(options.scene, options.seed);
  const std::unique_ptr<SyntheticScene> object = MakeScene(options.scene, options.seed + 1);
  const HrGeometry grid = MakeHrGeometry(options.roi, static_cast<double>(options.scale));
  DriftingClip clip;
  clip.frames.resize(static_cast<size_t>(options.frames));
  clip.truths.resize(static_cast<size_t>(options.frames));
  for (int k = 0; k < options.frames; ++k) {
    // Plain variables: the lambdas below capture them (a structured binding they cannot).
    const std::pair<double, double> shift = DriftShift(k);
    const double dx = shift.first;
    const double dy = shift.second;
    // The object's top-left corner in frame k, at whole and fractional positions alike.
    const double ox = ObjectX(k);
    const double oy = ObjectY(k);
    // Positions as the background sees them: frame position + the drift.
    const auto at = [&](double x, double y) {
      if (options.movingObject) {
        const double u = x - dx - ox;
        const double v = y - dy - oy;
        if (u >= 0 && u < kObjectSide && v >= 0 && v < kObjectSide) return object->At(u / options.zoom, v / options.zoom);
      }
      return scene->At(x / options.zoom, y / options.zoom);
    };
    ColorGrayImage& frame = clip.frames[static_cast<size_t>(k)];
    frame.Create(options.width, options.height);
    frame.mask.Fill(0);
    if (options.blur > 0.0) {
      RenderBlurred(at, dx, dy, options.blur, frame);
    } else {
      ParallelFor(0, options.height, 1000L * options.width, [&](int lo, int hi) {
        for (int y = lo; y < hi; ++y) {
          for (int x = 0; x < options.width; ++x) PutBoxMean(at, x + dx, y + dy, 1.0, frame, x, y);
        }
      });
    }
    if (options.noise > 0.0) AddNoise(options.noise, options.seed, k, frame);
    ColorGrayImage& truth = clip.truths[static_cast<size_t>(k)];
    truth.Create(grid.width, grid.height);
    truth.mask.Fill(0);
    const double s = grid.scale;
    ParallelFor(0, grid.height, 1000L * grid.width, [&](int lo, int hi) {
      for (int r = lo; r < hi; ++r) {
        for (int c = 0; c < grid.width; ++c) {
          PutBoxMean(at, (c + grid.x0) / s + dx, (r + grid.y0) / s + dy, 1.0 / s, truth, c, r);
        }
      }
    });
  }
  return clip;
}

}  // namespace lumet
