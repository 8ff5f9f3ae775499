#include "cli/output_style.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace lumet::cli {

namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json OutcomeJson(const ReconstructionOutcome& o) {
  Json warnings = Json::array();
  for (const ReconstructionWarning& w : o.warnings) {
    warnings.push_back({{"frame", w.frame}, {"kind", w.kind}, {"detail", w.detail}, {"remedy", w.remedy}});
  }
  Json out = {{"method", ReconstructionMethodFor(o.method).Word()},
              {"framesGiven", o.framesGiven},
              {"framesUsed", o.framesUsed},
              {"iterations", o.iterations}};
  if (o.selected) out["threshold"] = {{"index", o.thresholdIndex}, {"value", o.threshold}};
  if (o.choosesPsf) {
    out["psfSigma"] = o.psfSigma;
    out["lambda"] = o.lambda;
  }
  out["fellBack"] = o.fellBack;
  if (o.fellBack) out["fallbackReason"] = o.fallbackReason;
  out["warnings"] = warnings;
  return out;
}

}  // namespace

void AddOutputStyleOptions(CLI::App& command, OutputStyle& style) {
  auto* quiet = command.add_flag_callback("-q,--quiet", [&style] { style = OutputStyle::Quiet; },
                                          "print nothing but errors and warnings");
  auto* verbose = command.add_flag_callback("-v,--verbose", [&style] { style = OutputStyle::Verbose; },
                                            "print the parameters the command runs with before its log");
  auto* json = command.add_flag_callback("--json", [&style] { style = OutputStyle::Json; },
                                         "print the results as one JSON object instead of the log");
  quiet->excludes(verbose)->excludes(json);
  verbose->excludes(json);
}

std::string ResultsJson(const std::string& command, const std::vector<std::string>& written,
                        const ReconstructionOutcome* outcome) {
  Json json = {{"command", command}, {"files", written}};
  if (outcome != nullptr) json["reconstruction"] = OutcomeJson(*outcome);
  return Dump(json);
}

std::string CompareJson(double psnr, double ssim) {
  const Json json = {{"psnr", std::isinf(psnr) ? Json(nullptr) : Json(psnr)}, {"ssim", ssim}};
  return Dump(json);
}

}  // namespace lumet::cli
