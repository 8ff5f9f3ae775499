// AVX2 variant of the prior's pair loop: 4 pairs a vector. Compiled with -mavx2 (no fused
// multiply-add); used only on processors that have it.
#define LUMET_PRIOR_VARIANT Avx2
#include "reconstruction/enhanced/prior_pairs_kernel.inc"
