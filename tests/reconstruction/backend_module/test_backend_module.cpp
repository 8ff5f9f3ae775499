#include <string>
#include <vector>

#include "reconstruction/enhanced/backend.h"

// A backend module as the loader maps one: its own class behind the one entry point. It
// hands the work to its own copy of the engine's loops, so that the tests can hold it to
// the reference like any backend.

namespace {

class ModuleBackend final : public lumet::EnhancedBackend {
 public:
  std::string Name() const override { return "testmodule"; }
  void Forward(const lumet::ObservationModel& model, const lumet::Plane& x,
               lumet::ObjectiveScratch& scratch) const override {
    lumet::CpuEnhancedBackend().Forward(model, x, scratch);
  }
  void Adjoint(const lumet::ObservationModel& model, const std::vector<double>& r, lumet::Plane& out,
               lumet::ObjectiveScratch& scratch) const override {
    lumet::CpuEnhancedBackend().Adjoint(model, r, out, scratch);
  }
  double Objective(const lumet::ObservationModel& model, int c, const lumet::EnhancedWeights& weights,
                   const lumet::Plane& x, lumet::Plane& gradient, lumet::ObjectiveScratch& scratch) const override {
    return lumet::CpuEnhancedBackend().Objective(model, c, weights, x, gradient, scratch);
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const lumet::EnhancedBackend* lumet_enhanced_backend(int version) {
  static const ModuleBackend backend;
  return version == lumet::kBackendModuleVersion ? &backend : nullptr;
}
