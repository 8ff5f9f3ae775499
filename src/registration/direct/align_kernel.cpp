// The baseline variant of the direct alignment's normal equations and the choice between
// the variants.
#define LUMET_ALIGN_VARIANT Baseline
#include "registration/direct/align_kernel.inc"

#include "numeric/simd.h"

namespace lumet::detail {

const AlignKernels& ActiveAlignKernels() {
  return *ForActiveSimdVariant(&kAlignKernelsBaseline, &kAlignKernelsAvx2, &kAlignKernelsAvx512);
}

}  // namespace lumet::detail
