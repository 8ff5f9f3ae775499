#pragma once

#include <cstdint>

namespace lumet::detail {

// One row of the ROI warp on AVX-512: out[c] for c = 0 .. count - 1 is the bilinear value
// of the 8-bit plane at ProjectPoint(h, x0 + c, y) when that lies in 0 <= u < width,
// 0 <= v < height, and 0.0 otherwise, with the same operations, in the same order, as the
// scalar warp (no fused multiply-add), so the values are identical. h holds h11 .. h33 row
// by row. Only for processors with AVX-512F and AVX2.
void WarpRowAvx512(const uint8_t* pixels, int stride, int width, int height, const double* h, double x0, double y,
                   int count, double* out);

// The same warp from the frame's pixels as doubles, laid out with one repeated column on the
// right and one repeated row below (planeStride = width + 1, height + 1 rows): the right and
// lower neighbours need no clamping and the taps no conversion. Identical values;
// (width + 1) * (height + 1) must fit in an int.
void WarpRowPlaneAvx512(const double* plane, int planeStride, int width, int height, const double* h, double x0,
                        double y, int count, double* out);

// Several homographies with the same third row, warped together: each distinct first row
// (h11 h12 h13) gives its coordinate u once and each distinct second row its v once, and
// homography k samples at (u of uOf[k], v of vOf[k]). Values identical to
// WarpRowPlaneAvx512 of each homography. At most 8 distinct rows of each kind.
struct SharedRowsWarp {
  const double* plane = nullptr;  // as for WarpRowPlaneAvx512
  int planeStride = 0;
  int width = 0;
  int height = 0;
  const double* denominator = nullptr;  // h31 h32 h33
  int uCount = 0;
  const double* uRows = nullptr;  // uCount x 3
  int vCount = 0;
  const double* vRows = nullptr;  // vCount x 3
  int count = 0;                  // homographies, at most 8
  const int* uOf = nullptr;
  const int* vOf = nullptr;
};
// Row y of every homography: out[k * outStride + c] for c < count.
void WarpRowSharedPlaneAvx512(const SharedRowsWarp& job, double x0, double y, int count, double* out, int outStride);

// Adds one ROI row to rowCount (1 .. 8) running sums at once: for each pixel c in order and
// each row k, when rows[k * rowStride + c] is above 0, |ref[c] - rows[k * rowStride + c]|
// is added to sums[k] and 1 to counts[k]. Each sum is formed in pixel order exactly as a
// scalar loop forms it, one homography per vector lane. AVX-512F only.
void AccumulateRowsAvx512(const uint8_t* ref, const double* rows, int rowStride, int rowCount, int width,
                          double* sums, long* counts);

// The plane warp and the row sums on AVX2 (4 lanes, no fused multiply-add), for processors
// without AVX-512; the same values.
void WarpRowPlaneAvx2(const double* plane, int planeStride, int width, int height, const double* h, double x0,
                      double y, int count, double* out);
void AccumulateRowsAvx2(const uint8_t* ref, const double* rows, int rowStride, int rowCount, int width, double* sums,
                        long* counts);

}  // namespace lumet::detail
