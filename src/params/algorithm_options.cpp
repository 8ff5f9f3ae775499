#include "params/algorithm_options.h"

#include <string_view>

#include "params/param_description.h"
#include "reconstruction/reconstruction_method.h"
#include "util/option_error.h"

namespace lumet {

namespace {

// The n-th word of the method row's "classic|enhanced", or "" past the last.
std::string_view ChoiceWord(int n) {
  std::string_view rest = kParams[FindParam("method")].choices;
  for (int i = 0; i < n; ++i) {
    const size_t bar = rest.find('|');
    if (bar == std::string_view::npos) return {};
    rest.remove_prefix(bar + 1);
  }
  return rest.substr(0, rest.find('|'));
}

}  // namespace

Method MethodOf(const ParamSet& params) {
  for (int i = 0; i < kMethodCount; ++i) {
    if (ChoiceWord(i) == params.method) return static_cast<Method>(i);
  }
  return Method::Classic;
}

std::string MethodName(Method method) { return std::string(ChoiceWord(static_cast<int>(method))); }

RegistrationOptions ToRegistrationOptions(const ParamSet& p) {
  return {.roi = p.roi, .filterSigma = p.filterSigma, .ransacFirst = p.ransacFirst, .ransacSecond = p.ransacSecond,
          .sadSize = p.sadSize, .searchArea = p.searchArea,
          .directRefinement = ReconstructionMethodFor(MethodOf(p)).RefinesRegistrationDirectly()};
}

ReconstructionOptions ToReconstructionOptions(const ParamSet& p) {
  return {.method = MethodOf(p), .roi = p.roi, .scale = p.scale, .psfSigma = p.psfSigma, .alpha = p.alpha,
          .beta = p.beta, .lambda = p.lambda, .iterations = p.iterations, .tolerance = p.tolerance};
}

void CheckAlgorithmOptions(const ParamSet& p) {
  try {
    ToRegistrationOptions(p).Check();
    ToReconstructionOptions(p).Check();
  } catch (const OptionError& refused) {
    const size_t subject = FindParam(refused.Subject());
    throw ParamError(FindParam(refused.Field()), refused.Part(),
                     std::string(kParams[subject].label) + " " + ParamValueText(kParams[subject], p) + refused.Rest());
  }
}

void CheckParams(const ParamSet& params) {
  CheckParamValues(params);
  // The algorithms' own rules: the RANSAC sample within its pool, the HR grid large enough
  // for the PSF kernel, the method's rules.
  CheckAlgorithmOptions(params);
}

}  // namespace lumet
