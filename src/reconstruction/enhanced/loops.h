#pragma once

#include <cstddef>
#include <cstdint>

namespace lumet::detail {

// The cubic convolution's weights (Keys' kernel, a = -1/2) of the pixels at -1, 0, 1 and 2
// for a position t in [0, 1) past pixel 0: w_j = ((A_j t + B_j) t + C_j) t + D_j, formed so
// by the sampling and its adjoint alike.
inline constexpr double kCubicA[4] = {-0.5, 1.5, -1.5, 0.5};
inline constexpr double kCubicB[4] = {1.0, -2.5, 2.0, -0.5};
inline constexpr double kCubicC[4] = {-0.5, 0.0, 0.5, 0.0};
inline constexpr double kCubicD[4] = {0.0, 1.0, 0.0, 0.0};

// The forward model's and the objective's loops over samples of type T (double, or float
// for the single-precision backend), one body compiled for each instruction set
// (loops_kernel.inc); every variant gives the same values bit for bit (no fused
// multiply-add; square root and division are correctly rounded in every width). Sums
// returned as double are of terms formed in T.
template <class T>
struct ModelLoops {
  // The prior's pair terms along one row for one shift: for i < count, with d = a[i] - b[i]
  // and root = sqrt(d^2 + ep^2), slope[i] = weight * d / root (the term's derivative in
  // a[i]); returns the sum of weight * (root - ep), taken in four partial sums (i % 4, the
  // tail in the first) added pairwise.
  double (*priorPairs)(const T* a, const T* b, int count, T weight, T ep, T* slope);
  // out[x] = sum over t of taps[t] * in[x + t - n / 2], over the taps that fall inside
  // [0, width), taken in the order of t from 0.0.
  void (*blurRow)(const T* in, T* out, int width, const T* taps, int n);
  // out[x] = sum over t in [lo, hi) of taps[t] * in[t * stride + x] for x < width, taken in
  // the order of t from 0.0.
  void (*blurColumns)(const T* in, size_t stride, T* out, int width, const T* taps, int lo, int hi);
  // out[i] for i < count: the plane b (rows of w) sampled bilinearly in the cell whose top-left
  // pixel is b[index[i]], at the fractions fx[i] across and fy[i] down, as
  // top = p[0] + fx (p[1] - p[0]), bottom = p[w] + fx (p[w + 1] - p[w]), top + fy (bottom - top).
  void (*sample)(const T* b, int w, const int32_t* index, const float* fx, const float* fy, size_t count, T* out);
  // The same by cubic convolution over the 4 x 4 pixels from p = b + index[i] - w - 1: with
  // wx and wy the weights of fx[i] and fy[i] (kCubicA ..), column j's sum
  // c_j = ((wy0 p[j] + wy1 p[w + j]) + wy2 p[2w + j]) + wy3 p[3w + j], then
  // ((wx0 c_0 + wx1 c_1) + wx2 c_2) + wx3 c_3.
  void (*sampleCubic)(const T* b, int w, const int32_t* index, const float* fx, const float* fy, size_t count,
                      T* out);
  // Its adjoint over the rows [top, bottom) of b (rows of w) alone: for each observation
  // o = list[i], i < count, in that order, every pixel of o's 4 x 4 support on those rows
  // adds (r[o] wy_i) wx_j.
  void (*splatCubic)(T* b, int w, const int32_t* index, const float* fx, const float* fy, const T* r,
                     const uint32_t* list, size_t count, int top, int bottom);
  // The data term of count observations: with d = r[i] - values[i] (the value rounded to T),
  // root = sqrt(d^2 + eps^2) and wo = ow[i] (1 when ow is null), r[i] becomes (wk wo) d / root;
  // returns the sum of (wk wo) (root - eps), taken in four partial sums (i % 4, the tail in
  // the first) added pairwise.
  double (*dataTerm)(T* r, const double* values, const float* ow, T wk, T eps, size_t count);
  // The prior's gradient on the inner pixels of a row: with f[s] the derivatives of the pairs
  // starting on the row for the shifts (1, 0), (0, 1), (2, 0), (1, 1), (0, 2), and up1 the
  // (0, 1) and (1, 1) ones of the row above and up2 the (0, 2) one of the row two above, for
  // lo <= x < hi out[x] += lambda g, g = 0.0 + f0[x] - f0[x - 1] + f1[x] - up1[0][x] + f2[x]
  // - f2[x - 2] + f3[x] - up1[1][x - 1] + f4[x] - up2[x], added in that order in double.
  void (*priorGradient)(const T* const* f, const T* const* up1, const T* up2, double lambda, int lo, int hi,
                        double* out);
};

struct EnhancedLoops {
  ModelLoops<double> doubles;
  ModelLoops<float> singles;
  // The quasi-Newton steps' vector passes, over one block of count elements (a multiple of
  // four but for the last); the curvature pairs' vectors are kept in float. multiDot: for
  // k < pairs, sums[k][l] += a[k][j] * b[k][j] over the j < count with j % 4 == l, in the
  // order of j. dotsWith: for k < vectors, sums[k][l] += the products a[k][j] b[j] (the
  // elements as doubles) of the j < count / 8 * 8 with j % 8 == l, plus those with
  // j % 8 == l + 4, then the tail's, j % 4 == l; of float vectors with a double one or a
  // float one. combine: d[j] = ((g0 g[j] + c[0] v[0][j]) + c[1] v[1][j]) + ... over the
  // vectors i < vectors, for j < count.
  void (*multiDot)(const double* const* a, const double* const* b, int pairs, size_t count, double (*sums)[4]);
  void (*dotsWithDouble)(const float* const* a, int vectors, const double* b, size_t count, double (*sums)[4]);
  void (*dotsWithSingle)(const float* const* a, int vectors, const float* b, size_t count, double (*sums)[4]);
  void (*combine)(double* d, const double* g, double g0, const float* const* v, const double* c, int vectors,
                  size_t count);

  template <class T>
  const ModelLoops<T>& Of() const {
    if constexpr (sizeof(T) == sizeof(float)) {
      return singles;
    } else {
      return doubles;
    }
  }
};

// The variant of the active instruction set (numeric/simd.h).
const EnhancedLoops& ActiveEnhancedLoops();

extern const EnhancedLoops kEnhancedLoopsBaseline;
extern const EnhancedLoops kEnhancedLoopsAvx2;
extern const EnhancedLoops kEnhancedLoopsAvx512;

}  // namespace lumet::detail
