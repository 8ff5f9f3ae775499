#include "reconstruction/classic/robust_btv.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/convolve.h"
#include "numeric/convolve_engine.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// The row loops below are compiled for AVX-512, AVX2 and the baseline and picked at run
// time; they only compare, subtract and select, so every version gives the same values.
// Clang does not clone function templates: its builds (the fuzz targets) keep the baseline.
#if defined(__clang__)
#define LUMET_ROW_CLONES
#else
#define LUMET_ROW_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif

// The data term: +sqrt(count) where the blurred estimate is above the median image,
// -sqrt(count) below, 0 where equal (0.0 + root and 0.0 - root as the sum is defined: the
// latter is +0.0 for a root of 0).
LUMET_ROW_CLONES void DataTermRow(const double* __restrict hx, const double* __restrict z,
                                  const double* __restrict root, double* __restrict g, int w) {
  for (int j = 0; j < w; ++j) {
    const double d = hx[j] - z[j];
    const double up = 0.0 + root[j];
    const double down = 0.0 - root[j];
    g[j] = d > 0.0 ? up : (d < 0.0 ? down : 0.0);
  }
}

// r + sign(a - b), the sign (+1, -1 or 0) from comparisons: for doubles a - b > 0 exactly
// when a > b (and both tests fail together for infinities of one sign or a NaN, as they do
// for the difference). Sums of these are small integers, exact in double and never -0.0
// (from +0.0, x - x is +0.0), so in any order they equal the same sums taken in int.
inline double AddSign(double r, double a, double b) {
  r = a > b ? r + 1.0 : r;
  return a < b ? r - 1.0 : r;
}

// The regulariser at column j of row i, the signs taken straight from the estimate's rows
// x[0] .. x[4] = rows i - 2 .. i + 2. Row0 / Row1: rows i / i - 1 lie within 0 .. H - 3 (their
// signs count; rows i + 1 and i + 2 are read only then); Col0 / Col1: the same for columns
// j and j - 1 (column j - 2 always does). Each difference of two signs in R1 and R2 is the
// sign of x(j, i) minus one neighbour plus the sign of x(j, i) minus the opposite one:
// R1 sums the four nearest neighbours, R2 the six at distance 2 along the three shifts.
template <bool Row0, bool Row1, bool Col0, bool Col1>
inline double RegulariserAt(const double* const* x, int j, double alpha, double beta, double lambda, double g) {
  const double* xm2 = x[0];
  const double* xm1 = x[1];
  const double* x0 = x[2];
  const double c = x0[j];
  double r1 = 0.0;
  double r2 = 0.0;
  if constexpr (Row0 && Col0) {
    const double* xp1 = x[3];
    const double* xp2 = x[4];
    r1 = AddSign(AddSign(r1, c, xp1[j]), c, x0[j + 1]);
    r2 = AddSign(AddSign(AddSign(r2, c, xp2[j]), c, xp1[j + 1]), c, x0[j + 2]);
  }
  if constexpr (Row1 && Col0) r1 = AddSign(r1, c, xm1[j]);
  if constexpr (Row0 && Col1) r1 = AddSign(r1, c, x0[j - 1]);
  if constexpr (Col0) r2 = AddSign(r2, c, xm2[j]);
  if constexpr (Row1 && Col1) r2 = AddSign(r2, c, xm1[j - 1]);
  if constexpr (Row0) r2 = AddSign(r2, c, x0[j - 2]);
  return ((r2 * alpha + r1) * alpha * lambda + g) * beta;
}

// Columns j .. end - 1 (j >= 2) of row i (i >= 2) of g get the regulariser; the interior
// columns in one loop the compiler vectorises, the last two of the row with their border rule.
template <bool Row0, bool Row1>
LUMET_ROW_CLONES void RegulariserRowOf(const double* const* x, double* __restrict g, int j, int end, int w,
                                       double alpha, double beta, double lambda) {
  for (const int interior = std::min(end, w - 2); j < interior; ++j) {
    g[j] = RegulariserAt<Row0, Row1, true, true>(x, j, alpha, beta, lambda, g[j]);
  }
  if (j == w - 2 && j < end) {
    g[j] = RegulariserAt<Row0, Row1, false, true>(x, j, alpha, beta, lambda, g[j]);
    ++j;
  }
  if (j == w - 1 && j < end) g[j] = RegulariserAt<Row0, Row1, false, false>(x, j, alpha, beta, lambda, g[j]);
}

// sign(c - p[0 .. 7]) by one fix-up of the difference: zero and NaN to +0, positive and +inf
// to +1, negative and -inf to -1, as the comparisons of AddSign give it.
__attribute__((target("avx512f"))) inline __m512d SignOfDifference(__m512d c, const double* p, __m512i table) {
  const __m512d d = _mm512_sub_pd(c, _mm512_loadu_pd(p));
  return _mm512_fixupimm_pd(d, d, table, 0);
}

// The interior columns j .. end - 1 (end <= w - 2) of a row with all its signs
// (RegulariserAt<true, true, true, true>), eight at a time on AVX-512. Returns the first
// column not done.
__attribute__((target("avx512f"))) int RegulariserInteriorAvx512(const double* const* x, double* g, int j, int end,
                                                                 double alpha, double beta, double lambda) {
  const double* xm2 = x[0];
  const double* xm1 = x[1];
  const double* x0 = x[2];
  const double* xp1 = x[3];
  const double* xp2 = x[4];
  const __m512i signTable = _mm512_set1_epi64(0xA9A9A888);
  const __m512d alphaV = _mm512_set1_pd(alpha);
  const __m512d betaV = _mm512_set1_pd(beta);
  const __m512d lambdaV = _mm512_set1_pd(lambda);
  for (; j + 8 <= end; j += 8) {
    const __m512d c = _mm512_loadu_pd(x0 + j);
    const __m512i t = signTable;
    // The nearest four, then the six at distance 2; the sums are exact in any order.
    const __m512d r1 = _mm512_add_pd(_mm512_add_pd(SignOfDifference(c, xp1 + j, t), SignOfDifference(c, x0 + j + 1, t)),
                                     _mm512_add_pd(SignOfDifference(c, xm1 + j, t), SignOfDifference(c, x0 + j - 1, t)));
    const __m512d forward = _mm512_add_pd(
        _mm512_add_pd(SignOfDifference(c, xp2 + j, t), SignOfDifference(c, xp1 + j + 1, t)), SignOfDifference(c, x0 + j + 2, t));
    const __m512d backward = _mm512_add_pd(
        _mm512_add_pd(SignOfDifference(c, xm2 + j, t), SignOfDifference(c, xm1 + j - 1, t)), SignOfDifference(c, x0 + j - 2, t));
    const __m512d r2 = _mm512_add_pd(forward, backward);
    // ((r2 * alpha + r1) * alpha * lambda + g) * beta, rounded step by step as written.
    __m512d v = _mm512_add_pd(_mm512_mul_pd(r2, alphaV), r1);
    v = _mm512_mul_pd(_mm512_mul_pd(v, alphaV), lambdaV);
    v = _mm512_mul_pd(_mm512_add_pd(v, _mm512_loadu_pd(g + j)), betaV);
    _mm512_storeu_pd(g + j, v);
  }
  return j;
}

// Columns first .. end - 1 of row i (i >= 2) of g (indexed by column) get the regulariser;
// columns 0 and 1 keep the data term alone.
void RegulariserRow(const double* const* x, int i, int h, double* g, int first, int end, int w, double alpha,
                    double beta, double lambda) {
  int j = std::max(first, 2);
  if (i <= h - 3) {
    if (ActiveSimdVariant() == SimdVariant::Avx512) {
      j = RegulariserInteriorAvx512(x, g, j, std::min(end, w - 2), alpha, beta, lambda);
    }
    RegulariserRowOf<true, true>(x, g, j, end, w, alpha, beta, lambda);
  } else if (i == h - 2) {
    RegulariserRowOf<false, true>(x, g, j, end, w, alpha, beta, lambda);
  } else {
    RegulariserRowOf<false, false>(x, g, j, end, w, alpha, beta, lambda);
  }
}

// The updated estimate, into its padded copy and, with Image, into the image too.
template <bool Image>
LUMET_ROW_CLONES void UpdateRow(const double* __restrict x, const double* __restrict g, double* __restrict out,
                                double* __restrict padded, int w, double stepSize) {
  for (int j = 0; j < w; ++j) {
    const double v = x[j] - stepSize * g[j];
    if constexpr (Image) out[j] = v;
    padded[j] = v;
  }
}

// UpdateRow<false> for an estimate far larger than the caches: the updated row goes to
// memory past the cache (the next step reads it from memory anyway), which spares reading
// each line in before it is written. Two at a time with the same roundings (a product, then
// a difference), so the values are the same.
void UpdateRowStreaming(const double* x, const double* g, double* padded, int w, double stepSize) {
  int j = 0;
  for (; j < w && reinterpret_cast<uintptr_t>(padded + j) % 16 != 0; ++j) padded[j] = x[j] - stepSize * g[j];
  const __m128d step = _mm_set1_pd(stepSize);
  for (; j + 2 <= w; j += 2) {
    _mm_stream_pd(padded + j, _mm_sub_pd(_mm_loadu_pd(x + j), _mm_mul_pd(step, _mm_loadu_pd(g + j))));
  }
  for (; j < w; ++j) padded[j] = x[j] - stepSize * g[j];
}

#undef LUMET_ROW_CLONES

}  // namespace

double BtvStepSize(int t) {
  if (t < 15) return 20.0;
  if (t < 30) return 15.0;
  if (t < 60) return 8.0;
  return 1.0;
}

BtvWorkspace::BtvWorkspace(const CountImage& observations) : count(&observations) {}

namespace {

constexpr int kRows = detail::kFilterBlockRows;
// An estimate plane above this many bytes is written past the caches: well above what the
// caches hold.
std::atomic<double> streamingBytes{48.0 * (1 << 20)};

// The stripes of rows of a step: up to eight per thread, so that a thread another process
// slows down hands work on, and a multiple of the threads where there are fewer, so that
// small grids still keep every thread busy; of nearly equal heights (starts on multiples of
// kRows), each at least about twice the rows around a boundary (four PSF reaches), so that
// those (made before, and read from memory) stay a minor share.
struct Stripes {
  int count = 1;
  int height = 0;  // the grid's rows
  // First row of stripe s (s = count: the grid's height).
  int Start(int s) const {
    return s >= count ? height : static_cast<int>(static_cast<int64_t>(height) * s / count) / kRows * kRows;
  }
};

Stripes PlanStripes(int height, int half) {
  const int threads = std::max(1, ThreadCount());
  const int least = std::max(4 * half, 2 * kRows);
  int count = std::min(8 * threads, std::max(1, height / least));
  if (count > threads) count -= count % threads;
  return {count, height};
}

// What every row of one step reads.
struct StepInputs {
  const MirrorPaddedImage& x;  // the estimate before the step
  const DoubleImage& zb;       // the median image
  const CountImage& count;
  const MirrorFilter& filter;
  int width;
  int height;
  int half;  // the PSF's reach, n / 2
};

// Columns of a tile of a stripe: wide rows are cut in tiles of about this many columns, so
// that the rows a block reads (the estimate's and the data term's, some forty) stay in the
// core's own cache.
constexpr int kTileColumns = 1024;

int TileCount(int width) { return std::max(1, (width + kTileColumns / 2) / kTileColumns); }

// First column of tile t of `tiles` (t = tiles: the width), a multiple of 8 but for the end.
int TileStart(int t, int tiles, int width) {
  if (t >= tiles) return width;
  return static_cast<int>(static_cast<int64_t>(width) * t / tiles) / 8 * 8;
}

// Rows first .. last - 1 (at most kRows) of the data term, columns from .. to - 1:
// +-sqrt(count) by the sign of the estimate through the PSF against the median image. xRows
// is the estimate's row table moved to column `from`; row i goes to out(i), its column from.
template <typename Out>
void DataTermRows(const StepInputs& in, const double* const* xRows, int first, int last, int from, int to,
                  const Out& out) {
  const size_t width = static_cast<size_t>(to - from);
  // One more row than a block: the square roots of a count row.
  thread_local std::vector<double> scratch;
  scratch.resize(static_cast<size_t>(kRows + 1) * width);
  double* blurred[kRows];
  for (int o = 0; o < kRows; ++o) blurred[o] = scratch.data() + static_cast<size_t>(o) * width;
  double* root = scratch.data() + static_cast<size_t>(kRows) * width;
  in.filter.Rows(xRows, to - from, first, last, blurred);
  for (int i = first; i < last; ++i) {
    // sqrt is correctly rounded: the same roots as a stored image of them.
    const int32_t* countRow = in.count.Row(i) + from;
    for (int j = 0; j < to - from; ++j) root[j] = std::sqrt(static_cast<double>(countRow[j]));
    DataTermRow(blurred[i - first], in.zb.Row(i) + from, root, out(i), to - from);
  }
}

// The first of the 2 half rows around the boundary before stripe k (k >= 1), which the
// stripes on both sides read; they are made once, into rows (k - 1) * 2 half onwards of the
// boundary store.
int BoundaryFirst(int k, const Stripes& stripes, int half) { return stripes.Start(k) - half; }

void MakeBoundaryRows(const StepInputs& in, const Stripes& stripes, MirrorPaddedImage& store) {
  if (stripes.count < 2) return;
  const int span = 2 * in.half;
  store.Create(in.width, std::max((stripes.count - 1) * span, in.half + 1), span + 1);
  MirrorPaddedImage* const out = &store;
  // Blocks of rows, so that the threads share the work evenly whatever the boundaries' count.
  const int blocks = (span + kRows - 1) / kRows;
  const long blockWork = static_cast<long>(kRows) * in.width * (span + 1) * (span + 1);
  ParallelFor(0, (stripes.count - 1) * blocks, blockWork, [&](int lo, int hi) {
    for (int item = lo; item < hi; ++item) {
      const int k = 1 + item / blocks;
      const int first = BoundaryFirst(k, stripes, in.half);
      const int r = first + item % blocks * kRows;
      const int end = std::min({in.height, first + span, r + kRows});
      if (r >= end) continue;
      const auto row = [&](int i) { return out->Row((k - 1) * span + i - first); };
      DataTermRows(in, in.x.PaddedRows(), r, end, 0, in.width, row);
      for (int i = r; i < end; ++i) MirrorPaddedColumns(row(i), in.width, in.half);
    }
  });
}

// One stripe of a step, rows first .. end - 1 of stripe s, in column tiles; each tile walks
// down the stripe block by block: the data term's rows the PSF reaches from the block (made
// just before, into a small ring of padded rows that stays in the cache; those around the
// stripe's ends come from the boundary store) go through the PSF into g (indexed by column),
// and body(r0, r1, from, to, g) adds the regulariser and updates those columns.
template <typename Body>
void StripeStep(const StepInputs& in, int s, const Stripes& stripes, const MirrorPaddedImage& boundary,
                const Body& body) {
  const int half = in.half;
  const int span = 2 * half;
  const int first = stripes.Start(s);
  const int end = stripes.Start(s + 1);
  // The ring's rows: from the end of the boundary above to the start of the one below.
  const int ringFirst = s > 0 ? std::min(in.height, BoundaryFirst(s, stripes, half) + span) : 0;
  const int ringEnd = s + 1 < stripes.count ? BoundaryFirst(s + 1, stripes, half) : in.height;
  const int tiles = TileCount(in.width);
  // A block reads kRows + 2 half rows, and rows are made up to kRows - 1 beyond those.
  const int capacity = 2 * kRows + span + 1;
  int widest = 0;
  for (int t = 0; t < tiles; ++t) {
    widest = std::max(widest, TileStart(t + 1, tiles, in.width) - TileStart(t, tiles, in.width));
  }
  thread_local MirrorPaddedImage ring;
  ring.Create(widest, capacity, span + 1);
  // Row tables, at [v + half] for virtual row v: column from - half of the data term's rows
  // the filter reads from this stripe, and column dataFrom of the estimate's rows.
  thread_local std::vector<const double*> data;
  thread_local std::vector<const double*> estimate;
  data.resize(static_cast<size_t>(in.height + span));
  estimate.resize(static_cast<size_t>(in.height + span));
  thread_local std::vector<double> scratch;
  scratch.resize(static_cast<size_t>(kRows) * static_cast<size_t>(in.width));
  double* g[kRows];
  for (int o = 0; o < kRows; ++o) g[o] = scratch.data() + static_cast<size_t>(o) * static_cast<size_t>(in.width);
  for (int t = 0; t < tiles; ++t) {
    const int from = TileStart(t, tiles, in.width);
    const int to = TileStart(t + 1, tiles, in.width);
    // The data term is made for the columns the PSF reaches from the tile; outside the image
    // they are mirrored.
    const int dataFrom = std::max(0, from - half);
    const int dataTo = std::min(in.width, to + half);
    const auto ringRow = [&](int row) { return ring.Row(row % capacity) + (dataFrom - from); };
    const auto holder = [&](int row) -> const double* {
      for (const int k : {s, s + 1}) {
        if (k < 1 || k >= stripes.count) continue;
        const int near = BoundaryFirst(k, stripes, half);
        if (row >= near && row < near + span) return boundary.Row((k - 1) * span + row - near) + from - half;
      }
      return ring.Row(row % capacity) - half;
    };
    for (int v = std::max(-half, first - half); v < std::min(in.height + half, end + half); ++v) {
      data[static_cast<size_t>(v + half)] = holder(MirrorIndex(v, in.height));
    }
    for (int v = std::max(-half, ringFirst - half); v < std::min(in.height + half, ringEnd + half); ++v) {
      estimate[static_cast<size_t>(v + half)] = in.x.PaddedRows()[v + half] + dataFrom;
    }
    int made = ringFirst;
    for (int r0 = first; r0 < end; r0 += kRows) {
      const int r1 = std::min(end, r0 + kRows);
      for (const int needed = std::min(ringEnd, r1 + half); made < needed;) {
        const int last = std::min(ringEnd, made + kRows);
        DataTermRows(in, estimate.data(), made, last, dataFrom, dataTo, ringRow);
        for (int i = made; i < last; ++i) {
          // Columns beyond the image's sides, mirrored from the ones made (ring column c is
          // image column from + c).
          double* row = ring.Row(i % capacity);
          for (int c = from - half; c < dataFrom; ++c) row[c - from] = row[MirrorIndex(c, in.width) - from];
          for (int c = dataTo; c < to + half; ++c) row[c - from] = row[MirrorIndex(c, in.width) - from];
        }
        made = last;
      }
      double* out[kRows];
      for (int o = 0; o < kRows; ++o) out[o] = g[o] + from;
      in.filter.Rows(data.data(), to - from, r0, r1, out);
      body(r0, r1, from, to, g);
    }
  }
}

// BtvStep; with writeImage false xb is left as it was and the update goes to the workspace's
// padded copy alone (ws.mirrored then names the image that copy is ahead of).
void Step(DoubleImage& xb, bool writeImage, const DoubleImage& zb, const FloatMatrix& kernel, int n, double alpha,
          double beta, double lambda, double stepSize, BtvWorkspace& ws) {
  // zb's size: xb may be freed while the workspace's copy is ahead of it.
  const int w = zb.Width();
  const int h = zb.Height();
  MirrorPaddedImage& x = ws.estimate[ws.current];
  MirrorPaddedImage& next = ws.estimate[1 - ws.current];
  x.Create(w, h, n);  // throws for an image smaller than the kernel
  next.Create(w, h, n);
  ws.filter.Assign(kernel, n);
  if (ws.mirrored != &xb) x.Assign(xb);
  // A step cut short leaves xb half updated, so the copy is no longer its image; without
  // writeImage the copy stays whole (the update goes to the other one) and ahead of xb.
  if (writeImage) ws.mirrored = nullptr;

  const StepInputs in{x, zb, *ws.count, ws.filter, w, h, n / 2};
  const Stripes stripes = PlanStripes(h, in.half);
  MakeBoundaryRows(in, stripes, ws.boundary);
  const MirrorPaddedImage& boundary = ws.boundary;
  const bool streaming = static_cast<double>(w) * h * sizeof(double) > streamingBytes.load();
  // The regulariser reads the estimate before the update, which stays in x while the update
  // goes to next.
  const auto regulariseAndUpdate = [&](int r0, int r1, int from, int to, double* const* g) {
    for (int i = r0; i < r1; ++i) {
      double* gi = g[i - r0];
      if (i >= 2) {
        // Rows i + 1 and i + 2 are read only when they exist.
        const double* around[5] = {x.Row(i - 2), x.Row(i - 1), x.Row(i), x.Row(std::min(i + 1, h - 1)),
                                   x.Row(std::min(i + 2, h - 1))};
        RegulariserRow(around, i, h, gi, from, to, w, alpha, beta, lambda);
      }
      if (writeImage) {
        UpdateRow<true>(x.Row(i) + from, gi + from, xb.Row(i) + from, next.Row(i) + from, to - from, stepSize);
      } else if (streaming) {
        UpdateRowStreaming(x.Row(i) + from, gi + from, next.Row(i) + from, to - from, stepSize);
      } else {
        UpdateRow<false>(x.Row(i) + from, gi + from, nullptr, next.Row(i) + from, to - from, stepSize);
      }
    }
  };
  const long stripeWork = static_cast<long>(h / stripes.count + 1) * w * (2L * n * n + 16);
  ParallelFor(0, stripes.count, stripeWork, [&](int lo, int hi) {
    for (int s = lo; s < hi; ++s) {
      StripeStep(in, s, stripes, boundary, regulariseAndUpdate);
      // The border columns once every tile of a row is done; the streamed rows in memory
      // before another thread reads them.
      for (int i = stripes.Start(s); i < stripes.Start(s + 1); ++i) next.MirrorColumns(i);
      if (streaming) _mm_sfence();
    }
  });
  ws.current = 1 - ws.current;
  ws.mirrored = &xb;
}

// Brings xb up to the workspace's padded copy of it, when that is ahead.
void CopyOut(BtvWorkspace& ws, DoubleImage& xb) {
  if (ws.mirrored != &xb) return;
  const MirrorPaddedImage& x = ws.estimate[ws.current];
  if (xb.Width() != x.Width() || xb.Height() != x.Height()) xb.Create(x.Width(), x.Height());
  for (int r = 0; r < xb.Height(); ++r) std::copy(x.Row(r), x.Row(r) + xb.Width(), xb.Row(r));
}

}  // namespace

double BtvStreamingBytes() { return streamingBytes.load(); }
void SetBtvStreamingBytes(double bytes) { streamingBytes.store(bytes); }

size_t BtvStepExtraBytes(int width, int height, int n) {
  const int half = n / 2;
  const size_t boundaryRows = static_cast<size_t>(PlanStripes(height, half).count - 1) * static_cast<size_t>(2 * half);
  // Per thread: the ring (at most the width), two blocks of scratch and two row tables.
  const size_t threadRows = static_cast<size_t>(2 * kRows + 2 * half + 1) + 2 * kRows + 1;
  const size_t paddedRow = (static_cast<size_t>(width) + static_cast<size_t>(n) + 7) * sizeof(double);
  return (boundaryRows + threadRows * static_cast<size_t>(std::max(1, ThreadCount()))) * paddedRow +
         2 * static_cast<size_t>(height + n) * sizeof(double*) * static_cast<size_t>(std::max(1, ThreadCount()));
}

void BtvStep(DoubleImage& xb, const DoubleImage& zb, const FloatMatrix& kernel, int n, double alpha, double beta,
             double lambda, double stepSize, BtvWorkspace& ws) {
  Step(xb, true, zb, kernel, n, alpha, beta, lambda, stepSize, ws);
}

void RobustBtvIterate(ColorDoubleImage& x, const ColorDoubleImage& z, const CountImage& count,
                      const FloatMatrix& kernel, int n, double alpha, double beta, double lambda,
                      const BtvProgress& progress, const BtvPicture& picture) {
  // The steps update the padded copy alone; the channel itself is brought up to date for
  // each picture, at the end of its band and when a callback ends the iteration.
  BtvWorkspace workspace(count);
  for (int band = 0; band < kBtvBands; ++band) {
    DoubleImage& xb = x.channels[static_cast<size_t>(band)];
    const DoubleImage& zb = z.channels[static_cast<size_t>(band)];
    try {
      for (int t = 0; t < kBtvStepsPerBand; ++t) {
        if (progress) progress(band, t);
        if (t % 10 == 0 && picture) {
          CopyOut(workspace, xb);
          picture(x);
        }
        Step(xb, false, zb, kernel, n, alpha, beta, lambda, BtvStepSize(t), workspace);
      }
    } catch (...) {
      CopyOut(workspace, xb);
      throw;
    }
    CopyOut(workspace, xb);
  }
}

void RobustBtvBand(DoubleImage& xb, const DoubleImage& zb, const CountImage& count, const FloatMatrix& kernel, int n,
                   double alpha, double beta, double lambda, int band, const BtvProgress& progress) {
  BtvWorkspace workspace(count);
  // The padded copy takes the estimate before the other working images exist, and xb is
  // freed until the end: the steps read and write the copies alone.
  workspace.estimate[0].Create(zb.Width(), zb.Height(), n);
  workspace.estimate[0].Assign(xb);
  workspace.mirrored = &xb;
  xb.Free();
  try {
    for (int t = 0; t < kBtvStepsPerBand; ++t) {
      if (progress) progress(band, t);
      Step(xb, false, zb, kernel, n, alpha, beta, lambda, BtvStepSize(t), workspace);
    }
  } catch (...) {
    CopyOut(workspace, xb);
    throw;
  }
  // The other working images go before xb comes back.
  workspace.boundary = MirrorPaddedImage();
  workspace.estimate[1 - workspace.current] = MirrorPaddedImage();
  CopyOut(workspace, xb);
}

}  // namespace lumet
