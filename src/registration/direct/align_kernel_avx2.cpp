// AVX2 variant of the direct alignment's normal equations: 4 values a vector. Compiled with
// -mavx2 (no fused multiply-add); used only on processors that have it.
#define LUMET_ALIGN_VARIANT Avx2
#include "registration/direct/align_kernel.inc"
