// AVX-512 variant of the filter loops: 4 rows x 6 vectors of 8 pixels in 24 of the 32 registers.
// Compiled with -mavx512f -mfma; called only on processors that have them.
#define LUMET_X86_BITS 512
#define LUMET_UNROLL 6
#define LUMET_VARIANT Avx512
#include "numeric/convolve_x86.inc"
