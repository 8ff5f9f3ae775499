#include "reference_backend.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace lumet::testing {

namespace {

// Calls pair(x, y, sx, sy, t) for every pixel (x, y) of a w x h plane and every source pixel
// (sx, sy) inside it that the 2-D PSF weighs by t = t_i t_j, sx = x + i - h, sy = y + j - h.
template <typename Pair>
void ForEachTap(int w, int h, const std::vector<double>& taps, Pair pair) {
  const int half = static_cast<int>(taps.size()) / 2;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int j = 0; j < static_cast<int>(taps.size()); ++j) {
        for (int i = 0; i < static_cast<int>(taps.size()); ++i) {
          const int sx = x + i - half;
          const int sy = y + j - half;
          if (sx < 0 || sy < 0 || sx >= w || sy >= h) continue;
          pair(x, y, sx, sy, taps[static_cast<size_t>(i)] * taps[static_cast<size_t>(j)]);
        }
      }
    }
  }
}

// target(x, y) = sum of t source(sx, sy), pixels outside the plane counting 0: the 2-D PSF
// as one double sum per pixel.
Plane Blur(const Plane& source, const std::vector<double>& taps) {
  Plane target(source.width, source.height);
  ForEachTap(source.width, source.height, taps,
             [&](int x, int y, int sx, int sy, double t) { target.At(x, y) += t * source.At(sx, sy); });
  return target;
}

// The transpose of Blur, written as such: every target pixel's share goes back to the
// source pixels it was made of.
Plane BlurTransposed(const Plane& target, const std::vector<double>& taps) {
  Plane source(target.width, target.height);
  ForEachTap(target.width, target.height, taps,
             [&](int x, int y, int sx, int sy, double t) { source.At(sx, sy) += t * target.At(x, y); });
  return source;
}

double Rho(double r, double eps) { return std::sqrt(r * r + eps * eps) - eps; }
double RhoSlope(double r, double eps) { return r / std::sqrt(r * r + eps * eps); }

// The sampling kernel's taps along one axis for a position f past the cell's pixel: the
// pixel offsets and their weights (the cubic one from Keys' piecewise definition, a = -1/2).
struct AxisTaps {
  int count;
  int offset[4];
  double weight[4];
};

AxisTaps Taps(SampleKernel kernel, double f) {
  if (kernel == SampleKernel::Bilinear) return {2, {0, 1}, {1 - f, f}};
  const auto keys = [](double d) {
    d = std::fabs(d);
    return d <= 1 ? 1.5 * d * d * d - 2.5 * d * d + 1 : d < 2 ? -0.5 * d * d * d + 2.5 * d * d - 4 * d + 2 : 0.0;
  };
  return {4, {-1, 0, 1, 2}, {keys(1 + f), keys(f), keys(1 - f), keys(2 - f)}};
}

// Calls tap(x, y, weight) for every grid pixel observation o samples.
template <typename Tap>
void ForEachSampled(const ObservationModel& model, size_t o, Tap tap) {
  int ix = 0;
  int iy = 0;
  double fx = 0.0;
  double fy = 0.0;
  model.Cell(o, ix, iy, fx, fy);
  const AxisTaps across = Taps(model.Kernel(), fx);
  const AxisTaps down = Taps(model.Kernel(), fy);
  for (int j = 0; j < down.count; ++j) {
    for (int i = 0; i < across.count; ++i) {
      tap(ix + across.offset[i], iy + down.offset[j], across.weight[i] * down.weight[j]);
    }
  }
}

}  // namespace

void ReferenceBackend::Forward(const ObservationModel& model, const Plane& x, ObjectiveScratch& scratch) const {
  const Plane blurred = Blur(x, model.Taps());
  scratch.predicted.assign(model.ObservationCount(), 0.0);
  for (size_t o = 0; o < model.ObservationCount(); ++o) {
    ForEachSampled(model, o, [&](int px, int py, double w) { scratch.predicted[o] += w * blurred.At(px, py); });
  }
}

void ReferenceBackend::Adjoint(const ObservationModel& model, const std::vector<double>& r, Plane& out,
                               ObjectiveScratch&) const {
  Plane spread(model.GridWidth(), model.GridHeight());
  for (size_t o = 0; o < model.ObservationCount(); ++o) {
    ForEachSampled(model, o, [&](int px, int py, double w) { spread.At(px, py) += w * r[o]; });
  }
  out = BlurTransposed(spread, model.Taps());
}

double ReferenceBackend::Objective(const ObservationModel& model, int c, const EnhancedWeights& weights,
                                   const Plane& x, Plane& gradient, ObjectiveScratch& scratch) const {
  Forward(model, x, scratch);
  const std::vector<double> predicted = scratch.predicted;
  const std::vector<double>& values = model.Values(c);
  double energy = 0.0;
  double heldOutSum = 0.0;
  double heldOutWeight = 0.0;
  std::vector<double> slope(model.ObservationCount(), 0.0);
  for (int k = 0; k < model.FrameCount(); ++k) {
    const size_t i = static_cast<size_t>(k);
    const double frameWeight = i < weights.frame.size() ? weights.frame[i] : 1.0;
    const bool heldOut = i < weights.heldOut.size() && weights.heldOut[i] != 0;
    for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
      const double w = frameWeight * (weights.observation.empty() ? 1.0 : weights.observation[o]);
      const double d = predicted[o] - values[o];
      energy += w * Rho(d, weights.dataSmoothing);
      slope[o] = w * RhoSlope(d, weights.dataSmoothing);
      if (heldOut) {
        const double wo = weights.observation.empty() ? 1.0 : weights.observation[o];
        heldOutSum += wo * std::fabs(d);
        heldOutWeight += wo;
      }
    }
  }
  Adjoint(model, slope, gradient, scratch);
  scratch.heldOutError = heldOutWeight > 0.0 ? heldOutSum / heldOutWeight : std::numeric_limits<double>::quiet_NaN();
  scratch.heldOutWeight = heldOutWeight;

  const double a = weights.alpha;
  const struct {
    int dx, dy;
    double weight;
  } shifts[] = {{1, 0, a}, {0, 1, a}, {2, 0, a * a}, {1, 1, a * a}, {0, 2, a * a}};
  for (int py = 0; py < x.height; ++py) {
    for (int px = 0; px < x.width; ++px) {
      for (const auto& s : shifts) {
        if (px + s.dx >= x.width || py + s.dy >= x.height) continue;
        const double d = x.At(px, py) - x.At(px + s.dx, py + s.dy);
        energy += weights.lambda * s.weight * Rho(d, kPriorSmoothing);
        gradient.At(px, py) += weights.lambda * s.weight * RhoSlope(d, kPriorSmoothing);
        gradient.At(px + s.dx, py + s.dy) -= weights.lambda * s.weight * RhoSlope(d, kPriorSmoothing);
      }
    }
  }
  return energy;
}

void ExpectGradientIsTheObjectivesSlope(const EnhancedBackend& backend, const ObservationModel& model,
                                        const EnhancedWeights& weights, const Plane& x, std::mt19937& random,
                                        int trials) {
  ObjectiveScratch scratch;
  Plane gradient;
  backend.Objective(model, 1, weights, x, gradient, scratch);
  std::uniform_int_distribution<size_t> pick(0, x.v.size() - 1);
  constexpr double kStep = 1e-4;
  for (int t = 0; t < trials; ++t) {
    const size_t i = pick(random);
    SCOPED_TRACE(i);
    Plane plus = x;
    Plane minus = x;
    plus.v[i] += kStep;
    minus.v[i] -= kStep;
    Plane unused;
    const double numeric = (backend.Objective(model, 1, weights, plus, unused, scratch) -
                            backend.Objective(model, 1, weights, minus, unused, scratch)) /
                           (2.0 * kStep);
    EXPECT_NEAR(gradient.v[i], numeric, 1e-6 * std::max(1.0, std::fabs(numeric)));
  }
}

}  // namespace lumet::testing
