#pragma once

#include "numeric/matrix.h"

namespace lumet {

// Smallest PSF kernel size.
inline constexpr int kMinPsfKernelSize = 7;

// The odd size n of the PSF kernel for sigma (LR pixels) at scale s:
// m = ceil((sigma * s) * 6) + 1, n = m rounded up to odd, at least 7.
// lumet::Error naming the PSF sigma when sigma is not a positive number or the kernel would be
// absurdly large.
int PsfKernelSize(double sigma, double scale);

// The n x n Gaussian PSF on the HR grid (variance (sigma * s)^2 in single precision),
// normalised to sum 1; K[a][b] belongs to the offsets dx = a - h, dy = b - h. n is
// Rows() of the result, also returned in size.
FloatMatrix MakePsfKernel(double sigma, double scale, int& size);
FloatMatrix MakePsfKernel(double sigma, double scale);

}  // namespace lumet
