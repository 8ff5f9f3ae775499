#include "reconstruction/reconstruction_method.h"

#include "util/error.h"

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

void ReconstructionOptions::Check() const {
  CheckCommon();
  ReconstructionMethodFor(method).CheckOptions(*this);
}

}  // namespace lumet
