// AVX-512 variant of the direct alignment's normal equations: a row of 8 values a vector.
// Compiled with -mavx512f (and, as everything, -ffp-contract=off); used only on processors
// that have it.
#define LUMET_ALIGN_VARIANT Avx512
#include "registration/direct/align_kernel.inc"
