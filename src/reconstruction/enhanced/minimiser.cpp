#include "reconstruction/enhanced/minimiser.h"

#include <cmath>
#include <utility>

namespace lumet {

namespace {

double Dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}

// The two-loop recursion: direction = -H g from the curvature pairs; without any, the
// negative gradient scaled to move the estimate by one grey level RMS. False for a zero
// gradient (nothing to do).
bool QuasiNewtonDirection(const CurvatureHistory& h, const std::vector<double>& gradient,
                          std::vector<double>& direction) {
  const size_t n = gradient.size();
  for (size_t i = 0; i < n; ++i) direction[i] = -gradient[i];
  const size_t m = h.s.size();
  std::vector<double> alphas(m);
  for (size_t i = m; i-- > 0;) {
    alphas[i] = h.rho[i] * Dot(h.s[i], direction);
    for (size_t j = 0; j < n; ++j) direction[j] -= alphas[i] * h.y[i][j];
  }
  if (m > 0) {
    const double gamma = 1.0 / (h.rho.back() * Dot(h.y.back(), h.y.back()));
    for (double& d : direction) d *= gamma;
  } else {
    const double norm = std::sqrt(Dot(direction, direction) / static_cast<double>(n));
    if (!(norm > 0.0)) return false;
    for (double& d : direction) d /= norm;
  }
  for (size_t i = 0; i < m; ++i) {
    const double b = h.rho[i] * Dot(h.y[i], direction);
    for (size_t j = 0; j < n; ++j) direction[j] += (alphas[i] - b) * h.s[i][j];
  }
  return true;
}

}  // namespace

MinimiseResult MinimiseEnhanced(const EnhancedBackend& backend, const ObservationModel& model, int c,
                                const EnhancedWeights& weights, double stepScale, int maxIterations, double tolerance,
                                Plane& x, const IterationCallback& callback, CurvatureHistory* history) {
  constexpr int kMemory = 6;
  constexpr int kBacktracks = 30;
  constexpr double kSufficientDecrease = 1e-4;
  const size_t n = x.v.size();
  ObjectiveScratch scratch;
  Plane gradient;
  double f = backend.Objective(model, c, weights, x, gradient, scratch);
  CurvatureHistory own;
  CurvatureHistory& h = history != nullptr ? *history : own;
  std::vector<double> direction(n);
  Plane trial(x.width, x.height);
  Plane trialGradient;
  MinimiseResult result;

  for (int it = 1; it <= maxIterations; ++it) {
    if (!QuasiNewtonDirection(h, gradient.v, direction)) {
      result.converged = true;
      break;
    }
    double slope = Dot(direction, gradient.v);
    if (!(slope < 0.0)) {
      // Curvature pairs gone stale: start again from the gradient.
      h.s.clear();
      h.y.clear();
      h.rho.clear();
      const double norm = std::sqrt(Dot(gradient.v, gradient.v) / static_cast<double>(n));
      if (!(norm > 0.0)) {
        result.converged = true;
        break;
      }
      for (size_t i = 0; i < n; ++i) direction[i] = -gradient.v[i] / norm;
      slope = Dot(direction, gradient.v);
    }

    double t = stepScale;
    double fTrial = 0.0;
    bool accepted = false;
    for (int b = 0; b < kBacktracks; ++b) {
      for (size_t i = 0; i < n; ++i) trial.v[i] = x.v[i] + t * direction[i];
      fTrial = backend.Objective(model, c, weights, trial, trialGradient, scratch);
      if (std::isfinite(fTrial) && fTrial <= f + kSufficientDecrease * t * slope) {
        accepted = true;
        break;
      }
      t *= 0.5;
    }
    result.iterations = it;
    if (!accepted) {
      result.converged = true;  // no descent left at this precision
      break;
    }
    std::vector<double> s(n);
    std::vector<double> y(n);
    double change = 0.0;
    double size = 0.0;
    for (size_t i = 0; i < n; ++i) {
      s[i] = trial.v[i] - x.v[i];
      y[i] = trialGradient.v[i] - gradient.v[i];
      change += s[i] * s[i];
      size += trial.v[i] * trial.v[i];
    }
    const double sy = Dot(s, y);
    if (sy > 1e-12 * std::sqrt(Dot(s, s) * Dot(y, y))) {
      if (static_cast<int>(h.s.size()) == kMemory) {
        h.s.pop_front();
        h.y.pop_front();
        h.rho.pop_front();
      }
      h.s.push_back(std::move(s));
      h.y.push_back(std::move(y));
      h.rho.push_back(1.0 / sy);
    }
    std::swap(x.v, trial.v);
    std::swap(gradient.v, trialGradient.v);
    f = fTrial;
    if (callback && callback(it, scratch)) {
      result.converged = true;
      break;
    }
    if (std::sqrt(change) <= tolerance * std::sqrt(size)) {
      result.converged = true;
      break;
    }
  }
  return result;
}

}  // namespace lumet
