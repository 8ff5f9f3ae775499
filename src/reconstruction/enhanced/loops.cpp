// The baseline variant of the enhanced method's loops and the choice between the variants.
#define LUMET_LOOPS_VARIANT Baseline
#include "reconstruction/enhanced/loops_kernel.inc"

#include "numeric/simd.h"

namespace lumet::detail {

const EnhancedLoops& ActiveEnhancedLoops() {
  return *ForActiveSimdVariant(&kEnhancedLoopsBaseline, &kEnhancedLoopsAvx2, &kEnhancedLoopsAvx512);
}

}  // namespace lumet::detail
