#pragma once

#include <random>
#include <string>
#include <vector>

#include "reconstruction/enhanced/backend.h"

namespace lumet::testing {

// The enhanced method's inner evaluation written for clarity, the yardstick every backend
// is held to: plain loops, one at a time, straight from the definitions in backend.h. It
// reads the model only through its public face (observation cells, values, frames, taps),
// so it shares no loop with the engine's own backend.
class ReferenceBackend final : public EnhancedBackend {
 public:
  std::string Name() const override { return "reference"; }
  void Forward(const ObservationModel& model, const Plane& x, ObjectiveScratch& scratch) const override;
  void Adjoint(const ObservationModel& model, const std::vector<double>& r, Plane& out,
               ObjectiveScratch& scratch) const override;
  double Objective(const ObservationModel& model, int c, const EnhancedWeights& weights, const Plane& x,
                   Plane& gradient, ObjectiveScratch& scratch) const override;
};

// Checks backend's gradient of channel 1's objective at x against central differences of
// the objective, at `trials` entries drawn from random.
void ExpectGradientIsTheObjectivesSlope(const EnhancedBackend& backend, const ObservationModel& model,
                                        const EnhancedWeights& weights, const Plane& x, std::mt19937& random,
                                        int trials);

}  // namespace lumet::testing
