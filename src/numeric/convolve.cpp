#include "numeric/convolve.h"

#include <algorithm>
#include <atomic>
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

// Every source row widened to double with its mirrored columns, the mirrored rows given by
// a row table, then the register-blocked loops of the machine's instruction set.
template <typename Plane>
void Fast(const Plane& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  const int h = CheckDomain(source, n);
  const int w = source.Width();
  const int l = source.Height();
  const int pw = w + 2 * h;
  target.Create(w, l);

  // Reused from call to call: the reconstruction filters the same size 600 times.
  thread_local std::vector<double> padded;
  padded.resize(static_cast<size_t>(pw) * static_cast<size_t>(l));
  double* const paddedData = padded.data();  // the caller's buffer, also inside the workers
  ParallelFor(0, l, 2L * pw, [&](int lo, int hi) {
    for (int r = lo; r < hi; ++r) {
      const auto* row = source.Row(r);
      double* out = paddedData + static_cast<size_t>(r) * static_cast<size_t>(pw);
      for (int c = 0; c < h; ++c) out[c] = static_cast<double>(row[MirrorIndex(c - h, w)]);
      for (int c = 0; c < w; ++c) out[c + h] = static_cast<double>(row[c]);
      for (int c = w; c < w + h; ++c) out[c + h] = static_cast<double>(row[MirrorIndex(c, w)]);
    }
  });
  std::vector<const double*> rows(static_cast<size_t>(l + 2 * h));
  for (int v = -h; v < l + h; ++v) {
    rows[static_cast<size_t>(v + h)] = paddedData + static_cast<size_t>(MirrorIndex(v, l)) * static_cast<size_t>(pw);
  }
  std::vector<double*> out(static_cast<size_t>(l));
  for (int r = 0; r < l; ++r) out[static_cast<size_t>(r)] = target.Row(r);
  detail::RunKernelFilter(rows.data(), out.data(), w, kernel, n, FusedFor(static_cast<const Plane*>(nullptr)), 0, l);
}

}  // namespace

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

const char* SimdVariantName(SimdVariant variant) {
  switch (variant) {
    case SimdVariant::Avx512:
      return "avx512";
    case SimdVariant::Avx2:
      return "avx2+fma";
    case SimdVariant::Baseline:
      break;
  }
  return "baseline";
}

std::vector<SimdVariant> SupportedSimdVariants() {
  std::vector<SimdVariant> variants{SimdVariant::Baseline};
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) variants.push_back(SimdVariant::Avx2);
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    variants.push_back(SimdVariant::Avx512);
  }
  return variants;
}

namespace {

SimdVariant BestVariant() { return SupportedSimdVariants().back(); }

std::atomic<SimdVariant>& ChosenVariant() {
  static std::atomic<SimdVariant> chosen{BestVariant()};
  return chosen;
}

}  // namespace

SimdVariant ActiveSimdVariant() { return ChosenVariant().load(); }

void SetSimdVariant(SimdVariant variant) {
  for (SimdVariant supported : SupportedSimdVariants()) {
    if (supported == variant) {
      ChosenVariant().store(variant);
      return;
    }
  }
  throw Error(std::string("this processor cannot run the ") + SimdVariantName(variant) + " code");
}

namespace detail {

void RunKernelFilter(const double* const* rows, double* const* out, int width, const FloatMatrix& kernel, int n,
                     bool fused, int r0, int r1) {
  std::vector<double> taps(static_cast<size_t>(n) * static_cast<size_t>(n));
  for (int b = 0; b < n; ++b) {
    for (int a = 0; a < n; ++a) taps[static_cast<size_t>(b * n + a)] = static_cast<double>(kernel[a][b]);
  }
  FilterJob job;
  job.rows = rows;
  job.taps = taps.data();
  job.out = out;
  job.n = n;
  job.width = width;
  job.fused = fused;
  RunFilter(job, r0, r1);
}

void RunFilter(const FilterJob& job, int r0, int r1) {
  constexpr int kRowsPerItem = 4;  // the kernels' block height
  void (*rowsOf)(const FilterJob&, int, int) = FilterRowsBaseline;
  switch (ActiveSimdVariant()) {
    case SimdVariant::Avx512:
      rowsOf = FilterRowsAvx512;
      break;
    case SimdVariant::Avx2:
      rowsOf = FilterRowsAvx2;
      break;
    case SimdVariant::Baseline:
      break;
  }
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
