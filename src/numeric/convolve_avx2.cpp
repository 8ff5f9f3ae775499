// AVX2 + FMA variant of the filter loops: 4 rows x 2 vectors of 4 pixels in 8 accumulators.
// Compiled with -mavx2 -mfma; called only on processors that have them.
#define LUMET_X86_BITS 256
#define LUMET_UNROLL 2
#define LUMET_VARIANT Avx2
#include "numeric/convolve_x86.inc"
