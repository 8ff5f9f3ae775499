#pragma once

#include <cstddef>

namespace lumet::detail {

// The direct alignment's normal equations, one body compiled for each instruction set
// (align_kernel.inc); every variant gives the same values bit for bit (no fused multiply-add).
struct AlignKernels {
  // Adds the robustly weighted Gauss-Newton terms of the pixels i < count with valid[i] != 0,
  // in pixel order: with e = errors[i], weight = 1 where |e| <= k, else k / |e|, and
  // J = jacobians + i * stride (8 values), wj[r] = weight * J[r]; b[r] += wj[r] * e and
  // a[8 * r + c] += wj[r] * J[c] for every r and c. Only the upper triangle (c >= r) is meant:
  // the lower one holds the same terms with their factors the other way round.
  void (*normalEquations)(const double* jacobians, size_t stride, const double* errors, const char* valid,
                          size_t count, double k, double* a, double* b);
};

// The variant of the active instruction set (numeric/simd.h).
const AlignKernels& ActiveAlignKernels();

extern const AlignKernels kAlignKernelsBaseline;
extern const AlignKernels kAlignKernelsAvx2;
extern const AlignKernels kAlignKernelsAvx512;

}  // namespace lumet::detail
