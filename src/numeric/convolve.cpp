#include "numeric/convolve.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <cstdlib>
#include <cmath>
#include <string>
#include <vector>

#include "numeric/convolve_engine.h"
#include "numeric/kernel_filter.h"
#include "util/error.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// The kernel's half-width, once its size and the source's are known to fit.
template <typename Plane>
int CheckDomain(const Plane& source, int n) {
  const int h = n / 2;
  if (n < 1 || n % 2 == 0) throw Error("convolution kernel size " + std::to_string(n) + " is not a positive odd number");
  if (source.Width() < h + 1 || source.Height() < h + 1) {
    throw Error("image of " + std::to_string(source.Width()) + " x " + std::to_string(source.Height()) +
                " pixels is smaller than the " + std::to_string(n) + " x " + std::to_string(n) + " filter allows (at least " +
                std::to_string(h + 1) + " pixels each way)");
  }
  return h;
}

// The 8-bit sources (registration's derivative filters) sum rounded products; the double
// sources (the reconstruction's PSF) sum by fused multiply-add, written out so that no
// compiler setting can change either.
constexpr bool FusedFor(const GrayImage*) { return false; }
constexpr bool FusedFor(const DoubleImage*) { return true; }

template <typename Plane>
void Direct(const Plane& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  const int h = CheckDomain(source, n);
  const int w = source.Width();
  const int l = source.Height();
  constexpr bool fused = FusedFor(static_cast<const Plane*>(nullptr));
  target.Create(w, l);
  for (int r = 0; r < l; ++r) {
    for (int c = 0; c < w; ++c) {
      double sum = 0.0;
      for (int dy = -h; dy <= h; ++dy) {
        const auto* row = source.Row(MirrorIndex(r + dy, l));
        for (int dx = -h; dx <= h; ++dx) {
          const double k = static_cast<double>(kernel[dx + h][dy + h]);
          const double v = static_cast<double>(row[MirrorIndex(c + dx, w)]);
          if constexpr (fused) {
            sum = std::fma(k, v, sum);
          } else {
            sum += k * v;
          }
        }
      }
      target.Row(r)[c] = sum;
    }
  }
}

// The pixels of one row of source, widened to double, into row r of a padded image.
template <typename Plane>
void FillPaddedRow(const Plane& source, int r, MirrorPaddedImage& padded) {
  const auto* row = source.Row(r);
  double* out = padded.Row(r);
  for (int c = 0; c < source.Width(); ++c) out[c] = static_cast<double>(row[c]);
  padded.MirrorColumns(r);
}

// Every source row widened to double with its mirrored columns, then the register-blocked
// loops of the machine's instruction set. The padded copy is reused from call to call:
// registration filters frames of one size over and over.
template <typename Plane>
void Fast(const Plane& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  CheckDomain(source, n);
  thread_local MirrorPaddedImage padded;
  padded.Create(source.Width(), source.Height(), n);
  MirrorPaddedImage* const paddedImage = &padded;  // the caller's buffer, also inside the workers
  ParallelFor(0, source.Height(), 2L * (source.Width() + n), [&](int lo, int hi) {
    for (int r = lo; r < hi; ++r) FillPaddedRow(source, r, *paddedImage);
  });
  bool fused = FusedFor(static_cast<const Plane*>(nullptr));
  if constexpr (!FusedFor(static_cast<const Plane*>(nullptr))) fused = EightBitSumsAreExact(kernel, n);
  if (fused) {
    MirrorFilter(kernel, n).Apply(padded, target);
  } else {
    // The 8-bit sources sum rounded products, through the same loops.
    if (target.Width() != source.Width() || target.Height() != source.Height()) target.Create(source.Width(), source.Height());
    std::vector<double*> out(static_cast<size_t>(source.Height()));
    for (int r = 0; r < source.Height(); ++r) out[static_cast<size_t>(r)] = target.Row(r);
    detail::RunKernelFilter(padded.PaddedRows(), out.data(), source.Width(), kernel, n, false, 0, source.Height());
  }
}

}  // namespace

bool EightBitSumsAreExact(const FloatMatrix& kernel, int n) {
  double bound = 0.0;
  int unit = std::numeric_limits<int>::max();  // exponent of the finest tap's last bit
  for (int a = 0; a < n; ++a) {
    for (int b = 0; b < n; ++b) {
      const double k = static_cast<double>(kernel[a][b]);
      if (k == 0.0) continue;  // either zero adds nothing to a sum
      if (!std::isfinite(k)) return false;
      int exponent = 0;
      std::frexp(k, &exponent);  // |k| = m 2^exponent, 1/2 <= m < 1; a float keeps 24 bits of m
      unit = std::min(unit, exponent - 24);
      bound += std::fabs(k) * 255.0;
    }
  }
  if (unit == std::numeric_limits<int>::max()) return true;
  // The bound is itself summed in double: a relative margin covers its own rounding.
  return bound * (1.0 + 1e-12) < std::ldexp(1.0, 53 + unit);
}

void ConvolveMirror(const GrayImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  Fast(source, target, kernel, n);
}
void ConvolveMirror(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  Fast(source, target, kernel, n);
}
void ConvolveMirrorDirect(const GrayImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  Direct(source, target, kernel, n);
}
void ConvolveMirrorDirect(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  Direct(source, target, kernel, n);
}

void MirrorPaddedImage::Create(int width, int height, int n) {
  if (n < 1 || n % 2 == 0) throw Error("convolution kernel size " + std::to_string(n) + " is not a positive odd number");
  const int h = n / 2;
  if (width < h + 1 || height < h + 1) {
    throw Error("image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels is smaller than the " +
                std::to_string(n) + " x " + std::to_string(n) + " filter allows (at least " + std::to_string(h + 1) +
                " pixels each way)");
  }
  if (width == width_ && height == height_ && n == n_) return;
  constexpr size_t kAlign = 8;  // doubles in 64 bytes
  stride_ = (static_cast<size_t>(width) + 2 * static_cast<size_t>(h) + kAlign - 1) / kAlign * kAlign;
  // Large images on huge pages where the system grants them: the filter reads some twenty
  // rows at once, each on pages of its own, and the passes of a step touch several images.
  const size_t bytes = (stride_ * static_cast<size_t>(height) + kAlign) * sizeof(double);
  constexpr size_t kHugePage = size_t{2} << 20;
  const size_t alignment = bytes >= kHugePage ? kHugePage : 64;
  void* memory = nullptr;
  data_.reset();
  if (posix_memalign(&memory, alignment, (bytes + alignment - 1) / alignment * alignment) != 0) {
    throw Error("out of memory for a padded image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  }
  if (alignment == kHugePage) madvise(memory, bytes, MADV_HUGEPAGE);
  data_.reset(static_cast<double*>(memory));
  std::fill(data_.get(), data_.get() + bytes / sizeof(double), 0.0);
  base_ = 0;
  width_ = width;
  height_ = height;
  n_ = n;
  half_ = h;
  rows_.resize(static_cast<size_t>(height + 2 * h));
  for (int v = -h; v < height + h; ++v) {
    rows_[static_cast<size_t>(v + h)] = data_.get() + base_ + static_cast<size_t>(MirrorIndex(v, height)) * stride_;
  }
}

void MirrorPaddedImage::Release::operator()(double* p) const { free(p); }

void MirrorPaddedImage::Assign(const DoubleImage& source) {
  for (int r = 0; r < height_; ++r) FillPaddedRow(source, r, *this);
}

void MirrorPaddedColumns(double* row, int width, int half) {
  for (int c = -half; c < 0; ++c) row[c] = row[MirrorIndex(c, width)];
  for (int c = width; c < width + half; ++c) row[c] = row[MirrorIndex(c, width)];
}

void MirrorPaddedImage::MirrorColumns(int r) { MirrorPaddedColumns(Row(r), width_, half_); }

void MirrorFilter::Assign(const FloatMatrix& kernel, int n) {
  taps_.resize(static_cast<size_t>(n) * static_cast<size_t>(n));
  n_ = n;
  for (int b = 0; b < n; ++b) {
    for (int a = 0; a < n; ++a) taps_[static_cast<size_t>(b * n + a)] = static_cast<double>(kernel[a][b]);
  }
}

void MirrorFilter::Rows(const MirrorPaddedImage& source, int r0, int r1, double* const* out) const {
  if (source.KernelSize() != n_) throw Error("padded image made for a different kernel size");
  Rows(source.PaddedRows(), source.Width(), r0, r1, out);
}

void MirrorFilter::Rows(const double* const* rows, int width, int r0, int r1, double* const* out) const {
  const detail::FilterJob job{rows, taps_.data(), out, r0, n_, width, true};
  detail::ActiveFilterRows()(job, r0, r1);
}

void MirrorFilter::Apply(const MirrorPaddedImage& source, DoubleImage& target) const {
  const int w = source.Width();
  const int l = source.Height();
  if (target.Width() != w || target.Height() != l) target.Create(w, l);
  constexpr int kRows = detail::kFilterBlockRows;
  const int blocks = (l + kRows - 1) / kRows;
  DoubleImage* const out = &target;
  ParallelFor(0, blocks, static_cast<long>(kRows) * w * n_ * n_, [&](int lo, int hi) {
    double* rows[kRows];
    for (int b = lo; b < hi; ++b) {
      const int r0 = b * kRows;
      const int r1 = std::min(l, r0 + kRows);
      for (int r = r0; r < r1; ++r) rows[r - r0] = out->Row(r);
      Rows(source, r0, r1, rows);
    }
  });
}

namespace detail {

void RunKernelFilter(const double* const* rows, double* const* out, int width, const FloatMatrix& kernel, int n,
                     bool fused, int r0, int r1) {
  std::vector<double> taps(static_cast<size_t>(n) * static_cast<size_t>(n));
  for (int b = 0; b < n; ++b) {
    for (int a = 0; a < n; ++a) taps[static_cast<size_t>(b * n + a)] = static_cast<double>(kernel[a][b]);
  }
  RunFilter(FilterJob{rows, taps.data(), out, 0, n, width, fused}, r0, r1);
}

void RunFilter(const FilterJob& job, int r0, int r1) {
  constexpr int kRowsPerItem = kFilterBlockRows;
  const FilterRowsFunction rowsOf = ActiveFilterRows();
  const int blocks = (r1 - r0 + kRowsPerItem - 1) / kRowsPerItem;
  const long work = static_cast<long>(kRowsPerItem) * job.width * job.n * job.n;
  ParallelFor(0, blocks, work, [&](int lo, int hi) {
    rowsOf(job, r0 + lo * kRowsPerItem, std::min(r1, r0 + hi * kRowsPerItem));
  });
}

}  // namespace detail

}  // namespace lumet

// The baseline variant: plain scalar code that any x86-64 runs.
#define LUMET_VEC double
#define LUMET_LANES 1
#define LUMET_LOAD(p) (*(p))
#define LUMET_STORE(p, v) (*(p) = (v))
#define LUMET_SET1(x) (x)
#define LUMET_ZERO() 0.0
#define LUMET_FMA(a, b, c) std::fma((a), (b), (c))
#define LUMET_MULADD(a, b, c) ((a) * (b) + (c))
#define LUMET_SFMA(a, b, c) std::fma((a), (b), (c))
#define LUMET_SMULADD(a, b, c) ((a) * (b) + (c))

#define LUMET_UNROLL 4
#define LUMET_VARIANT Baseline
#include "numeric/convolve_kernel.inc"
