#pragma once

#include <vector>

#include "util/scoped_setting.h"

namespace lumet {

// The instruction sets the hot loops (filters, ROI warp, regulariser) are compiled for,
// chosen at run time, process-wide. Every variant gives the same results bit for bit.
enum class SimdVariant { Baseline, Avx2, Avx512 };
inline constexpr SimdVariant kAllSimdVariants[] = {SimdVariant::Baseline, SimdVariant::Avx2, SimdVariant::Avx512};

const char* SimdVariantName(SimdVariant variant);
// The variants this processor runs, baseline first, the widest last.
std::vector<SimdVariant> SupportedSimdVariants();
bool SimdVariantSupported(SimdVariant variant);
// The variant in use: the widest supported unless set (tests, benchmarks). Setting an
// unsupported one throws lumet::Error.
SimdVariant ActiveSimdVariant();
void SetSimdVariant(SimdVariant variant);

// The one of three per-variant values that belongs to the active variant. Every vector kernel
// is chosen through it (numeric/simd.cpp: the filter loops, the ROI warp).
template <class T>
T ForActiveSimdVariant(T baseline, T avx2, T avx512) {
  switch (ActiveSimdVariant()) {
    case SimdVariant::Avx512:
      return avx512;
    case SimdVariant::Avx2:
      return avx2;
    case SimdVariant::Baseline:
      break;
  }
  return baseline;
}

// Sets a variant for the life of the guard and restores the one before (tests, benchmarks).
using ScopedSimdVariant = ScopedSetting<SimdVariant, ActiveSimdVariant, SetSimdVariant>;

}  // namespace lumet
