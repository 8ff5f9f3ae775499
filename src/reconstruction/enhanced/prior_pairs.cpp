// The baseline variant of the prior's pair loop and the choice between the variants.
#define LUMET_PRIOR_VARIANT Baseline
#include "reconstruction/enhanced/prior_pairs_kernel.inc"

#include "numeric/simd.h"

namespace lumet::detail {

PriorPairsFunction ActivePriorPairs() {
  // No AVX-512 body: processors with it run the AVX2 one.
  return ForActiveSimdVariant(kPriorPairsBaseline, kPriorPairsAvx2, kPriorPairsAvx2);
}

}  // namespace lumet::detail
