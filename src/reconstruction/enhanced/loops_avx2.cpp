// AVX2 variant of the enhanced method's loops: 4 values a vector. Compiled with -mavx2 (no
// fused multiply-add); used only on processors that have it.
#define LUMET_LOOPS_VARIANT Avx2
#include "reconstruction/enhanced/loops_kernel.inc"
