#pragma once

#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"

namespace lumet {

// Border rule of ConvolveMirror for index i against length n: i < 0 reads -i (reflection
// about the first pixel, not repeated); i > n - 1 reads 2n - 1 - i (reflection about the
// outer edge of the last pixel, which is repeated).
inline int MirrorIndex(int i, int n) {
  if (i < 0) return -i;
  if (i > n - 1) return 2 * n - 1 - i;
  return i;
}

// The instruction sets the filter loops are compiled for, chosen at run time.
enum class SimdVariant { Baseline, Avx2, Avx512 };
const char* SimdVariantName(SimdVariant variant);
// The variants this processor runs, baseline first, the widest last.
std::vector<SimdVariant> SupportedSimdVariants();
// The variant in use: the widest supported unless set (tests, benchmarks). Every variant
// gives the same results bit for bit. Setting an unsupported one throws lumet::Error.
SimdVariant ActiveSimdVariant();
void SetSimdVariant(SimdVariant variant);

// Correlation (the kernel is not flipped) of source with the n x n kernel K, where
// K[a][b] belongs to the horizontal offset a - h and the vertical offset b - h
// (h = n / 2). target is re-created at the source's size and every pixel written:
// target(c, r) = sum over dy = -h..h (outer) of sum over dx = -h..h (inner) of
// K[dx + h][dy + h] * source(mirror(c + dx), mirror(r + dy)), summed in double from 0:
// by fused multiply-add (one rounding per tap) for a double source, by a rounded product
// and a rounded sum for an 8-bit source.
// The source must be at least h + 1 pixels wide and high (lumet::Error otherwise).
// The result is identical, bit for bit, to ConvolveMirrorDirect.
void ConvolveMirror(const GrayImage& source, DoubleImage& target, const FloatMatrix& kernel, int n);
void ConvolveMirror(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n);

// The straightforward per-pixel sum with the border rule applied to every index: the
// oracle of the fast paths above.
void ConvolveMirrorDirect(const GrayImage& source, DoubleImage& target, const FloatMatrix& kernel, int n);
void ConvolveMirrorDirect(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n);

}  // namespace lumet
