// AVX2 variant of the ROI warp: 4 pixels a vector. Compiled with -mavx2; used only on
// processors that have it. No fused multiply-add: the values are those of the scalar warp.
#define LUMET_X86_BITS 256
#define LUMET_VARIANT Avx2
#include "numeric/roi_warp_x86.inc"

namespace LUMET_VARIANT_NS {
namespace {

void AccumulateRows(const uint8_t* ref, const double* rows, int rowStride, int rowCount, int width, double* sums,
                    long* counts) {
  // Lanes 0 .. 3 and 4 .. 7 in two vectors, each sum going on from where the last row left
  // it; a lane past the last row reads nothing and is not stored.
  const __m256d zero = _mm256_setzero_pd();
  const __m256d sign = _mm256_set1_pd(-0.0);
  const __m128i offsetsLow = _mm_mullo_epi32(_mm_set_epi32(3, 2, 1, 0), _mm_set1_epi32(rowStride));
  const __m128i offsetsHigh = _mm_mullo_epi32(_mm_set_epi32(7, 6, 5, 4), _mm_set1_epi32(rowStride));
  const __m256i lane = _mm256_set_epi64x(3, 2, 1, 0);
  const __m256d liveLow = _mm256_castsi256_pd(_mm256_cmpgt_epi64(_mm256_set1_epi64x(rowCount), lane));
  const __m256i laneHigh = _mm256_add_epi64(lane, _mm256_set1_epi64x(4));
  const __m256d liveHigh = _mm256_castsi256_pd(_mm256_cmpgt_epi64(_mm256_set1_epi64x(rowCount), laneHigh));
  alignas(32) double s[8] = {};
  alignas(32) long long n[8] = {};
  for (int k = 0; k < rowCount; ++k) {
    s[k] = sums[k];
    n[k] = counts[k];
  }
  __m256d sumLow = _mm256_load_pd(s);
  __m256d sumHigh = _mm256_load_pd(s + 4);
  __m256i countLow = _mm256_load_si256(reinterpret_cast<const __m256i*>(n));
  __m256i countHigh = _mm256_load_si256(reinterpret_cast<const __m256i*>(n + 4));
  const bool high = rowCount > 4;
  for (int c = 0; c < width; ++c) {
    const __m256d a = _mm256_set1_pd(static_cast<double>(ref[c]));
    const __m256d v = _mm256_mask_i32gather_pd(zero, rows + c, offsetsLow, liveLow, 8);
    // The lanes whose value is not above 0 (and the idle ones, which read 0) add +0.0.
    const __m256d counted = _mm256_cmp_pd(v, zero, _CMP_GT_OQ);
    sumLow = _mm256_add_pd(sumLow, _mm256_and_pd(_mm256_andnot_pd(sign, _mm256_sub_pd(a, v)), counted));
    countLow = _mm256_sub_epi64(countLow, _mm256_castpd_si256(counted));
    if (high) {
      const __m256d w = _mm256_mask_i32gather_pd(zero, rows + c, offsetsHigh, liveHigh, 8);
      const __m256d countedHigh = _mm256_cmp_pd(w, zero, _CMP_GT_OQ);
      sumHigh = _mm256_add_pd(sumHigh, _mm256_and_pd(_mm256_andnot_pd(sign, _mm256_sub_pd(a, w)), countedHigh));
      countHigh = _mm256_sub_epi64(countHigh, _mm256_castpd_si256(countedHigh));
    }
  }
  _mm256_store_pd(s, sumLow);
  _mm256_store_pd(s + 4, sumHigh);
  _mm256_store_si256(reinterpret_cast<__m256i*>(n), countLow);
  _mm256_store_si256(reinterpret_cast<__m256i*>(n + 4), countHigh);
  for (int k = 0; k < rowCount; ++k) {
    sums[k] = s[k];
    counts[k] = static_cast<long>(n[k]);
  }
}

}  // namespace
}  // namespace LUMET_VARIANT_NS

const lumet::detail::RoiWarpKernels lumet::detail::kRoiWarpAvx2 = {
    LUMET_VARIANT_NS::WarpRowBytes, LUMET_VARIANT_NS::WarpRowPlane, LUMET_VARIANT_NS::WarpRowSharedPlane,
    LUMET_VARIANT_NS::AccumulateRows};
