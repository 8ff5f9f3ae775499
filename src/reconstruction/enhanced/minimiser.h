#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "reconstruction/enhanced/backend.h"
#include "reconstruction/enhanced/forward_model.h"

namespace lumet {

struct MinimiseResult {
  int iterations = 0;
  bool converged = false;
};

// Called after every iteration with its number (from 1) and the scratch of the accepted
// point; may throw to stop, returns true to stop there.
using IterationCallback = std::function<bool(int iteration, const ObjectiveScratch& accepted)>;

// The most curvature pairs the quasi-Newton steps keep.
inline constexpr int kCurvaturePairs = 6;

// The curvature pairs of the quasi-Newton steps, kept across calls so that a run can go on
// (with other weights) without starting its step sizes again from nothing: the pairs
// (s, y), oldest first, in float (the passes over them are bound by memory, and a pair
// rounded to float is as good a measure of the curvature), and their dot products, of the
// vectors as kept, sy[i][j] = s_i . y_j and yy[i][j] = y_i . y_j,
// from which the step is formed in its compact form (two vector passes an iteration however
// many pairs are kept, where the two-loop recursion takes two a pair).
struct CurvatureHistory {
  std::deque<std::vector<float>> s;
  std::deque<std::vector<float>> y;
  double sy[kCurvaturePairs][kCurvaturePairs] = {};
  double yy[kCurvaturePairs][kCurvaturePairs] = {};
  int Pairs() const { return static_cast<int>(s.size()); }
  void Clear() {
    s.clear();
    y.clear();
  }
};

// Keeps the pair (s, y) in history, dropping the oldest beyond kCurvaturePairs, with its dot
// products: sy[i] = s_i . y and yy[i] = y_i . y for the pairs kept before it, sySelf = s . y,
// yySelf = y . y. s and y come back as the dropped pair's vectors (or empty ones) to reuse.
void RememberCurvature(CurvatureHistory& history, std::vector<float>& s, std::vector<float>& y,
                       const double* sy, const double* yy, double sySelf, double yySelf);

// The quasi-Newton direction -H g of the pairs kept, H the limited-memory BFGS inverse
// Hessian with the initial scaling s . y / y . y of the newest pair, from g's dot products
// with them: sg[i] = s_i . g, yg[i] = y_i . g. Sets d (g's size) and returns d . g.
double CompactDirection(const CurvatureHistory& history, const std::vector<double>& g, const double* sg,
                        const double* yg, double gg, std::vector<double>& d);

// Limited-memory BFGS with a backtracking line search on the backend's objective, from x
// (updated in place), with the curvature pairs of `history` (none: a fresh start). The
// first trial step of every line search is stepScale times the quasi-Newton step. Stops
// when the RMS change of an iteration falls below tolerance times the RMS of x, after
// maxIterations, or when no descent step is found.
MinimiseResult MinimiseEnhanced(const EnhancedBackend& backend, const ObservationModel& model, int c,
                                const EnhancedWeights& weights, double stepScale, int maxIterations, double tolerance,
                                Plane& x, const IterationCallback& callback, CurvatureHistory* history = nullptr);

}  // namespace lumet
