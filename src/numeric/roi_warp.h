#pragma once

#include <cstdint>

// The homography warp of one row (registration's ROI error, reconstruction's frame errors),
// one copy per instruction set from one body (numeric/roi_warp_kernel.inc). Internal to
// numeric/, registration/ and reconstruction/: callers take the active variant's kernels
// from ActiveRoiWarp() and keep a scalar loop for the baseline.
// The variant translation units include nothing of the standard library but <cstdint>'s
// type names (see numeric/convolve_engine.h).

namespace lumet::detail {

// Every warp: out[c] for c = 0 .. count - 1 is the bilinear value of the frame at
// ProjectPoint(h, x0 + c, y) when that lies in 0 <= u < width, 0 <= v < height, and 0.0
// otherwise, with the same operations, in the same order, as the scalar warp (no fused
// multiply-add), so the values are identical. h holds h11 .. h33 row by row.

// From the frame's 8-bit pixels.
using WarpRowBytesFunction = void (*)(const uint8_t* pixels, int stride, int width, int height, const double* h,
                                      double x0, double y, int count, double* out);

// From the frame's pixels as doubles, laid out with one repeated column on the right and one
// repeated row below (planeStride = width + 1, height + 1 rows): the right and lower
// neighbours need no clamping and the taps no conversion. (width + 1) * (height + 1) must fit
// in an int.
using WarpRowPlaneFunction = void (*)(const double* plane, int planeStride, int width, int height, const double* h,
                                      double x0, double y, int count, double* out);

// Several homographies with the same third row, warped together: each distinct first row
// (h11 h12 h13) gives its coordinate u once and each distinct second row its v once, and
// homography k samples at (u of uOf[k], v of vOf[k]). Values identical to the plane warp
// of each homography. At most kSharedRowsMax distinct rows of each kind.
inline constexpr int kSharedRowsMax = 8;
struct SharedRowsWarp {
  const double* plane = nullptr;  // as for the plane warp
  int planeStride = 0;
  int width = 0;
  int height = 0;
  const double* denominator = nullptr;  // h31 h32 h33
  int uCount = 0;
  const double* uRows = nullptr;  // uCount x 3
  int vCount = 0;
  const double* vRows = nullptr;  // vCount x 3
  int count = 0;                  // homographies, at most kSharedRowsMax
  const int* uOf = nullptr;
  const int* vOf = nullptr;
};
// Row y of every homography: out[k * outStride + c] for c < count.
using WarpRowSharedPlaneFunction = void (*)(const SharedRowsWarp& job, double x0, double y, int count, double* out,
                                            int outStride);

// Adds one ROI row to rowCount (1 .. 8) running sums at once: for each pixel c in order and
// each row k, when rows[k * rowStride + c] is above 0, |ref[c] - rows[k * rowStride + c]|
// is added to sums[k] and 1 to counts[k]. Each sum is formed in pixel order exactly as a
// scalar loop forms it, one homography per vector lane.
using AccumulateRowsFunction = void (*)(const uint8_t* ref, const double* rows, int rowStride, int rowCount,
                                        int width, double* sums, long* counts);

struct RoiWarpKernels {
  WarpRowBytesFunction bytes;
  WarpRowPlaneFunction plane;
  WarpRowSharedPlaneFunction sharedPlane;
  AccumulateRowsFunction accumulate;
};

// The kernels per instruction set; each only for processors that have it.
extern const RoiWarpKernels kRoiWarpAvx2;
extern const RoiWarpKernels kRoiWarpAvx512;

// The kernels of the active instruction set, or nullptr on the baseline.
const RoiWarpKernels* ActiveRoiWarp();

}  // namespace lumet::detail
