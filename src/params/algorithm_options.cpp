#include "params/algorithm_options.h"

#include <string_view>

#include "params/param_description.h"
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
  RegistrationOptions o;
  o.roi = p.roi;
  o.filterSigma = p.filterSigma;
  o.ransacFirst = p.ransacFirst;
  o.ransacSecond = p.ransacSecond;
  o.sadSize = p.sadSize;
  o.searchArea = p.searchArea;
  o.directRefinement = MethodOf(p) == Method::Enhanced;
  return o;
}

ReconstructionOptions ToReconstructionOptions(const ParamSet& p) {
  ReconstructionOptions o;
  o.method = MethodOf(p);
  o.roi = p.roi;
  o.scale = p.scale;
  o.psfSigma = p.psfSigma;
  o.alpha = p.alpha;
  o.beta = p.beta;
  o.lambda = p.lambda;
  o.iterations = p.iterations;
  o.tolerance = p.tolerance;
  return o;
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

}  // namespace lumet
