// AVX-512 variant of the filter loops: 4 rows x 4 vectors of 8 pixels in 16 accumulators.
// Compiled with -mavx512f -mfma; called only on processors that have them.
#define LUMET_X86_BITS 512
#define LUMET_UNROLL 4
#define LUMET_VARIANT Avx512
#include "numeric/convolve_x86.inc"
