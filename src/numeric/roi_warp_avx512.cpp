// AVX-512 variant of the ROI warp: 8 pixels a vector. Compiled with -mavx512f -mavx2; used only
// on processors that have them. No fused multiply-add: the values are those of the scalar warp.
#define LUMET_X86_BITS 512
#define LUMET_VARIANT Avx512
#include "numeric/roi_warp_x86.inc"

namespace LUMET_VARIANT_NS {
namespace {

void AccumulateRows(const uint8_t* ref, const double* rows, int rowStride, int rowCount, int width, double* sums,
                    long* counts) {
  const __mmask8 lanes = static_cast<__mmask8>((1u << rowCount) - 1u);
  const __m512d zero = _mm512_setzero_pd();
  const __m512i oneI = _mm512_set1_epi64(1);
  // Lane k reads row k; the lanes past the last row read nothing and stay unchanged.
  const __m256i rowOffsets =
      _mm256_mullo_epi32(_mm256_set_epi32(7, 6, 5, 4, 3, 2, 1, 0), _mm256_set1_epi32(rowStride));
  __m512d sum = _mm512_maskz_loadu_pd(lanes, sums);
  __m512i count = _mm512_maskz_loadu_epi64(lanes, counts);
  for (int c = 0; c < width; ++c) {
    const __m512d v = _mm512_mask_i32gather_pd(zero, lanes, rowOffsets, rows + c, 8);
    const __mmask8 counted = _mm512_mask_cmp_pd_mask(lanes, v, zero, _CMP_GT_OQ);
    const __m512d a = _mm512_set1_pd(static_cast<double>(ref[c]));
    sum = _mm512_mask_add_pd(sum, counted, sum, _mm512_abs_pd(_mm512_sub_pd(a, v)));
    count = _mm512_mask_add_epi64(count, counted, count, oneI);
  }
  _mm512_mask_storeu_pd(sums, lanes, sum);
  _mm512_mask_storeu_epi64(counts, lanes, count);
}

}  // namespace
}  // namespace LUMET_VARIANT_NS

const lumet::detail::RoiWarpKernels lumet::detail::kRoiWarpAvx512 = {
    LUMET_VARIANT_NS::WarpRowBytes, LUMET_VARIANT_NS::WarpRowPlane, LUMET_VARIANT_NS::WarpRowSharedPlane,
    LUMET_VARIANT_NS::AccumulateRows};
