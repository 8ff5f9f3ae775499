// param.txt: any file is read (or refused with lumet::Error) and its values checked; the
// set read is one the file can hold (formatting, reading and formatting again changes
// nothing), and its frame pattern formats frame numbers safely.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "params/param_description.h"
#include "params/param_file.h"
#include "params/param_set.h"
#include "util/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumet;
  ParamSet params = InitParams();
  ParamFileReport report;
  try {
    report = ReadParamFile(fuzz::WriteInput("param.txt", data, size), params);
  } catch (const Error&) {
    return 0;
  }
  if (!report.problem.empty()) (void)UnreadableParamFileNotice(report);
  try {
    CheckLoadedParams(params, report);
    DeriveNames(params);
    for (const int k : {0, 1, -7, 2147483647, -2147483647 - 1}) (void)FormatFrameName(params.lrPattern, k);
  } catch (const Error&) {
  }

  const std::string text = FormatParamFile(params);
  ParamSet again = InitParams();
  try {
    const ParamFileReport second =
        ReadParamFile(fuzz::WriteInput("again.txt", reinterpret_cast<const uint8_t*>(text.data()), text.size()), again);
    if (second.valuesRead != 17 || !second.problem.empty()) fuzz::Broken("a formatted parameter set does not read in full");
  } catch (const Error&) {
    fuzz::Broken("a formatted parameter set is refused");
  }
  if (FormatParamFile(again) != text) fuzz::Broken("reading a formatted parameter set changed it");
  return 0;
}
