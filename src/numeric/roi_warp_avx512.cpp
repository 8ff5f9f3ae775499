// Compiled with -mavx512f -mavx2; called only on processors that have them. Includes nothing
// of the standard library (see numeric/convolve_engine.h).
#include <immintrin.h>

#include "numeric/roi_warp.h"

namespace {

// One homography's projection of row y, exactly as the scalar warp forms it:
// u = 600 (h11 x + h12 y + 600 h13) / (h31 x + h32 y + 600 h33), v likewise with h2*.
struct RowProjection {
  RowProjection(const double* h, double y, int width, int height)
      : widthD(_mm512_set1_pd(static_cast<double>(width))), heightD(_mm512_set1_pd(static_cast<double>(height))) {
    const __m512d ys = _mm512_set1_pd(y);
    h11 = _mm512_set1_pd(h[0]);
    h12y = _mm512_mul_pd(_mm512_set1_pd(h[1]), ys);
    h13 = _mm512_set1_pd(600.0 * h[2]);
    h21 = _mm512_set1_pd(h[3]);
    h22y = _mm512_mul_pd(_mm512_set1_pd(h[4]), ys);
    h23 = _mm512_set1_pd(600.0 * h[5]);
    h31 = _mm512_set1_pd(h[6]);
    h32y = _mm512_mul_pd(_mm512_set1_pd(h[7]), ys);
    h33 = _mm512_set1_pd(600.0 * h[8]);
  }

  // u and v at the eight columns xs.
  void Project(__m512d xs, __m512d& u, __m512d& v) const {
    const __m512d unit = _mm512_set1_pd(600.0);
    const __m512d d = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(h31, xs), h32y), h33);
    u = _mm512_div_pd(_mm512_mul_pd(unit, _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(h11, xs), h12y), h13)), d);
    v = _mm512_div_pd(_mm512_mul_pd(unit, _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(h21, xs), h22y), h23)), d);
  }

  // Pixels x0 + c .. x0 + c + 7 of the row (those below count are live): u and v, and the
  // live lanes whose point lies in 0 <= u < width, 0 <= v < height.
  __mmask8 Inside(double x0, int c, int count, __mmask8& live, __m512d& u, __m512d& v) const {
    const int left = count - c;
    live = left >= 8 ? static_cast<__mmask8>(0xFF) : static_cast<__mmask8>((1u << left) - 1u);
    // x0 + c as the scalar warp forms it (whole numbers, exact), one lane per pixel.
    const __m512d lanes = _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0);
    const __m512d xs = _mm512_add_pd(_mm512_set1_pd(x0 + static_cast<double>(c)), lanes);
    Project(xs, u, v);
    const __m512d zero = _mm512_setzero_pd();
    __mmask8 inside = _mm512_mask_cmp_pd_mask(live, u, zero, _CMP_GE_OQ);
    inside = _mm512_mask_cmp_pd_mask(inside, v, zero, _CMP_GE_OQ);
    inside = _mm512_mask_cmp_pd_mask(inside, u, widthD, _CMP_LT_OQ);
    return _mm512_mask_cmp_pd_mask(inside, v, heightD, _CMP_LT_OQ);
  }

  __m512d widthD, heightD;
  __m512d h11, h12y, h13, h21, h22y, h23, h31, h32y, h33;
};

}  // namespace

void lumet::detail::WarpRowAvx512(const uint8_t* pixels, int stride, int width, int height, const double* h,
                                  double x0, double y, int count, double* out) {
  const RowProjection projection(h, y, width, height);
  const __m512d zero = _mm512_setzero_pd();
  const __m512d one = _mm512_set1_pd(1.0);
  const __m256i lastColumn = _mm256_set1_epi32(width - 1);
  const __m256i lastRow = _mm256_set1_epi32(height - 1);
  const __m256i strideV = _mm256_set1_epi32(stride);
  const __m256i oneI = _mm256_set1_epi32(1);
  // A 4-byte read at offset o must end inside the plane: reads past its last 4 bytes are
  // moved back and their byte shifted into place.
  const __m256i lastRead = _mm256_set1_epi32(stride * height - 4);
  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  const int* base = reinterpret_cast<const int*>(pixels);

  // The two bytes at offset o and o + 1 in the low 16 bits of each lane. The second byte
  // is needed only where the column to the right exists, that is where o + 1 is inside too.
  auto gatherPair = [&](__m256i offset) {
    const __m256i safe = _mm256_min_epi32(offset, lastRead);
    const __m256i shift = _mm256_slli_epi32(_mm256_sub_epi32(offset, safe), 3);
    return _mm256_srlv_epi32(_mm256_i32gather_epi32(base, safe, 1), shift);
  };
  for (int c = 0; c < count; c += 8) {
    __mmask8 live;
    __m512d u;
    __m512d v;
    const __mmask8 inside = projection.Inside(x0, c, count, live, u, v);
    if (inside == 0) {
      _mm512_mask_storeu_pd(out + c, live, zero);
      continue;
    }
    // Lanes outside sample pixel (0, 0) and are discarded.
    const __m512d us = _mm512_mask_blend_pd(inside, zero, u);
    const __m512d vs = _mm512_mask_blend_pd(inside, zero, v);
    const __m256i ix = _mm512_cvttpd_epi32(us);
    const __m256i iy = _mm512_cvttpd_epi32(vs);
    const __m512d fx = _mm512_sub_pd(us, _mm512_cvtepi32_pd(ix));
    const __m512d fy = _mm512_sub_pd(vs, _mm512_cvtepi32_pd(iy));
    // The last column has no right neighbour: it is its own (the scalar warp clamps to it).
    const __m256i lastCol = _mm256_cmpeq_epi32(ix, lastColumn);
    const __m256i yb = _mm256_min_epi32(_mm256_add_epi32(iy, oneI), lastRow);
    const __m256i topPair = gatherPair(_mm256_add_epi32(_mm256_mullo_epi32(iy, strideV), ix));
    const __m256i bottomPair = gatherPair(_mm256_add_epi32(_mm256_mullo_epi32(yb, strideV), ix));
    const __m256i tlI = _mm256_and_si256(topPair, byteMask);
    const __m256i blI = _mm256_and_si256(bottomPair, byteMask);
    const __m256i trI = _mm256_blendv_epi8(_mm256_and_si256(_mm256_srli_epi32(topPair, 8), byteMask), tlI, lastCol);
    const __m256i brI = _mm256_blendv_epi8(_mm256_and_si256(_mm256_srli_epi32(bottomPair, 8), byteMask), blI, lastCol);
    const __m512d tl = _mm512_cvtepi32_pd(tlI);
    const __m512d tr = _mm512_cvtepi32_pd(trI);
    const __m512d bl = _mm512_cvtepi32_pd(blI);
    const __m512d br = _mm512_cvtepi32_pd(brI);
    const __m512d gx = _mm512_sub_pd(one, fx);
    const __m512d t = _mm512_add_pd(_mm512_mul_pd(gx, tl), _mm512_mul_pd(fx, tr));
    const __m512d b = _mm512_add_pd(_mm512_mul_pd(gx, bl), _mm512_mul_pd(fx, br));
    const __m512d value = _mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(one, fy), t), _mm512_mul_pd(fy, b));
    _mm512_mask_storeu_pd(out + c, live, _mm512_mask_blend_pd(inside, zero, value));
  }
}

void lumet::detail::AccumulateRowsAvx512(const uint8_t* ref, const double* rows, int rowStride, int rowCount,
                                         int width, double* sums, long* counts) {
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

void lumet::detail::WarpRowPlaneAvx512(const double* plane, int planeStride, int width, int height, const double* h,
                                       double x0, double y, int count, double* out) {
  const RowProjection projection(h, y, width, height);
  const __m512d zero = _mm512_setzero_pd();
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d strideD = _mm512_set1_pd(static_cast<double>(planeStride));
  const double* right = plane + 1;
  const double* below = plane + planeStride;
  const double* belowRight = plane + planeStride + 1;

  for (int c = 0; c < count; c += 8) {
    __mmask8 live;
    __m512d u;
    __m512d v;
    const __mmask8 inside = projection.Inside(x0, c, count, live, u, v);
    if (inside == 0) {
      _mm512_mask_storeu_pd(out + c, live, zero);
      continue;
    }
    // Truncation is the floor for the lanes inside (u, v >= 0), and u - trunc(u) the
    // fraction the scalar warp forms from its integer part. The other lanes read nothing.
    const __m512d iu = _mm512_roundscale_pd(u, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m512d iv = _mm512_roundscale_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m512d fx = _mm512_sub_pd(u, iu);
    const __m512d fy = _mm512_sub_pd(v, iv);
    // Whole numbers below the plane's size: exact in double.
    const __m256i at = _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_mul_pd(iv, strideD), iu));
    const __m512d tl = _mm512_mask_i32gather_pd(zero, inside, at, plane, 8);
    const __m512d tr = _mm512_mask_i32gather_pd(zero, inside, at, right, 8);
    const __m512d bl = _mm512_mask_i32gather_pd(zero, inside, at, below, 8);
    const __m512d br = _mm512_mask_i32gather_pd(zero, inside, at, belowRight, 8);
    const __m512d gx = _mm512_sub_pd(one, fx);
    const __m512d t = _mm512_add_pd(_mm512_mul_pd(gx, tl), _mm512_mul_pd(fx, tr));
    const __m512d b = _mm512_add_pd(_mm512_mul_pd(gx, bl), _mm512_mul_pd(fx, br));
    const __m512d value = _mm512_maskz_add_pd(inside, _mm512_mul_pd(_mm512_sub_pd(one, fy), t), _mm512_mul_pd(fy, b));
    _mm512_mask_storeu_pd(out + c, live, value);
  }
}

void lumet::detail::WarpRowSharedPlaneAvx512(const SharedRowsWarp& job, double x0, double y, int count, double* out,
                                             int outStride) {
  constexpr int kMax = 8;
  const __m512d unit = _mm512_set1_pd(600.0);
  const __m512d ys = _mm512_set1_pd(y);
  const __m512d zero = _mm512_setzero_pd();
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d widthD = _mm512_set1_pd(static_cast<double>(job.width));
  const __m512d heightD = _mm512_set1_pd(static_cast<double>(job.height));
  const __m512d strideD = _mm512_set1_pd(static_cast<double>(job.planeStride));
  const __m512d lanes = _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0);
  const double* plane = job.plane;
  const double* right = plane + 1;
  const double* below = plane + job.planeStride;
  const double* belowRight = plane + job.planeStride + 1;
  // Each row's three terms as the single-homography warp forms them.
  const __m512d h31 = _mm512_set1_pd(job.denominator[0]);
  const __m512d h32y = _mm512_mul_pd(_mm512_set1_pd(job.denominator[1]), ys);
  const __m512d h33 = _mm512_set1_pd(600.0 * job.denominator[2]);
  __m512d ua[kMax], ub[kMax], uc[kMax], va[kMax], vb[kMax], vc[kMax];
  for (int i = 0; i < job.uCount; ++i) {
    ua[i] = _mm512_set1_pd(job.uRows[3 * i]);
    ub[i] = _mm512_mul_pd(_mm512_set1_pd(job.uRows[3 * i + 1]), ys);
    uc[i] = _mm512_set1_pd(600.0 * job.uRows[3 * i + 2]);
  }
  for (int j = 0; j < job.vCount; ++j) {
    va[j] = _mm512_set1_pd(job.vRows[3 * j]);
    vb[j] = _mm512_mul_pd(_mm512_set1_pd(job.vRows[3 * j + 1]), ys);
    vc[j] = _mm512_set1_pd(600.0 * job.vRows[3 * j + 2]);
  }

  for (int c = 0; c < count; c += 8) {
    const int left = count - c;
    const __mmask8 live = left >= 8 ? static_cast<__mmask8>(0xFF) : static_cast<__mmask8>((1u << left) - 1u);
    const __m512d xs = _mm512_add_pd(_mm512_set1_pd(x0 + static_cast<double>(c)), lanes);
    const __m512d d = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(h31, xs), h32y), h33);
    // Per distinct first row: u, whether it is inside, its integer part and fraction.
    __mmask8 insideU[kMax];
    __m512d iu[kMax], fx[kMax];
    for (int i = 0; i < job.uCount; ++i) {
      const __m512d u =
          _mm512_div_pd(_mm512_mul_pd(unit, _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(ua[i], xs), ub[i]), uc[i])), d);
      insideU[i] = _mm512_mask_cmp_pd_mask(_mm512_mask_cmp_pd_mask(live, u, zero, _CMP_GE_OQ), u, widthD, _CMP_LT_OQ);
      iu[i] = _mm512_roundscale_pd(u, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
      fx[i] = _mm512_sub_pd(u, iu[i]);
    }
    // Per distinct second row: v likewise, and the offset of its plane row.
    __mmask8 insideV[kMax];
    __m512d rowAt[kMax], fy[kMax];
    for (int j = 0; j < job.vCount; ++j) {
      const __m512d v =
          _mm512_div_pd(_mm512_mul_pd(unit, _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(va[j], xs), vb[j]), vc[j])), d);
      insideV[j] = _mm512_mask_cmp_pd_mask(_mm512_mask_cmp_pd_mask(live, v, zero, _CMP_GE_OQ), v, heightD, _CMP_LT_OQ);
      const __m512d iv = _mm512_roundscale_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
      fy[j] = _mm512_sub_pd(v, iv);
      rowAt[j] = _mm512_mul_pd(iv, strideD);
    }
    for (int k = 0; k < job.count; ++k) {
      const int i = job.uOf[k];
      const int j = job.vOf[k];
      double* target = out + static_cast<long>(k) * outStride + c;
      const __mmask8 inside = insideU[i] & insideV[j];
      if (inside == 0) {
        _mm512_mask_storeu_pd(target, live, zero);
        continue;
      }
      const __m256i at = _mm512_cvttpd_epi32(_mm512_add_pd(rowAt[j], iu[i]));
      const __m512d tl = _mm512_mask_i32gather_pd(zero, inside, at, plane, 8);
      const __m512d tr = _mm512_mask_i32gather_pd(zero, inside, at, right, 8);
      const __m512d bl = _mm512_mask_i32gather_pd(zero, inside, at, below, 8);
      const __m512d br = _mm512_mask_i32gather_pd(zero, inside, at, belowRight, 8);
      const __m512d gx = _mm512_sub_pd(one, fx[i]);
      const __m512d t = _mm512_add_pd(_mm512_mul_pd(gx, tl), _mm512_mul_pd(fx[i], tr));
      const __m512d b = _mm512_add_pd(_mm512_mul_pd(gx, bl), _mm512_mul_pd(fx[i], br));
      const __m512d value =
          _mm512_maskz_add_pd(inside, _mm512_mul_pd(_mm512_sub_pd(one, fy[j]), t), _mm512_mul_pd(fy[j], b));
      _mm512_mask_storeu_pd(target, live, value);
    }
  }
}
