#include "params/algorithm_options.h"

#include <vector>

#include "params/param_description.h"
#include "reconstruction/reconstruction_method.h"
#include "registration/registration_strategy.h"
#include "util/option_error.h"

namespace lumet {

Method MethodOf(const ParamSet& params) {
  const std::vector<const ReconstructionMethod*>& methods = ReconstructionMethods();
  for (size_t i = 0; i < methods.size(); ++i) {
    if (methods[i]->Word() == params.method) return static_cast<Method>(i);
  }
  return Method::Classic;
}

std::string MethodName(Method method) { return ReconstructionMethodFor(method).Word(); }

RegistrationOptions ToRegistrationOptions(const ParamSet& p) {
  return {.roi = p.roi, .filterSigma = p.filterSigma, .ransacFirst = p.ransacFirst, .ransacSecond = p.ransacSecond,
          .sadSize = p.sadSize, .searchArea = p.searchArea,
          .strategy = &RegistrationStrategyFor(ReconstructionMethodFor(MethodOf(p)).RegistrationWord())};
}

ReconstructionOptions ToReconstructionOptions(const ParamSet& p) {
  return {.method = MethodOf(p), .roi = p.roi, .scale = p.scale, .psfSigma = p.psfSigma, .alpha = p.alpha,
          .beta = p.beta, .lambda = p.lambda, .values = p.methodValues};
}

void CheckAlgorithmOptions(const ParamSet& p) {
  try {
    ToRegistrationOptions(p).Check();
    ToReconstructionOptions(p).Check();
  } catch (const OptionError& refused) {
    const size_t subject = FindParam(refused.Subject());
    throw ParamError(FindParam(refused.Field()), refused.Part(),
                     std::string(ParamRows()[subject].label) + " " + ParamValueText(ParamRows()[subject], p) + refused.Rest());
  }
}

void CheckParams(const ParamSet& params) {
  CheckParamValues(params);
  // The algorithms' own rules: the RANSAC sample within its pool, the HR grid large enough
  // for the PSF kernel, the method's rules.
  CheckAlgorithmOptions(params);
}

}  // namespace lumet
