#include "numeric/simd.h"

#include <atomic>
#include <string>

#include "numeric/convolve_engine.h"
#include "numeric/roi_warp.h"
#include "util/error.h"

namespace lumet {

const char* SimdVariantName(SimdVariant variant) {
  switch (variant) {
    case SimdVariant::Avx512:
      return "avx512";
    case SimdVariant::Avx2:
      return "avx2+fma";
    case SimdVariant::Baseline:
      break;
  }
  return "baseline";
}

std::vector<SimdVariant> SupportedSimdVariants() {
  std::vector<SimdVariant> variants{SimdVariant::Baseline};
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) variants.push_back(SimdVariant::Avx2);
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    variants.push_back(SimdVariant::Avx512);
  }
  return variants;
}

bool SimdVariantSupported(SimdVariant variant) {
  for (SimdVariant supported : SupportedSimdVariants()) {
    if (supported == variant) return true;
  }
  return false;
}

namespace {

std::atomic<SimdVariant>& ChosenVariant() {
  static std::atomic<SimdVariant> chosen{SupportedSimdVariants().back()};
  return chosen;
}

}  // namespace

SimdVariant ActiveSimdVariant() { return ChosenVariant().load(); }

void SetSimdVariant(SimdVariant variant) {
  if (!SimdVariantSupported(variant)) {
    throw Error(std::string("this processor cannot run the ") + SimdVariantName(variant) + " code");
  }
  ChosenVariant().store(variant);
}

namespace detail {

// The vector kernels of the active variant, in one place.
FilterRowsFunction ActiveFilterRows() {
  return ForActiveSimdVariant(FilterRowsBaseline, FilterRowsAvx2, FilterRowsAvx512);
}

const RoiWarpKernels* ActiveRoiWarp() {
  return ForActiveSimdVariant<const RoiWarpKernels*>(nullptr, &kRoiWarpAvx2, &kRoiWarpAvx512);
}

}  // namespace detail

}  // namespace lumet
