// AVX2 + FMA variant of the filter loops: 4 rows x 2 vectors of 4 pixels in 8 accumulators.
// Compiled with -mavx2 -mfma; called only on processors that have them.
#include <immintrin.h>

#include "numeric/convolve_engine.h"

#define LUMET_VEC __m256d
#define LUMET_LANES 4
#define LUMET_LOAD(p) _mm256_loadu_pd(p)
#define LUMET_STORE(p, v) _mm256_storeu_pd((p), (v))
#define LUMET_SET1(x) _mm256_set1_pd(x)
#define LUMET_ZERO() _mm256_setzero_pd()
#define LUMET_FMA(a, b, c) _mm256_fmadd_pd((a), (b), (c))
#define LUMET_MULADD(a, b, c) _mm256_add_pd(_mm256_mul_pd((a), (b)), (c))
#define LUMET_SFMA(a, b, c) _mm_cvtsd_f64(_mm_fmadd_sd(_mm_set_sd(a), _mm_set_sd(b), _mm_set_sd(c)))
#define LUMET_SMULADD(a, b, c) ((a) * (b) + (c))

namespace lumet_avx2 {
constexpr int U = 2;
constexpr int R = 4;
#include "numeric/convolve_kernel.inc"
}  // namespace lumet_avx2

void lumet::detail::FilterRowsAvx2(const FilterJob& job, int r0, int r1) { lumet_avx2::Run(job, r0, r1); }
