#pragma once

#include "numeric/image_plane.h"
#include "numeric/matrix.h"

namespace lumet {

// Size n of the square derivative kernels for a filter sigma: (int)(ceil(6 sigma) + 1),
// made odd. 1.5 -> 11, 1.0 -> 7, 0.6 -> 5, 0.5 -> 5. The radius is h = (n - 1) / 2.
// sigma must be positive and finite (callers check it).
int DerivativeKernelSize(double sigma);

// Writes the n x n Gaussian G (normalised to sum 1) and its first-derivative kernels Kx
// (along x) and Ky (along y) for sigma. Element K[a][b] belongs to the horizontal offset
// u = a - h and the vertical offset v = b - h. The kernels use s2 = sigma^2 rounded to
// single precision; a caller that wants sigma itself rounded to single precision first
// passes it so. Kx and Ky are -u/s2 and -v/s2 times the unnormalised Gaussian, so a
// correlation with them gives the negated derivative. The matrices are re-allocated.
void BuildDerivativeKernels(double sigma, int n, FloatMatrix& g, FloatMatrix& kx, FloatMatrix& ky);

// Correlates source with the n x n kernel over the interior only: target is re-created at
// the source's size, pixels with x < h, x >= W - h, y < h or y >= H - h are 0.0, every other
// pixel holds sum over b (rows, outer) and a (columns, inner) of K[a][b] * I(x + a - h,
// y + b - h), summed in double from 0. Rows are split across threads and the pixels of a
// row are vectorised; the per-pixel summation order is that of SmoothInteriorDirect, so
// the results are identical to it.
void SmoothInterior(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n);

// target sized like source and set to 0: the interior filters (smoothing, non-maximum
// suppression) write only the pixels at least half their window from the border.
inline void ZeroedLike(const DoubleImage& source, DoubleImage& target) {
  target.Create(source.Width(), source.Height());
  target.Fill(0.0);
}

// The plain reference loops' frame: target zeroed at source's size, then target(x, y) =
// value(x, y) for every pixel at least margin from each edge.
template <class Value>
void FillInterior(const DoubleImage& source, int margin, DoubleImage& target, Value&& value) {
  ZeroedLike(source, target);
  for (int y = margin; y < source.Height() - margin; ++y) {
    for (int x = margin; x < source.Width() - margin; ++x) target.At(x, y) = value(x, y);
  }
}

// The plain per-pixel sum: the oracle of SmoothInterior.
void SmoothInteriorDirect(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n);

}  // namespace lumet
