#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "reconstruction/enhanced/backend.h"
#include "reconstruction/enhanced/loops.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// Observations a block of the data term holds: its partial sums are added in block order,
// so the total does not depend on how many threads took the blocks.
constexpr size_t kDataBlock = 2048;

// A run of observations of one frame, and its partial sums.
struct DataBlock {
  int frame;
  size_t begin;
  size_t end;
  double energy;
  double heldOutSum;
  double heldOutWeight;
};

// The data term at the blurred estimate, rho of every observation's residual weighted by
// its frame's and its own weight, in T; r receives the derivative of the term in each
// prediction. Each block samples its own predictions first, while they stay in cache. Sets
// the held-out error and weight of scratch.
template <class T>
double DataTerm(const ObservationModel& model, int c, const EnhancedWeights& weights, const PlaneOf<T>& blurred,
                std::vector<T>& r, ObjectiveScratch& scratch) {
  const std::vector<double>& values = model.Values(c);
  r.resize(model.ObservationCount());
  const T eps = static_cast<T>(weights.dataSmoothing);
  const bool perObservation = !weights.observation.empty();
  const detail::ModelLoops<T>& loops = detail::ActiveEnhancedLoops().Of<T>();
  std::vector<DataBlock> blocks;
  for (int k = 0; k < model.FrameCount(); ++k) {
    for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); o += kDataBlock) {
      blocks.push_back({k, o, std::min(o + kDataBlock, model.FrameEnd(k)), 0.0, 0.0, 0.0});
    }
  }
  ParallelFor(0, static_cast<int>(blocks.size()), static_cast<long>(kDataBlock) * 16, [&](int first, int last) {
    for (int b = first; b < last; ++b) {
      DataBlock& block = blocks[static_cast<size_t>(b)];
      model.Sample(blurred, block.begin, block.end, r.data() + block.begin);
      const size_t i = static_cast<size_t>(block.frame);
      const double wk = i < weights.frame.size() ? weights.frame[i] : 1.0;
      const bool measured = i < weights.heldOut.size() && weights.heldOut[i] != 0;
      double heldOutSum = 0.0;
      double heldOutWeight = 0.0;
      if (measured) {
        for (size_t o = block.begin; o < block.end; ++o) {
          const double wo = perObservation ? weights.observation[o] : 1.0;
          heldOutSum += wo * std::fabs(r[o] - values[o]);
          heldOutWeight += wo;
        }
      }
      double energy = 0.0;
      if (wk == 0.0) {
        std::fill(r.begin() + static_cast<std::ptrdiff_t>(block.begin), r.begin() + static_cast<std::ptrdiff_t>(block.end),
                  T(0));
      } else {
        const float* ow = perObservation ? weights.observation.data() + block.begin : nullptr;
        energy = loops.dataTerm(r.data() + block.begin, values.data() + block.begin, ow, static_cast<T>(wk), eps,
                                block.end - block.begin);
      }
      block.energy = energy;
      block.heldOutSum = heldOutSum;
      block.heldOutWeight = heldOutWeight;
    }
  });
  double energy = 0.0;
  double heldOutSum = 0.0;
  double heldOutWeight = 0.0;
  for (const DataBlock& block : blocks) {
    energy += block.energy;
    heldOutSum += block.heldOutSum;
    heldOutWeight += block.heldOutWeight;
  }
  scratch.heldOutError = heldOutWeight > 0.0 ? heldOutSum / heldOutWeight : std::numeric_limits<double>::quiet_NaN();
  scratch.heldOutWeight = heldOutWeight;
  return energy;
}

// The prior: five shifts, distance 1 weighted alpha, distance 2 alpha^2. Each pair's term
// is computed once, at its first pixel, and its derivative is added there and subtracted at
// the second pixel; the gradient takes the terms in the same order as pixel by pixel, so its
// values are those of a loop that visits each pixel's ten pairs. The pairs' terms are formed
// in T, their sums in double. Adds lambda times the prior's gradient into gradient and
// returns its energy.
template <class T>
double Prior(const EnhancedWeights& weights, const PlaneOf<T>& x, Plane& gradient) {
  struct Shift {
    int dx;
    int dy;
    double weight;
  };
  const double a = weights.alpha;
  const Shift shifts[5] = {{1, 0, a}, {0, 1, a}, {2, 0, a * a}, {1, 1, a * a}, {0, 2, a * a}};
  constexpr int kShifts = 5;
  constexpr int kRing = 3;  // the rows a pixel's backward pairs start on: y, y - 1, y - 2
  const double lambda = weights.lambda;
  const double ep = kPriorSmoothing;
  const int w = x.width;
  const int hgt = x.height;
  const auto pairs = detail::ActiveEnhancedLoops().Of<T>().priorPairs;
  const auto priorGradient = detail::ActiveEnhancedLoops().Of<T>().priorGradient;
  std::vector<double> rowEnergy(static_cast<size_t>(hgt), 0.0);
  ParallelFor(0, hgt, static_cast<long>(w) * 30, [&](int first, int last) {
    const size_t wide = static_cast<size_t>(w);
    // slope[(s * kRing + y % kRing) * w + px]: the derivative of the pair (px, y), (px, y) + shift s.
    std::vector<T> slope(kShifts * kRing * wide);
    auto slopeRow = [&](int s, int y) { return slope.data() + (static_cast<size_t>(s) * kRing + y % kRing) * wide; };
    // The pairs starting on row y; returns their energy.
    auto pairRow = [&](int y) {
      double e = 0.0;
      for (int s = 0; s < kShifts; ++s) {
        const Shift& sh = shifts[s];
        if (y + sh.dy >= hgt || sh.dx >= w) continue;
        const T* here = x.v.data() + static_cast<size_t>(y) * wide;
        const T* there = x.v.data() + static_cast<size_t>(y + sh.dy) * wide + sh.dx;
        e += pairs(here, there, w - sh.dx, static_cast<T>(sh.weight), static_cast<T>(ep), slopeRow(s, y));
      }
      return e;
    };
    // The ten pair derivatives at (px, y), each pair that lies inside, shift by shift.
    auto pixel = [&](int px, int y) {
      double g = 0.0;
      for (int s = 0; s < kShifts; ++s) {
        const Shift& sh = shifts[s];
        if (px + sh.dx < w && y + sh.dy < hgt) g += slopeRow(s, y)[px];
        if (px - sh.dx >= 0 && y - sh.dy >= 0) g -= slopeRow(s, y - sh.dy)[px - sh.dx];
      }
      return g;
    };
    // The rows above the first whose pairs reach into it (another range's, computed again).
    for (int y = std::max(0, first - (kRing - 1)); y < first; ++y) pairRow(y);
    for (int y = first; y < last; ++y) {
      const double e = pairRow(y);
      double* out = gradient.v.data() + static_cast<size_t>(y) * wide;
      // Away from the edges every pair is inside: the same sum in one expression.
      const bool inner = y >= 2 && y + 2 < hgt && w > 4;
      const int lo = inner ? 2 : w;
      const int hi = inner ? w - 2 : w;
      for (int px = 0; px < std::min(lo, w); ++px) out[px] += lambda * pixel(px, y);
      if (inner) {
        const T* forward[kShifts] = {slopeRow(0, y), slopeRow(1, y), slopeRow(2, y), slopeRow(3, y), slopeRow(4, y)};
        const T* above[2] = {slopeRow(1, y - 1), slopeRow(3, y - 1)};
        priorGradient(forward, above, slopeRow(4, y - 2), lambda, lo, hi, out);
      }
      for (int px = hi; px < w; ++px) out[px] += lambda * pixel(px, y);
      rowEnergy[static_cast<size_t>(y)] = lambda * e;
    }
  });
  double energy = 0.0;
  for (double e : rowEnergy) energy += e;
  return energy;
}

// The engine's own loops: the forward model's blur on the thread pool (ObservationModel),
// the sampling and the data term together in blocks of observations, the splat in bands of
// rows, the prior row by row.
class CpuBackend : public EnhancedBackend {
 public:
  std::string Name() const override { return kDoubleBackend; }

  void Forward(const ObservationModel& model, const Plane& x, ObjectiveScratch& scratch) const override {
    model.Forward(x, scratch.predicted, scratch.blurred, &scratch.rows);
  }

  void Adjoint(const ObservationModel& model, const std::vector<double>& r, Plane& out,
               ObjectiveScratch& scratch) const override {
    model.Adjoint(r, out, scratch.scatter, &scratch.rows);
  }

  double Objective(const ObservationModel& model, int c, const EnhancedWeights& weights, const Plane& x,
                   Plane& gradient, ObjectiveScratch& scratch) const override {
    BlurZero(x, model.Taps(), scratch.blurred, &scratch.rows);
    double energy = DataTerm(model, c, weights, scratch.blurred, scratch.predicted, scratch);
    model.Adjoint(scratch.predicted, gradient, scratch.scatter, &scratch.rows);
    if (weights.lambda != 0.0) energy += Prior(weights, x, gradient);
    return energy;
  }
};

// out = source converted to U, element by element on the thread pool.
template <class T, class U>
void Convert(const PlaneOf<T>& source, PlaneOf<U>& out) {
  out.Resize(source.width, source.height);
  const T* from = source.v.data();
  U* to = out.v.data();
  constexpr int kChunk = 16384;
  const int chunks = static_cast<int>((source.v.size() + kChunk - 1) / kChunk);
  ParallelFor(0, chunks, kChunk, [&](int first, int last) {
    const size_t end = std::min(source.v.size(), static_cast<size_t>(last) * kChunk);
    for (size_t i = static_cast<size_t>(first) * kChunk; i < end; ++i) to[i] = static_cast<U>(from[i]);
  });
}

// The same loops with the objective's inner evaluation in single precision: the estimate
// rounded to float is blurred, sampled, compared with the frames and spread back in float,
// at twice the values a vector and half the memory traffic; energies and the gradient's
// prior sums are taken in double, and the quasi-Newton steps stay in double. Forward and
// Adjoint, which set the frames' weights and the PSF check's residuals, are the double
// backend's.
class SingleCpuBackend final : public CpuBackend {
 public:
  std::string Name() const override { return kSingleBackend; }

  double Objective(const ObservationModel& model, int c, const EnhancedWeights& weights, const Plane& x,
                   Plane& gradient, ObjectiveScratch& scratch) const override {
    SingleScratch& f = scratch.single;
    f.taps.assign(model.Taps().begin(), model.Taps().end());
    Convert(x, f.x);
    BlurZero(f.x, f.taps, f.blurred, &f.rows);
    double energy = DataTerm(model, c, weights, f.blurred, f.predicted, scratch);
    model.Splat(f.predicted.data(), f.scatter, model.Kernel());
    BlurZero(f.scatter, f.taps, f.gradient, &f.rows);
    Convert(f.gradient, gradient);
    if (weights.lambda != 0.0) energy += Prior(weights, f.x, gradient);
    return energy;
  }
};

}  // namespace

double EnhancedPrior(const EnhancedWeights& weights, const Plane& x, Plane& gradient) {
  return Prior(weights, x, gradient);
}

const EnhancedBackend& CpuEnhancedBackend() {
  static const CpuBackend backend;
  return backend;
}

const EnhancedBackend& SingleCpuEnhancedBackend() {
  static const SingleCpuBackend backend;
  return backend;
}

}  // namespace lumet
