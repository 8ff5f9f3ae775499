#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "reconstruction/enhanced/backend.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// The engine's own loops: the forward model's blur and sampling on the thread pool
// (ObservationModel), the data term in observation order, the prior row by row.
class CpuBackend final : public EnhancedBackend {
 public:
  std::string Name() const override { return kDefaultBackend; }

  void Forward(const ObservationModel& model, const Plane& x, ObjectiveScratch& scratch) const override {
    model.Forward(x, scratch.predicted, scratch.blurred);
  }

  void Adjoint(const ObservationModel& model, const std::vector<double>& r, Plane& out,
               ObjectiveScratch& scratch) const override {
    model.Adjoint(r, out, scratch.scatter);
  }

  double Objective(const ObservationModel& model, int c, const EnhancedWeights& weights, const Plane& x,
                   Plane& gradient, ObjectiveScratch& scratch) const override {
    model.Forward(x, scratch.predicted, scratch.blurred);
    const std::vector<double>& values = model.Values(c);
    std::vector<double>& r = scratch.predicted;
    const double eps = weights.dataSmoothing;
    const bool perObservation = !weights.observation.empty();
    double energy = 0.0;
    double heldOutSum = 0.0;
    double heldOutWeight = 0.0;
    for (int k = 0; k < model.FrameCount(); ++k) {
      const size_t i = static_cast<size_t>(k);
      const double wk = i < weights.frame.size() ? weights.frame[i] : 1.0;
      const bool measured = i < weights.heldOut.size() && weights.heldOut[i] != 0;
      for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
        const double wo = perObservation ? weights.observation[o] : 1.0;
        if (measured) {
          heldOutSum += wo * std::fabs(r[o] - values[o]);
          heldOutWeight += wo;
        }
        if (wk == 0.0) {
          r[o] = 0.0;
          continue;
        }
        const double d = r[o] - values[o];
        const double root = std::sqrt(d * d + eps * eps);
        energy += wk * wo * (root - eps);
        r[o] = wk * wo * d / root;
      }
    }
    scratch.heldOutError = heldOutWeight > 0.0 ? heldOutSum / heldOutWeight : std::numeric_limits<double>::quiet_NaN();
    scratch.heldOutWeight = heldOutWeight;
    model.Adjoint(r, gradient, scratch.scatter);

    // The prior: five shifts, distance 1 weighted alpha, distance 2 alpha^2.
    struct Shift {
      int dx;
      int dy;
      double weight;
    };
    const double a = weights.alpha;
    const Shift shifts[5] = {{1, 0, a}, {0, 1, a}, {2, 0, a * a}, {1, 1, a * a}, {0, 2, a * a}};
    const double lambda = weights.lambda;
    const double ep = kPriorSmoothing;
    const int w = x.width;
    const int hgt = x.height;
    std::vector<double> rowEnergy(static_cast<size_t>(hgt), 0.0);
    if (lambda != 0.0) {
      ParallelFor(0, hgt, static_cast<long>(w) * 30, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
          double e = 0.0;
          for (int px = 0; px < w; ++px) {
            const double centre = x.At(px, y);
            double g = 0.0;
            for (const Shift& s : shifts) {
              if (px + s.dx < w && y + s.dy < hgt) {
                const double d = centre - x.At(px + s.dx, y + s.dy);
                const double root = std::sqrt(d * d + ep * ep);
                e += s.weight * (root - ep);
                g += s.weight * d / root;
              }
              if (px - s.dx >= 0 && y - s.dy >= 0) {
                const double d = x.At(px - s.dx, y - s.dy) - centre;
                g -= s.weight * d / std::sqrt(d * d + ep * ep);
              }
            }
            gradient.At(px, y) += lambda * g;
          }
          rowEnergy[static_cast<size_t>(y)] = lambda * e;
        }
      });
    }
    for (double e : rowEnergy) energy += e;
    return energy;
  }
};

}  // namespace

const EnhancedBackend& CpuEnhancedBackend() {
  static const CpuBackend backend;
  return backend;
}

}  // namespace lumet
