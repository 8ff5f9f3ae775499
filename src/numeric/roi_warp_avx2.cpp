// The ROI warp and sums on AVX2, for processors without AVX-512. The functions carry the
// instruction set in their target attribute (the file itself is built for any x86-64) and
// are called only on processors that have AVX2. No fused multiply-add: the values are those
// of the scalar warp.
#include <immintrin.h>

#include "numeric/roi_warp.h"

#define LUMET_AVX2 __attribute__((target("avx2")))

LUMET_AVX2 void lumet::detail::WarpRowPlaneAvx2(const double* plane, int planeStride, int width, int height,
                                                 const double* h, double x0, double y, int count, double* out) {
  const __m256d unit = _mm256_set1_pd(600.0);
  const __m256d ys = _mm256_set1_pd(y);
  const __m256d h11 = _mm256_set1_pd(h[0]);
  const __m256d h12y = _mm256_mul_pd(_mm256_set1_pd(h[1]), ys);
  const __m256d h13 = _mm256_set1_pd(600.0 * h[2]);
  const __m256d h21 = _mm256_set1_pd(h[3]);
  const __m256d h22y = _mm256_mul_pd(_mm256_set1_pd(h[4]), ys);
  const __m256d h23 = _mm256_set1_pd(600.0 * h[5]);
  const __m256d h31 = _mm256_set1_pd(h[6]);
  const __m256d h32y = _mm256_mul_pd(_mm256_set1_pd(h[7]), ys);
  const __m256d h33 = _mm256_set1_pd(600.0 * h[8]);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d widthD = _mm256_set1_pd(static_cast<double>(width));
  const __m256d heightD = _mm256_set1_pd(static_cast<double>(height));
  const __m256d strideD = _mm256_set1_pd(static_cast<double>(planeStride));
  const __m256d lanes = _mm256_set_pd(3.0, 2.0, 1.0, 0.0);
  const double* right = plane + 1;
  const double* below = plane + planeStride;
  const double* belowRight = plane + planeStride + 1;

  for (int c = 0; c < count; c += 4) {
    // x0 + c as the scalar warp forms it (whole numbers, exact), one lane per pixel.
    const __m256d xs = _mm256_add_pd(_mm256_set1_pd(x0 + static_cast<double>(c)), lanes);
    const __m256d d = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(h31, xs), h32y), h33);
    const __m256d nu = _mm256_mul_pd(unit, _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(h11, xs), h12y), h13));
    const __m256d nv = _mm256_mul_pd(unit, _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(h21, xs), h22y), h23));
    const __m256d u = _mm256_div_pd(nu, d);
    const __m256d v = _mm256_div_pd(nv, d);
    const __m256d inside =
        _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(u, zero, _CMP_GE_OQ), _mm256_cmp_pd(v, zero, _CMP_GE_OQ)),
                      _mm256_and_pd(_mm256_cmp_pd(u, widthD, _CMP_LT_OQ), _mm256_cmp_pd(v, heightD, _CMP_LT_OQ)));
    __m256d value = zero;
    if (_mm256_movemask_pd(inside) != 0) {
      // Truncation is the floor inside (u, v >= 0); the lanes outside read nothing.
      const __m256d iu = _mm256_round_pd(u, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
      const __m256d iv = _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
      const __m256d fx = _mm256_sub_pd(u, iu);
      const __m256d fy = _mm256_sub_pd(v, iv);
      const __m128i at = _mm256_cvttpd_epi32(_mm256_and_pd(_mm256_add_pd(_mm256_mul_pd(iv, strideD), iu), inside));
      const __m256d tl = _mm256_mask_i32gather_pd(zero, plane, at, inside, 8);
      const __m256d tr = _mm256_mask_i32gather_pd(zero, right, at, inside, 8);
      const __m256d bl = _mm256_mask_i32gather_pd(zero, below, at, inside, 8);
      const __m256d br = _mm256_mask_i32gather_pd(zero, belowRight, at, inside, 8);
      const __m256d gx = _mm256_sub_pd(one, fx);
      const __m256d t = _mm256_add_pd(_mm256_mul_pd(gx, tl), _mm256_mul_pd(fx, tr));
      const __m256d b = _mm256_add_pd(_mm256_mul_pd(gx, bl), _mm256_mul_pd(fx, br));
      value = _mm256_and_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(one, fy), t), _mm256_mul_pd(fy, b)), inside);
    }
    if (count - c >= 4) {
      _mm256_storeu_pd(out + c, value);
    } else {
      alignas(32) double last[4];
      _mm256_store_pd(last, value);
      for (int k = 0; k < count - c; ++k) out[c + k] = last[k];
    }
  }
}

LUMET_AVX2 void lumet::detail::AccumulateRowsAvx2(const uint8_t* ref, const double* rows, int rowStride, int rowCount,
                                                   int width, double* sums, long* counts) {
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
