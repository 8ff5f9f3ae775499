#include "reconstruction/reconstruction_method.h"

#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

const ReconstructionMethod& ReconstructionMethodFor(Method method) {
  switch (method) {
    case Method::Classic:
      return ClassicReconstruction();
    case Method::Enhanced:
      return EnhancedReconstructionMethod();
  }
  throw Error("unknown reconstruction method");
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
