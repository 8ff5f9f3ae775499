// AVX-512 variant of the filter loops: 4 rows x 4 vectors of 8 pixels in 16 accumulators.
// Compiled with -mavx512f -mfma; called only on processors that have them.
#include <immintrin.h>

#include "numeric/convolve_engine.h"

#define LUMET_VEC __m512d
#define LUMET_LANES 8
#define LUMET_LOAD(p) _mm512_loadu_pd(p)
#define LUMET_STORE(p, v) _mm512_storeu_pd((p), (v))
#define LUMET_SET1(x) _mm512_set1_pd(x)
#define LUMET_ZERO() _mm512_setzero_pd()
#define LUMET_FMA(a, b, c) _mm512_fmadd_pd((a), (b), (c))
#define LUMET_MULADD(a, b, c) _mm512_add_pd(_mm512_mul_pd((a), (b)), (c))
#define LUMET_SFMA(a, b, c) _mm_cvtsd_f64(_mm_fmadd_sd(_mm_set_sd(a), _mm_set_sd(b), _mm_set_sd(c)))
#define LUMET_SMULADD(a, b, c) ((a) * (b) + (c))

namespace lumet_avx512 {
constexpr int U = 4;
constexpr int R = 4;
#include "numeric/convolve_kernel.inc"
}  // namespace lumet_avx512

void lumet::detail::FilterRowsAvx512(const FilterJob& job, int r0, int r1) { lumet_avx512::Run(job, r0, r1); }
