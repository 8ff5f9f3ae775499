#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "numeric/simd.h"

namespace lumet::testing {

// The instruction-set variants this processor runs, for a test that compares each with its
// reference (each set with a ScopedSimdVariant).
inline std::vector<SimdVariant> SimdVariantsToTest() { return SupportedSimdVariants(); }

// The variants this processor lacks, by name ("avx512"), or "".
inline std::string MissingSimdVariants() {
  std::string missing;
  for (SimdVariant variant : kAllSimdVariants) {
    if (SimdVariantSupported(variant)) continue;
    missing += (missing.empty() ? "" : ", ") + std::string(SimdVariantName(variant));
  }
  return missing;
}

}  // namespace lumet::testing

// At the end of a test that ran every supported variant: marks it skipped, naming the
// variants this processor could not run, so that a missing variant is never a silent pass
// (a failure of the variants that ran still fails the test).
#define LUMET_SKIP_MISSING_SIMD_VARIANTS()                                                  \
  do {                                                                                      \
    const std::string missingVariants = ::lumet::testing::MissingSimdVariants();            \
    if (!missingVariants.empty()) GTEST_SKIP() << "not run on this processor: " << missingVariants; \
  } while (false)
