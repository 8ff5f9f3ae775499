#include "reconstruction/enhanced/minimiser.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "reconstruction/enhanced/loops.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// The vector passes of an iteration run over fixed blocks of the estimate on the thread pool;
// each of their sums is taken in four interleaved partial sums per block (lane j % 4), added
// pairwise, and the blocks' sums in block order: the same value for every thread count, and
// four chains of additions where one would wait on each other.
constexpr size_t kBlock = 4096;
constexpr int kLanes = 4;

// K sums: of one block, or of all.
template <int K>
struct Sums {
  double v[K] = {};
};

// body(j, lane, acc) handles element j, adding into acc[k][lane]; the pass returns the K sums.
template <int K, typename Body>
Sums<K> Pass(size_t n, std::vector<Sums<K>>& partials, long workPerElement, const Body& body) {
  const size_t blocks = (n + kBlock - 1) / kBlock;
  partials.assign(blocks, Sums<K>{});
  ParallelFor(0, static_cast<int>(blocks), static_cast<long>(kBlock) * workPerElement, [&](int first, int last) {
    for (int b = first; b < last; ++b) {
      const size_t begin = static_cast<size_t>(b) * kBlock;
      const size_t end = std::min(n, begin + kBlock);
      double acc[K][kLanes] = {};
      size_t j = begin;
      for (; j + kLanes <= end; j += kLanes) {
        for (int lane = 0; lane < kLanes; ++lane) body(j + static_cast<size_t>(lane), lane, acc);
      }
      for (int lane = 0; j < end; ++j, ++lane) body(j, lane, acc);
      for (int k = 0; k < K; ++k) {
        partials[static_cast<size_t>(b)].v[k] = (acc[k][0] + acc[k][1]) + (acc[k][2] + acc[k][3]);
      }
    }
  });
  Sums<K> total;
  for (const Sums<K>& p : partials) {
    for (int k = 0; k < K; ++k) total.v[k] += p.v[k];
  }
  return total;
}

// Scratch of the passes.
struct PassScratch {
  std::vector<Sums<1>> one;
  std::vector<Sums<2>> two;
  std::vector<Sums<4>> four;
};

// d += a * v, returning w . d of the updated d (w null: nothing) and, when norm is given,
// v . v into it: two or three passes in one.
double Update(double* d, double a, const double* v, const double* w, size_t n, PassScratch& scratch,
              double* norm = nullptr) {
  if (norm != nullptr) {
    const Sums<2> sums = Pass<2>(n, scratch.two, 6, [&](size_t j, int lane, double (&acc)[2][kLanes]) {
      d[j] += a * v[j];
      acc[0][lane] += w != nullptr ? w[j] * d[j] : 0.0;
      acc[1][lane] += v[j] * v[j];
    });
    *norm = sums.v[1];
    return sums.v[0];
  }
  if (w == nullptr) {
    Pass<1>(n, scratch.one, 2, [&](size_t j, int, double (&)[1][kLanes]) { d[j] += a * v[j]; });
    return 0.0;
  }
  // The pass taken most often, in the instruction set's own body.
  const auto axpyDot = detail::ActiveEnhancedLoops().axpyDot;
  const size_t blocks = (n + kBlock - 1) / kBlock;
  scratch.one.assign(blocks, Sums<1>{});
  ParallelFor(0, static_cast<int>(blocks), static_cast<long>(kBlock) * 4, [&](int first, int last) {
    for (int b = first; b < last; ++b) {
      const size_t begin = static_cast<size_t>(b) * kBlock;
      const size_t count = std::min(n, begin + kBlock) - begin;
      scratch.one[static_cast<size_t>(b)].v[0] = axpyDot(d + begin, a, v + begin, w + begin, count);
    }
  });
  double total = 0.0;
  for (const Sums<1>& p : scratch.one) total += p.v[0];
  return total;
}

// The two-loop recursion: direction = -H g from the curvature pairs; without any, the
// negative gradient scaled to move the estimate by one grey level RMS. False for a zero
// gradient (nothing to do). slope = direction . gradient. Every vector pass also takes the
// dot product the next step needs; alphas holds one value per pair.
bool QuasiNewtonDirection(const CurvatureHistory& h, const std::vector<double>& gradient,
                          std::vector<double>& direction, std::vector<double>& alphas, double& slope,
                          PassScratch& scratch) {
  const size_t n = gradient.size();
  const size_t m = h.s.size();
  double* d = direction.data();
  const double* g = gradient.data();
  if (m == 0) {
    const double dd = Pass<1>(n, scratch.one, 3, [&](size_t j, int lane, double (&acc)[1][kLanes]) {
                        d[j] = -g[j];
                        acc[0][lane] += d[j] * d[j];
                      }).v[0];
    const double norm = std::sqrt(dd / static_cast<double>(n));
    if (!(norm > 0.0)) return false;
    slope = Pass<1>(n, scratch.one, 4, [&](size_t j, int lane, double (&acc)[1][kLanes]) {
              d[j] /= norm;
              acc[0][lane] += d[j] * g[j];
            }).v[0];
    return true;
  }
  alphas.resize(m);
  const double* last = h.s[m - 1].data();
  // s[i] . direction for the next i.
  double dot = Pass<1>(n, scratch.one, 3, [&](size_t j, int lane, double (&acc)[1][kLanes]) {
                 d[j] = -g[j];
                 acc[0][lane] += last[j] * d[j];
               }).v[0];
  double yy = 0.0;  // y[m - 1] . y[m - 1]
  for (size_t i = m; i-- > 0;) {
    alphas[i] = h.rho[i] * dot;
    const double* next = i > 0 ? h.s[i - 1].data() : nullptr;
    dot = Update(d, -alphas[i], h.y[i].data(), next, n, scratch, i == m - 1 ? &yy : nullptr);
  }
  const double gamma = 1.0 / (h.rho.back() * yy);
  const double* first = h.y[0].data();
  // y[i] . direction for the next i.
  dot = Pass<1>(n, scratch.one, 4, [&](size_t j, int lane, double (&acc)[1][kLanes]) {
          d[j] *= gamma;
          acc[0][lane] += first[j] * d[j];
        }).v[0];
  for (size_t i = 0; i < m; ++i) {
    const double b = h.rho[i] * dot;
    const double* next = i + 1 < m ? h.y[i + 1].data() : g;
    dot = Update(d, alphas[i] - b, h.s[i].data(), next, n, scratch);
  }
  slope = dot;
  return true;
}

constexpr int kMemory = 6;
constexpr int kBacktracks = 30;
constexpr double kSufficientDecrease = 1e-4;

// Halves the step from stepScale along direction until objective(trial) decreases enough
// (Armijo); trial and its gradient hold the step taken. False when no step within
// kBacktracks halvings does.
template <typename Objective>
bool Backtrack(const Objective& objective, const Plane& x, const std::vector<double>& direction, double f,
               double slope, double stepScale, Plane& trial, Plane& trialGradient, double& fTrial,
               PassScratch& passes) {
  const size_t n = x.v.size();
  double t = stepScale;
  for (int b = 0; b < kBacktracks; ++b) {
    double* tv = trial.v.data();
    const double* xv = x.v.data();
    const double* dv = direction.data();
    Pass<1>(n, passes.one, 2, [&](size_t i, int, double (&)[1][kLanes]) { tv[i] = xv[i] + t * dv[i]; });
    fTrial = objective(trial, trialGradient);
    if (std::isfinite(fTrial) && fTrial <= f + kSufficientDecrease * t * slope) return true;
    t *= 0.5;
  }
  return false;
}

// Keeps the curvature pair (s, y) of s . y = sy, dropping the oldest beyond kMemory; s and
// y come back as the dropped pair's vectors (or fresh ones), of the same size, to reuse.
void Remember(CurvatureHistory& h, std::vector<double>& s, std::vector<double>& y, double sy) {
  const size_t n = s.size();
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

}  // namespace

MinimiseResult MinimiseEnhanced(const EnhancedBackend& backend, const ObservationModel& model, int c,
                                const EnhancedWeights& weights, double stepScale, int maxIterations, double tolerance,
                                Plane& x, const IterationCallback& callback, CurvatureHistory* history) {
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
  PassScratch passes;
  // The next curvature pair's vectors, made once and then recycled from the oldest pair.
  std::vector<double> s(n);
  std::vector<double> y(n);

  for (int it = 1; it <= maxIterations; ++it) {
    double slope = 0.0;
    if (!QuasiNewtonDirection(h, gradient.v, direction, alphas, slope, passes)) {
      result.converged = true;
      break;
    }
    if (!(slope < 0.0)) {
      // Curvature pairs gone stale: start again from the gradient.
      h.s.clear();
      h.y.clear();
      h.rho.clear();
      if (!QuasiNewtonDirection(h, gradient.v, direction, alphas, slope, passes)) {
        result.converged = true;
        break;
      }
    }

    double fTrial = 0.0;
    const bool accepted = Backtrack(
        [&](Plane& at, Plane& atGradient) { return backend.Objective(model, c, weights, at, atGradient, scratch); },
        x, direction, f, slope, stepScale, trial, trialGradient, fTrial, passes);
    result.iterations = it;
    if (!accepted) {
      result.converged = true;  // no descent left at this precision
      break;
    }
    const double* tv = trial.v.data();
    const double* xv = x.v.data();
    const double* tg = trialGradient.v.data();
    const double* gv = gradient.v.data();
    double* sv = s.data();
    double* yv = y.data();
    const Sums<4> sums = Pass<4>(n, passes.four, 10, [&](size_t i, int lane, double (&acc)[4][kLanes]) {
      sv[i] = tv[i] - xv[i];
      yv[i] = tg[i] - gv[i];
      acc[0][lane] += sv[i] * sv[i];
      acc[1][lane] += tv[i] * tv[i];
      acc[2][lane] += sv[i] * yv[i];
      acc[3][lane] += yv[i] * yv[i];
    });
    const double change = sums.v[0];  // s . s
    const double size = sums.v[1];
    const double sy = sums.v[2];
    const double yy = sums.v[3];
    if (sy > 1e-12 * std::sqrt(change * yy)) Remember(h, s, y, sy);
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
