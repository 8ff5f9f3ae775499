#include "reconstruction/reconstruction_method.h"

#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

namespace {

std::vector<const ReconstructionMethod*>& Registry() {
  static std::vector<const ReconstructionMethod*> methods = {&ClassicReconstruction(), &EnhancedReconstructionMethod()};
  return methods;
}

}  // namespace

const std::vector<const ReconstructionMethod*>& ReconstructionMethods() { return Registry(); }

Method RegisterReconstructionMethod(const ReconstructionMethod& method) {
  std::vector<const ReconstructionMethod*>& methods = Registry();
  for (const ReconstructionMethod* m : methods) {
    if (m->Word() == method.Word()) throw Error("a reconstruction method is called " + method.Word() + " already");
  }
  methods.push_back(&method);
  return static_cast<Method>(methods.size() - 1);
}

const ReconstructionMethod& ReconstructionMethodFor(Method method) {
  const auto m = static_cast<size_t>(method);
  if (m >= Registry().size()) throw Error("unknown reconstruction method " + std::to_string(m));
  return *Registry()[m];
}

std::string OutcomeSummaryLine(const ReconstructionOutcome& outcome) {
  if (outcome.method == Method::Classic) {
    return Format("Threshold(%d/%d) = %f", outcome.thresholdIndex, outcome.framesGiven, outcome.threshold);
  }
  return Format("Enhanced = %d iterations, %d/%d frames", outcome.iterations, outcome.framesUsed, outcome.framesGiven);
}

void ReconstructionOptions::Check() const {
  CheckCommon();
  ReconstructionMethodFor(method).CheckOptions(*this);
}

}  // namespace lumet
