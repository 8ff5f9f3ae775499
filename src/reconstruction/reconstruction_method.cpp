#include "reconstruction/reconstruction_method.h"

#include <charconv>
#include <cstring>

#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

namespace {

std::vector<const ReconstructionMethod*>& Registry() {
  static std::vector<const ReconstructionMethod*> methods = {&ClassicReconstruction(), &EnhancedReconstructionMethod()};
  return methods;
}

// Two declarations of one name mean the same parameter: one row serves both methods.
bool SameParam(const MethodParam& a, const MethodParam& b) {
  return std::strcmp(a.flag, b.flag) == 0 && std::strcmp(a.defaultText, b.defaultText) == 0 && a.whole == b.whole &&
         a.minimum == b.minimum && a.maximum == b.maximum && a.minimumExcluded == b.minimumExcluded && a.onOff == b.onOff;
}

}  // namespace

double MethodParam::DefaultValue() const {
  if (onOff && std::strcmp(defaultText, "on") == 0) return 1.0;
  if (onOff && std::strcmp(defaultText, "off") == 0) return 0.0;
  double value = 0.0;
  const char* end = defaultText + std::strlen(defaultText);
  if (std::from_chars(defaultText, end, value).ptr != end) {
    throw Error(std::string("the default of ") + name + " is no number: " + defaultText);
  }
  return value;
}

double MethodParam::In(const ReconstructionOptions& options) const {
  const auto found = options.values.find(name);
  return found != options.values.end() ? found->second : DefaultValue();
}

std::string ReconstructionMethod::StepText(int band, int step, const ReconstructionOptions&) const {
  return Format("band %d, step %d", band, step);
}

const std::vector<const ReconstructionMethod*>& ReconstructionMethods() { return Registry(); }

Method RegisterReconstructionMethod(const ReconstructionMethod& method) {
  std::vector<const ReconstructionMethod*>& methods = Registry();
  for (const ReconstructionMethod* m : methods) {
    if (m->Word() == method.Word()) throw Error("a reconstruction method is called " + method.Word() + " already");
    for (const MethodParam& theirs : m->Params()) {
      for (const MethodParam& mine : method.Params()) {
        if (std::strcmp(mine.name, theirs.name) == 0 && !SameParam(mine, theirs)) {
          throw Error("the " + method.Word() + " method's parameter " + mine.name + " differs from the " + m->Word() +
                      " method's of that name");
        }
      }
    }
  }
  methods.push_back(&method);
  return static_cast<Method>(methods.size() - 1);
}

const ReconstructionMethod& ReconstructionMethodFor(Method method) {
  const auto m = static_cast<size_t>(method);
  if (m >= Registry().size()) throw Error("unknown reconstruction method " + std::to_string(m));
  return *Registry()[m];
}

std::string PsfChoiceRemedy(double psfSigma, double lambda, bool lambdaChanged) {
  if (!lambdaChanged) return "give the camera's blur with --psf-sigma, or keep it with --psf-check off";
  return Format("give the camera's blur with --psf-sigma, or keep these with --psf-sigma %g --lambda %g "
                "--psf-check off",
                psfSigma, lambda);
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
