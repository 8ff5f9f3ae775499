#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "numeric/simd.h"

namespace lumet {

// Border rule of ConvolveMirror for index i against length n: i < 0 reads -i (reflection
// about the first pixel, not repeated); i > n - 1 reads 2n - 1 - i (reflection about the
// outer edge of the last pixel, which is repeated).
inline int MirrorIndex(int i, int n) {
  if (i < 0) return -i;
  if (i > n - 1) return 2 * n - 1 - i;
  return i;
}


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

// True when no sum of an 8-bit source's products with the kernel can round: every product
// of a float tap and an integer 0..255 is exact in double, and when their common unit (the
// finest tap's last bit) times 2^53 exceeds 255 times the taps' absolute sum, so is every
// sum of them, in any order. Then a fused multiply-add gives the rounded product-and-sum's
// result exactly, and ConvolveMirror of an 8-bit source takes the faster fused loops.
bool EightBitSumsAreExact(const FloatMatrix& kernel, int n);

// Writes the h mirrored columns each side of a padded row (pixel 0 at row) from its
// width pixels.
void MirrorPaddedColumns(double* row, int width, int half);

// A double image kept with its border already mirrored for an n x n filter: h = n / 2 extra
// columns each side of every row (MirrorIndex of the columns) and a row table that gives the
// mirrored rows, so that repeated filter passes read it directly. Rows start 64-byte aligned.
class MirrorPaddedImage {
 public:
  // Sized for a width x height image and an n x n kernel; contents undefined. Throws
  // lumet::Error as ConvolveMirror does for an image smaller than the kernel allows.
  void Create(int width, int height, int n);
  // Copies source in and mirrors its border (source of the created size).
  void Assign(const DoubleImage& source);
  // Pixel 0 of row r, 0 <= r < height; columns -h .. width + h - 1 exist around it.
  double* Row(int r) { return data_.get() + Offset(r); }
  const double* Row(int r) const { return data_.get() + Offset(r); }
  // Writes the mirrored columns of row r from its pixels.
  void MirrorColumns(int r);
  // Column -h of virtual row v at [v + h], v = -h .. height + h - 1 (mirrored rows outside
  // the image).
  const double* const* PaddedRows() const { return rows_.data(); }

  int Width() const { return width_; }
  int Height() const { return height_; }
  int KernelSize() const { return n_; }

 private:
  size_t Offset(int r) const { return base_ + static_cast<size_t>(r) * stride_ + static_cast<size_t>(half_); }

  struct Release {
    void operator()(double* p) const;
  };
  std::unique_ptr<double[], Release> data_;
  std::vector<const double*> rows_;  // virtual row v at rows_[v + h]
  size_t base_ = 0;                  // first element of row 0, 64-byte aligned
  size_t stride_ = 0;                // doubles per padded row
  int width_ = 0;
  int height_ = 0;
  int n_ = 0;
  int half_ = 0;
};

// The taps of an n x n kernel in the order ConvolveMirror sums them, made once for many
// passes of the same kernel over MirrorPaddedImages.
class MirrorFilter {
 public:
  MirrorFilter() = default;
  MirrorFilter(const FloatMatrix& kernel, int n) { Assign(kernel, n); }
  // Takes another kernel (no allocation when n is unchanged).
  void Assign(const FloatMatrix& kernel, int n);
  int KernelSize() const { return n_; }
  // Rows r0 .. r1 - 1 of ConvolveMirror(source) on the calling thread, bit for bit:
  // row r goes to out[r - r0] (source.Width() pixels each).
  void Rows(const MirrorPaddedImage& source, int r0, int r1, double* const* out) const;
  // The same from a row table of a width-pixel image: column -h of virtual row v at
  // rows[v + h], as MirrorPaddedImage::PaddedRows gives it; only the rows r0 - h ..
  // r1 + h - 1 are read.
  void Rows(const double* const* rows, int width, int r0, int r1, double* const* out) const;
  // The whole image into target (re-created only when its size differs), on the threads
  // of ParallelFor.
  void Apply(const MirrorPaddedImage& source, DoubleImage& target) const;

 private:
  std::vector<double> taps_;  // n x n, dy major
  int n_ = 0;
};

// The straightforward per-pixel sum with the border rule applied to every index: the
// oracle of the fast paths above.
void ConvolveMirrorDirect(const GrayImage& source, DoubleImage& target, const FloatMatrix& kernel, int n);
void ConvolveMirrorDirect(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n);

}  // namespace lumet
