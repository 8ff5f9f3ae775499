#pragma once

#include <cstddef>
#include <cstdint>

namespace lumet::detail {

// The enhanced method's innermost loops, one body compiled for each instruction set
// (loops_kernel.inc); every variant gives the same values bit for bit (no fused
// multiply-add; square root and division are correctly rounded in every width).
struct EnhancedLoops {
  // The prior's pair terms along one row for one shift: for i < count, with d = a[i] - b[i]
  // and root = sqrt(d^2 + ep^2), slope[i] = weight * d / root (the term's derivative in
  // a[i]); returns the sum of weight * (root - ep), taken in four partial sums (i % 4, the
  // tail in the first) added pairwise.
  double (*priorPairs)(const double* a, const double* b, int count, double weight, double ep, double* slope);
  // out[x] = sum over t of taps[t] * in[x + t - n / 2], over the taps that fall inside
  // [0, width), taken in the order of t from 0.0.
  void (*blurRow)(const double* in, double* out, int width, const double* taps, int n);
  // out[x] = sum over t in [lo, hi) of taps[t] * in[t * stride + x] for x < width, taken in
  // the order of t from 0.0.
  void (*blurColumns)(const double* in, size_t stride, double* out, int width, const double* taps, int lo, int hi);
  // out[i] for i < count: the plane b (rows of w) sampled bilinearly in the cell whose top-left
  // pixel is b[index[i]], at the fractions fx[i] across and fy[i] down, as
  // top = p[0] + fx (p[1] - p[0]), bottom = p[w] + fx (p[w + 1] - p[w]), top + fy (bottom - top).
  void (*sample)(const double* b, int w, const int32_t* index, const float* fx, const float* fy, size_t count,
                 double* out);
  // The data term of count observations: with d = r[i] - values[i], root = sqrt(d^2 + eps^2)
  // and wo = ow[i] (1 when ow is null), r[i] becomes (wk wo) d / root; returns the sum of
  // (wk wo) (root - eps), taken in four partial sums (i % 4, the tail in the first) added
  // pairwise.
  double (*dataTerm)(double* r, const double* values, const float* ow, double wk, double eps, size_t count);
  // d[j] += a * v[j] for j < count; returns the sum of w[j] * d[j] (updated), taken in four
  // partial sums (j % 4, the tail by its place after the last four) added pairwise: the
  // quasi-Newton direction's most frequent vector pass.
  double (*axpyDot)(double* d, double a, const double* v, const double* w, size_t count);
};

// The variant of the active instruction set (numeric/simd.h).
const EnhancedLoops& ActiveEnhancedLoops();

extern const EnhancedLoops kEnhancedLoopsBaseline;
extern const EnhancedLoops kEnhancedLoopsAvx2;
extern const EnhancedLoops kEnhancedLoopsAvx512;

}  // namespace lumet::detail
