// AVX-512 variant of the enhanced method's loops: 8 values a vector. Compiled with -mavx512f
// (and, as everything, -ffp-contract=off: AVX-512's own fused multiply-adds would change the
// bits); used only on processors that have it.
#define LUMET_LOOPS_VARIANT Avx512
#include "reconstruction/enhanced/loops_kernel.inc"
