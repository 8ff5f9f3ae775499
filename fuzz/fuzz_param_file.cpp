// param.txt: any file is loaded (or refused with lumet::Error); the set loaded is one the
// file can hold (formatting, loading and formatting again changes nothing), and its frame
// pattern formats frame numbers safely.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "params/param_set.h"
#include "util/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumet;
  ParamSet params = InitParams();
  try {
    LoadParams(fuzz::WriteInput("param.txt", data, size), params);
    DeriveNames(params);
  } catch (const Error&) {
    return 0;
  }
  for (const int k : {0, 1, -7, 2147483647, -2147483647 - 1}) (void)FormatFrameName(params.lrPattern, k);

  const std::string text = FormatParamFile(params);
  ParamSet again = InitParams();
  try {
    if (LoadParams(fuzz::WriteInput("again.txt", reinterpret_cast<const uint8_t*>(text.data()), text.size()), again) != 17) {
      fuzz::Broken("a formatted parameter set does not load in full");
    }
  } catch (const Error&) {
    fuzz::Broken("a formatted parameter set is refused");
  }
  if (FormatParamFile(again) != text) fuzz::Broken("loading a formatted parameter set changed it");
  return 0;
}
