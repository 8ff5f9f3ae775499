#include "reconstruction/enhanced/minimiser.h"

#include <cmath>
#include <utility>

namespace lumet {

namespace {

// d += a * v over n values, returning the dot product of w with the updated d (w null: 0)
// and adding v . v into vv when asked: two or three passes in one, each sum in index order
// as its own loop would take it.
template <bool kDot, bool kNorm>
double Update(double* __restrict d, double a, const double* __restrict v, const double* __restrict w, size_t n,
              double& vv) {
  double dot = 0.0;
  double norm = vv;
  for (size_t j = 0; j < n; ++j) {
    d[j] += a * v[j];
    if constexpr (kDot) dot += w[j] * d[j];
    if constexpr (kNorm) norm += v[j] * v[j];
  }
  vv = norm;
  return dot;
}

double Update(double* d, double a, const double* v, const double* w, size_t n) {
  double unused = 0.0;
  return w != nullptr ? Update<true, false>(d, a, v, w, n, unused) : Update<false, false>(d, a, v, w, n, unused);
}

// The two-loop recursion: direction = -H g from the curvature pairs; without any, the
// negative gradient scaled to move the estimate by one grey level RMS. False for a zero
// gradient (nothing to do). slope = direction . gradient. Every vector pass also takes the
// dot product the next step needs; alphas holds one value per pair.
bool QuasiNewtonDirection(const CurvatureHistory& h, const std::vector<double>& gradient,
                          std::vector<double>& direction, std::vector<double>& alphas, double& slope) {
  const size_t n = gradient.size();
  const size_t m = h.s.size();
  double* d = direction.data();
  const double* g = gradient.data();
  if (m == 0) {
    double dd = 0.0;
    for (size_t j = 0; j < n; ++j) {
      d[j] = -g[j];
      dd += d[j] * d[j];
    }
    const double norm = std::sqrt(dd / static_cast<double>(n));
    if (!(norm > 0.0)) return false;
    double dg = 0.0;
    for (size_t j = 0; j < n; ++j) {
      d[j] /= norm;
      dg += d[j] * g[j];
    }
    slope = dg;
    return true;
  }
  alphas.resize(m);
  double dot = 0.0;  // s[i] . direction for the next i
  {
    const double* s = h.s[m - 1].data();
    for (size_t j = 0; j < n; ++j) {
      d[j] = -g[j];
      dot += s[j] * d[j];
    }
  }
  double yy = 0.0;  // y[m - 1] . y[m - 1]
  for (size_t i = m; i-- > 0;) {
    alphas[i] = h.rho[i] * dot;
    const double* next = i > 0 ? h.s[i - 1].data() : nullptr;
    if (i == m - 1) {
      dot = next != nullptr ? Update<true, true>(d, -alphas[i], h.y[i].data(), next, n, yy)
                            : Update<false, true>(d, -alphas[i], h.y[i].data(), next, n, yy);
    } else {
      dot = Update(d, -alphas[i], h.y[i].data(), next, n);
    }
  }
  const double gamma = 1.0 / (h.rho.back() * yy);
  {
    const double* y = h.y[0].data();
    dot = 0.0;  // y[i] . direction for the next i
    for (size_t j = 0; j < n; ++j) {
      d[j] *= gamma;
      dot += y[j] * d[j];
    }
  }
  for (size_t i = 0; i < m; ++i) {
    const double b = h.rho[i] * dot;
    const double* next = i + 1 < m ? h.y[i + 1].data() : g;
    dot = Update(d, alphas[i] - b, h.s[i].data(), next, n);
  }
  slope = dot;
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

  std::vector<double> alphas;
  // The next curvature pair's vectors, made once and then recycled from the oldest pair.
  std::vector<double> s(n);
  std::vector<double> y(n);

  for (int it = 1; it <= maxIterations; ++it) {
    double slope = 0.0;
    if (!QuasiNewtonDirection(h, gradient.v, direction, alphas, slope)) {
      result.converged = true;
      break;
    }
    if (!(slope < 0.0)) {
      // Curvature pairs gone stale: start again from the gradient.
      h.s.clear();
      h.y.clear();
      h.rho.clear();
      if (!QuasiNewtonDirection(h, gradient.v, direction, alphas, slope)) {
        result.converged = true;
        break;
      }
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
    double change = 0.0;  // s . s
    double size = 0.0;
    double sy = 0.0;
    double yy = 0.0;
    for (size_t i = 0; i < n; ++i) {
      s[i] = trial.v[i] - x.v[i];
      y[i] = trialGradient.v[i] - gradient.v[i];
      change += s[i] * s[i];
      size += trial.v[i] * trial.v[i];
      sy += s[i] * y[i];
      yy += y[i] * y[i];
    }
    if (sy > 1e-12 * std::sqrt(change * yy)) {
      std::vector<double> oldS;
      std::vector<double> oldY;
      if (static_cast<int>(h.s.size()) == kMemory) {
        oldS = std::move(h.s.front());
        oldY = std::move(h.y.front());
        h.s.pop_front();
        h.y.pop_front();
        h.rho.pop_front();
      }
      h.s.push_back(std::move(s));
      h.y.push_back(std::move(y));
      h.rho.push_back(1.0 / sy);
      s = std::move(oldS);
      y = std::move(oldY);
      s.resize(n);
      y.resize(n);
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
