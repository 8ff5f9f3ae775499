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

// The curvature pairs of the quasi-Newton steps, kept across calls so that a run can go on
// (with other weights) without starting its step sizes again from nothing.
struct CurvatureHistory {
  std::deque<std::vector<double>> s;
  std::deque<std::vector<double>> y;
  std::deque<double> rho;
};

// Limited-memory BFGS with a backtracking line search on the backend's objective, from x
// (updated in place), with the curvature pairs of `history` (none: a fresh start). The
// first trial step of every line search is stepScale times the quasi-Newton step. Stops
// when the RMS change of an iteration falls below tolerance times the RMS of x, after
// maxIterations, or when no descent step is found.
MinimiseResult MinimiseEnhanced(const EnhancedBackend& backend, const ObservationModel& model, int c,
                                const EnhancedWeights& weights, double stepScale, int maxIterations, double tolerance,
                                Plane& x, const IterationCallback& callback, CurvatureHistory* history = nullptr);

}  // namespace lumet
