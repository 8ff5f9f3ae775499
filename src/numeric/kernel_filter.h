#pragma once

#include "numeric/convolve_engine.h"
#include "numeric/matrix.h"

namespace lumet::detail {

// Rows r0 .. r1 - 1 of the filter pass over the row tables rows and out (see FilterJob), with
// the taps of the n x n kernel (kernel[a][b]: a across, b down) widened to double in the
// order they are summed, b outer and a inner.
void RunKernelFilter(const double* const* rows, double* const* out, int width, const FloatMatrix& kernel, int n,
                     bool fused, int r0, int r1);

}  // namespace lumet::detail
