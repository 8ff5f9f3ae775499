// The baseline variant of the enhanced method's loops and the choice between the variants.
#define LUMET_LOOPS_VARIANT Baseline
#include "reconstruction/enhanced/loops_kernel.inc"

#include "numeric/simd.h"

namespace lumet::detail {

const EnhancedLoops& ActiveEnhancedLoops() {
  // No AVX-512 body: processors with it run the AVX2 one.
  return *ForActiveSimdVariant(&kEnhancedLoopsBaseline, &kEnhancedLoopsAvx2, &kEnhancedLoopsAvx2);
}

}  // namespace lumet::detail
