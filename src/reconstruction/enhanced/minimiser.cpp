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
// The most sums one pass takes (StepDots).
constexpr int kHistorySums = 7 + 2 * kCurvaturePairs;

// K sums: of one block, or of all.
template <int K>
struct Sums {
  double v[K] = {};
};

// body(begin, count, lanes) over the fixed blocks on the thread pool, adding each of its K
// sums of the block into lanes[k][0 .. 3] (element j into lane j % 4); each block's sums are
// added pairwise and the blocks' in block order.
template <int K, typename Body>
Sums<K> BlockPass(size_t n, std::vector<Sums<K>>& partials, long workPerElement, const Body& body) {
  const size_t blocks = (n + kBlock - 1) / kBlock;
  partials.assign(blocks, Sums<K>{});
  ParallelFor(0, static_cast<int>(blocks), static_cast<long>(kBlock) * workPerElement, [&](int first, int last) {
    for (int b = first; b < last; ++b) {
      const size_t begin = static_cast<size_t>(b) * kBlock;
      double lanes[K][kLanes] = {};
      body(begin, std::min(n, begin + kBlock) - begin, lanes);
      for (int k = 0; k < K; ++k) {
        partials[static_cast<size_t>(b)].v[k] = (lanes[k][0] + lanes[k][1]) + (lanes[k][2] + lanes[k][3]);
      }
    }
  });
  Sums<K> total;
  for (const Sums<K>& p : partials) {
    for (int k = 0; k < K; ++k) total.v[k] += p.v[k];
  }
  return total;
}

// body(j, lane, acc) handles element j, adding into acc[k][lane]; the pass returns the K sums.
template <int K, typename Body>
Sums<K> Pass(size_t n, std::vector<Sums<K>>& partials, long workPerElement, const Body& body) {
  return BlockPass<K>(n, partials, workPerElement, [&](size_t begin, size_t count, double (&acc)[K][kLanes]) {
    const size_t end = begin + count;
    size_t j = begin;
    for (; j + kLanes <= end; j += kLanes) {
      for (int lane = 0; lane < kLanes; ++lane) body(j + static_cast<size_t>(lane), lane, acc);
    }
    for (int lane = 0; j < end; ++j, ++lane) body(j, lane, acc);
  });
}

// Scratch of the passes.
struct PassScratch {
  std::vector<Sums<1>> one;
  std::vector<Sums<kHistorySums>> many;
};

// direction = -g scaled to move the estimate by one grey level RMS; slope = direction . g.
// False for a zero gradient (nothing to do).
bool GradientDirection(const std::vector<double>& gradient, std::vector<double>& direction, double& slope,
                       PassScratch& scratch) {
  const size_t n = gradient.size();
  double* d = direction.data();
  const double* g = gradient.data();
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

// The vectors of the pairs kept, oldest first.
struct PairVectors {
  const float* s[kCurvaturePairs] = {};
  const float* y[kCurvaturePairs] = {};
  int m = 0;
  explicit PairVectors(const CurvatureHistory& h) : m(h.Pairs()) {
    for (int i = 0; i < m; ++i) {
      s[i] = h.s[static_cast<size_t>(i)].data();
      y[i] = h.y[static_cast<size_t>(i)].data();
    }
  }
};

// g . g, then s_i . g and y_i . g of the pairs kept.
Sums<kHistorySums> GradientDots(size_t n, const double* g, const PairVectors& p, PassScratch& scratch) {
  const detail::EnhancedLoops& loops = detail::ActiveEnhancedLoops();
  using Lanes = double[kHistorySums][kLanes];
  return BlockPass<kHistorySums>(n, scratch.many, 4 * p.m + 2, [&](size_t begin, size_t count, Lanes& lanes) {
    const double* gg[1] = {g + begin};
    loops.multiDot(gg, gg, 1, count, lanes);
    const float* a[2 * kCurvaturePairs] = {};
    for (int i = 0; i < p.m; ++i) {
      a[i] = p.s[i] + begin;
      a[p.m + i] = p.y[i] + begin;
    }
    loops.dotsWithDouble(a, 2 * p.m, g + begin, count, lanes + 1);
  });
}

// The sums of a step's pass (StepDots), of s and y as kept.
struct StepSums {
  double ss = 0.0;    // s . s
  double tt = 0.0;    // trial . trial
  double sy = 0.0;    // s . y
  double yy = 0.0;    // y . y
  double stg = 0.0;   // s . tg, tg the trial's gradient
  double ytg = 0.0;   // y . tg
  double tgtg = 0.0;  // tg . tg
  double withOld[2 * kCurvaturePairs] = {};  // s_i . y, then y_i . y, of the pairs kept
};

// The step's pass: s = trial - x and y = trialGradient - gradient written (in float), and
// their sums.
StepSums StepDots(size_t n, const double* tv, const double* xv, const double* tg, const double* gv,
                  const PairVectors& p, float* sv, float* yv, PassScratch& scratch) {
  const detail::EnhancedLoops& loops = detail::ActiveEnhancedLoops();
  using Lanes = double[kHistorySums][kLanes];
  // The rows of the sums: s . y, y . y and the pairs' products with y, then s . s, then
  // trial . trial and tg . tg, then s . tg and y . tg.
  const int withY = 2 + 2 * p.m;
  const Sums<kHistorySums> sums =
      BlockPass<kHistorySums>(n, scratch.many, 4 * p.m + 18, [&](size_t begin, size_t count, Lanes& lanes) {
        for (size_t j = begin; j < begin + count; ++j) {
          sv[j] = static_cast<float>(tv[j] - xv[j]);
          yv[j] = static_cast<float>(tg[j] - gv[j]);
        }
        const float* s = sv + begin;
        const float* y = yv + begin;
        const float* a[2 + 2 * kCurvaturePairs] = {s, y};
        for (int i = 0; i < p.m; ++i) {
          a[2 + i] = p.s[i] + begin;
          a[2 + p.m + i] = p.y[i] + begin;
        }
        loops.dotsWithSingle(a, withY, y, count, lanes);
        loops.dotsWithSingle(a, 1, s, count, lanes + withY);
        const double* both[2] = {tv + begin, tg + begin};
        loops.multiDot(both, both, 2, count, lanes + withY + 1);
        loops.dotsWithDouble(a, 2, tg + begin, count, lanes + withY + 3);
      });
  StepSums out;
  out.sy = sums.v[0];
  out.yy = sums.v[1];
  for (int i = 0; i < 2 * p.m; ++i) out.withOld[i] = sums.v[2 + i];
  out.ss = sums.v[withY];
  out.tt = sums.v[withY + 1];
  out.tgtg = sums.v[withY + 2];
  out.stg = sums.v[withY + 3];
  out.ytg = sums.v[withY + 4];
  return out;
}

// d = g0 g + the sum of cs_i s_i, then of cy_i y_i, over the pairs kept, added in that order.
void Combine(size_t n, const double* g, double g0, const PairVectors& p, const double* cs, const double* cy,
             double* d) {
  const auto combine = detail::ActiveEnhancedLoops().combine;
  double c[2 * kCurvaturePairs] = {};
  for (int i = 0; i < p.m; ++i) {
    c[i] = cs[i];
    c[p.m + i] = cy[i];
  }
  const size_t blocks = (n + kBlock - 1) / kBlock;
  ParallelFor(0, static_cast<int>(blocks), static_cast<long>(kBlock) * (4 * p.m + 2), [&](int first, int last) {
    for (int b = first; b < last; ++b) {
      const size_t begin = static_cast<size_t>(b) * kBlock;
      const float* v[2 * kCurvaturePairs] = {};
      for (int i = 0; i < p.m; ++i) {
        v[i] = p.s[i] + begin;
        v[p.m + i] = p.y[i] + begin;
      }
      combine(d + begin, g + begin, g0, v, c, 2 * p.m, std::min(n, begin + kBlock) - begin);
    }
  });
}

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

// The current gradient's dot products with the pairs kept (sg, yg) and with itself.
struct GradientState {
  double sg[kCurvaturePairs] = {};
  double yg[kCurvaturePairs] = {};
  double gg = 0.0;
  bool known = false;
};

}  // namespace

void RememberCurvature(CurvatureHistory& h, std::vector<float>& s, std::vector<float>& y, const double* sy,
                       const double* yy, double sySelf, double yySelf) {
  const size_t n = s.size();
  const int before = h.Pairs();
  const int drop = before == kCurvaturePairs ? 1 : 0;
  std::vector<float> oldS;
  std::vector<float> oldY;
  if (drop != 0) {
    oldS = std::move(h.s.front());
    oldY = std::move(h.y.front());
    h.s.pop_front();
    h.y.pop_front();
    for (int i = 0; i + 1 < before; ++i) {
      for (int j = 0; j + 1 < before; ++j) {
        h.sy[i][j] = h.sy[i + 1][j + 1];
        h.yy[i][j] = h.yy[i + 1][j + 1];
      }
    }
  }
  const int k = before - drop;  // the new pair's place
  for (int i = 0; i < k; ++i) {
    h.sy[i][k] = sy[i + drop];
    h.sy[k][i] = 0.0;  // not used: the compact form reads sy[i][j] for i <= j
    h.yy[i][k] = yy[i + drop];
    h.yy[k][i] = yy[i + drop];
  }
  h.sy[k][k] = sySelf;
  h.yy[k][k] = yySelf;
  h.s.push_back(std::move(s));
  h.y.push_back(std::move(y));
  s = std::move(oldS);
  y = std::move(oldY);
  s.resize(n);
  y.resize(n);
}

double CompactDirection(const CurvatureHistory& h, const std::vector<double>& g, const double* sg, const double* yg,
                        double gg, std::vector<double>& d) {
  const int m = h.Pairs();
  const double gamma = h.sy[m - 1][m - 1] / h.yy[m - 1][m - 1];
  // With R the upper triangle of S'Y (R[i][j] = s_i . y_j, i <= j) and D its diagonal:
  // -H g = -gamma g - S u + gamma Y z, z = R^-1 S'g, u = R^-T ((D + gamma Y'Y) z - gamma Y'g).
  double z[kCurvaturePairs] = {};
  double u[kCurvaturePairs] = {};
  for (int i = m; i-- > 0;) {
    double t = sg[i];
    for (int j = i + 1; j < m; ++j) t -= h.sy[i][j] * z[j];
    z[i] = t / h.sy[i][i];
  }
  for (int i = 0; i < m; ++i) {
    double yz = 0.0;
    for (int j = 0; j < m; ++j) yz += h.yy[i][j] * z[j];
    double t = h.sy[i][i] * z[i] + gamma * yz - gamma * yg[i];
    for (int j = 0; j < i; ++j) t -= h.sy[j][i] * u[j];
    u[i] = t / h.sy[i][i];
  }
  double cs[kCurvaturePairs] = {};
  double cy[kCurvaturePairs] = {};
  double slope = -gamma * gg;
  for (int i = 0; i < m; ++i) {
    cs[i] = -u[i];
    cy[i] = gamma * z[i];
    slope += cs[i] * sg[i] + cy[i] * yg[i];
  }
  d.resize(g.size());
  Combine(g.size(), g.data(), -gamma, PairVectors(h), cs, cy, d.data());
  return slope;
}

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

  PassScratch passes;
  GradientState state;
  // The next curvature pair's vectors, made once and then recycled from the oldest pair.
  std::vector<float> s(n);
  std::vector<float> y(n);

  for (int it = 1; it <= maxIterations; ++it) {
    double slope = 0.0;
    if (h.Pairs() > 0) {
      if (!state.known) {
        const Sums<kHistorySums> dots = GradientDots(n, gradient.v.data(), PairVectors(h), passes);
        state.gg = dots.v[0];
        for (int i = 0; i < h.Pairs(); ++i) {
          state.sg[i] = dots.v[1 + i];
          state.yg[i] = dots.v[1 + h.Pairs() + i];
        }
        state.known = true;
      }
      slope = CompactDirection(h, gradient.v, state.sg, state.yg, state.gg, direction);
      if (!(slope < 0.0)) h.Clear();  // curvature pairs gone stale: start again from the gradient
    }
    if (h.Pairs() == 0 && !GradientDirection(gradient.v, direction, slope, passes)) {
      result.converged = true;
      break;
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
    const int m = h.Pairs();
    const StepSums sums = StepDots(n, trial.v.data(), x.v.data(), trialGradient.v.data(), gradient.v.data(),
                                   PairVectors(h), s.data(), y.data(), passes);
    const double change = sums.ss;
    // The new gradient's products with the pairs kept: s_i . tg = s_i . g + s_i . y.
    GradientState next;
    next.gg = sums.tgtg;
    next.known = true;
    for (int i = 0; i < m; ++i) {
      next.sg[i] = state.sg[i] + sums.withOld[i];
      next.yg[i] = state.yg[i] + sums.withOld[m + i];
    }
    if (sums.sy > 1e-12 * std::sqrt(change * sums.yy)) {
      const int drop = m == kCurvaturePairs ? 1 : 0;
      RememberCurvature(h, s, y, sums.withOld, sums.withOld + m, sums.sy, sums.yy);
      for (int i = 0; i + drop < m; ++i) {
        next.sg[i] = next.sg[i + drop];
        next.yg[i] = next.yg[i + drop];
      }
      next.sg[m - drop] = sums.stg;
      next.yg[m - drop] = sums.ytg;
    }
    state = next;
    std::swap(x.v, trial.v);
    std::swap(gradient.v, trialGradient.v);
    f = fTrial;
    if (callback && callback(it, scratch)) {
      result.converged = true;
      break;
    }
    if (std::sqrt(change) <= tolerance * std::sqrt(sums.tt)) {
      result.converged = true;
      break;
    }
  }
  return result;
}

}  // namespace lumet
