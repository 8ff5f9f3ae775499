#include "registration/homography_search.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "numeric/convolve.h"
#include "numeric/projection.h"
#include "numeric/roi_warp.h"
#include "registration/scratch_buffer.h"
#include "util/error.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// Warped values of ROI row r into out[0 .. width-1].
inline void WarpRowScalar(const GrayImage& frame, const Matrix& h, const RoiRect& roi, int r, double* out) {
  const double w = frame.Width();
  const double hgt = frame.Height();
  const double y = static_cast<double>(roi.top) + r;
  const int width = static_cast<int>(roi.Width());
  for (int c = 0; c < width; ++c) {
    const ProjectedPoint p = ProjectPoint(h, static_cast<double>(roi.left) + c, y);
    out[c] = (p.u >= 0.0 && p.v >= 0.0 && p.u < w && p.v < hgt) ? frame.SampleNonNegative(p.u, p.v) : 0.0;
  }
}

// One homography prepared for the row warp: its entries h11 .. h33 row by row, the
// instruction set's kernels chosen once per evaluation rather than once per row (nullptr:
// the scalar warp), and the frame's double-valued plane when the scorer made one.
struct RowWarper {
  const GrayImage* frame = nullptr;
  const Matrix* h = nullptr;
  const double* plane = nullptr;
  double entries[9] = {};
  const detail::RoiWarpKernels* kernels = nullptr;

  RowWarper(const GrayImage& f, const Matrix& m, const detail::RoiWarpKernels* simd, const double* doubles)
      : frame(&f), h(&m), plane(doubles), kernels(simd) {
    for (int k = 0; k < 9; ++k) entries[k] = m.Flat1(k + 1);
  }
  // The same values as WarpRowScalar on the widest instruction set in use.
  void Row(const RoiRect& roi, int r, double* out) const {
    const double x0 = static_cast<double>(roi.left);
    const double y = static_cast<double>(roi.top) + r;
    const int count = static_cast<int>(roi.Width());
    const int w = frame->Width();
    const int l = frame->Height();
    if (kernels == nullptr) {
      WarpRowScalar(*frame, *h, roi, r, out);
    } else if (plane != nullptr) {
      kernels->plane(plane, w + 1, w, l, entries, x0, y, count, out);
    } else {
      kernels->bytes(frame->Pixels(), frame->Stride(), w, l, entries, x0, y, count, out);
    }
  }
};

// Adds the pixels of one ROI row to K running sums at once, each in pixel order (the K
// chains are independent, so they overlap instead of waiting on each other). A pixel
// whose warped value is not above 0 adds +0.0, which leaves a sum of non-negative terms
// unchanged, and nothing to the count.
// Not inlined: its callers keep the sums across calls, which lose every vector register,
// and once inlined the sums would stay in memory inside the loop as well.
template <int K>
[[gnu::noinline]] void AccumulateRow(const uint8_t* ref, const double* rows, size_t rowStride, int width,
                                     double* sums, long* counts) {
  double s[K];
  long n[K];
  for (int k = 0; k < K; ++k) {
    s[k] = sums[k];
    n[k] = counts[k];
  }
  for (int c = 0; c < width; ++c) {
    const double a = ref[c];
    for (int k = 0; k < K; ++k) {
      const double v = rows[k * rowStride + static_cast<size_t>(c)];
      const bool counted = v > 0.0;
      n[k] += counted ? 1 : 0;
      s[k] += counted ? std::fabs(a - v) : 0.0;
    }
  }
  for (int k = 0; k < K; ++k) {
    sums[k] = s[k];
    counts[k] = n[k];
  }
}

// Scores of up to kBatch homographies in one pass over the ROI, on the calling thread.
constexpr int kBatch = detail::kSharedRowsMax;

// The batch's homographies grouped by equal rows (bit for bit), when they all share the
// third row and some share a first or second row: then each distinct row is projected once.
// The refinement's four probes each change one entry of h, so they need three values of u
// and three of v rather than four of each.
struct SharedRows {
  double denominator[3] = {};
  double uRows[3 * kBatch] = {};
  double vRows[3 * kBatch] = {};
  int uOf[kBatch] = {};
  int vOf[kBatch] = {};
  detail::SharedRowsWarp job;

  // Adds row (three entries) to the distinct rows, returning its index.
  static int Find(double* rows, int& n, const double* row) {
    for (int i = 0; i < n; ++i) {
      if (std::memcmp(rows + 3 * i, row, 3 * sizeof(double)) == 0) return i;
    }
    std::memcpy(rows + 3 * n, row, 3 * sizeof(double));
    return n++;
  }

  // False when the batch gains nothing from it.
  bool Build(const RowWarper* warpers, int count) {
    if (count < 2 || warpers[0].plane == nullptr || warpers[0].kernels == nullptr) return false;
    std::memcpy(denominator, warpers[0].entries + 6, sizeof(denominator));
    for (int k = 1; k < count; ++k) {
      if (std::memcmp(warpers[k].entries + 6, denominator, sizeof(denominator)) != 0) return false;
    }
    int uCount = 0;
    int vCount = 0;
    for (int k = 0; k < count; ++k) {
      uOf[k] = Find(uRows, uCount, warpers[k].entries);
      vOf[k] = Find(vRows, vCount, warpers[k].entries + 3);
    }
    if (uCount + vCount == 2 * count) return false;
    const GrayImage& frame = *warpers[0].frame;
    job.plane = warpers[0].plane;
    job.planeStride = frame.Width() + 1;
    job.width = frame.Width();
    job.height = frame.Height();
    job.denominator = denominator;
    job.uCount = uCount;
    job.uRows = uRows;
    job.vCount = vCount;
    job.vRows = vRows;
    job.count = count;
    job.uOf = uOf;
    job.vOf = vOf;
    return true;
  }
};

template <int K>
void ScoreBatch(const GrayImage& reference, const RowWarper* warpers, const RoiRect& roi, double* out) {
  const int width = static_cast<int>(roi.Width());
  const int height = static_cast<int>(roi.Height());
  const size_t rowStride = static_cast<size_t>(width);
  const detail::ScratchBuffer buffer(detail::ScratchSlot::WarpRows, rowStride * K);
  double sums[K];
  long counts[K];
  for (int k = 0; k < K; ++k) {
    sums[k] = 0.0;
    counts[k] = 0;
  }
  SharedRows shared;
  const bool share = shared.Build(warpers, K);
  for (int r = 0; r < height; ++r) {
    if (share) {
      const double y = static_cast<double>(roi.top) + r;
      warpers[0].kernels->sharedPlane(shared.job, static_cast<double>(roi.left), y, width, buffer.Data(), width);
    } else {
      for (int k = 0; k < K; ++k) warpers[k].Row(roi, r, buffer.Data() + k * rowStride);
    }
    const uint8_t* ref = reference.Row(roi.top + r) + roi.left;
    if (K > 1 && warpers[0].kernels != nullptr) {
      warpers[0].kernels->accumulate(ref, buffer.Data(), width, K, width, sums, counts);
    } else {
      AccumulateRow<K>(ref, buffer.Data(), rowStride, width, sums, counts);
    }
  }
  for (int k = 0; k < K; ++k) out[k] = sums[k] / static_cast<double>(counts[k]);
}

void ScoreSerial(const GrayImage& reference, const RowWarper* warpers, int count, const RoiRect& roi, double* out) {
  while (count > 0) {
    const int k = count < kBatch ? count : kBatch;
    switch (k) {
      case 1: ScoreBatch<1>(reference, warpers, roi, out); break;
      case 2: ScoreBatch<2>(reference, warpers, roi, out); break;
      case 3: ScoreBatch<3>(reference, warpers, roi, out); break;
      case 4: ScoreBatch<4>(reference, warpers, roi, out); break;
      case 5: ScoreBatch<5>(reference, warpers, roi, out); break;
      case 6: ScoreBatch<6>(reference, warpers, roi, out); break;
      case 7: ScoreBatch<7>(reference, warpers, roi, out); break;
      default: ScoreBatch<8>(reference, warpers, roi, out); break;
    }
    warpers += k;
    out += k;
    count -= k;
  }
}

// About the operations of warping one ROI pixel: a projection and a bilinear sample.
constexpr long kWarpPixelWork = 20;
// About the operations of one least-squares fit.
constexpr long kFitWork = 5000;

}  // namespace

void FitHomography(const std::vector<FeaturePoint>& as, const std::vector<FeaturePoint>& bs, Matrix& h) {
  const int u = static_cast<int>(as.size());
  Matrix s;
  s.Allocate(2 * u, 8);
  s.Fill(0.0);
  Vector rhs(2 * u);
  const double unit = HomographyUnit;
  const double unit2 = HomographyUnit * HomographyUnit;
  for (int i = 0; i < u; ++i) {
    const double x = as[static_cast<size_t>(i)].x;
    const double y = as[static_cast<size_t>(i)].y;
    const double xp = bs[static_cast<size_t>(i)].x;
    const double yp = bs[static_cast<size_t>(i)].y;
    double* top = s[i];
    top[0] = unit * x;
    top[1] = unit * y;
    top[2] = unit2;
    top[6] = -xp * x;
    top[7] = -xp * y;
    rhs[i] = unit * xp;
    double* bottom = s[u + i];
    bottom[3] = unit * x;
    bottom[4] = unit * y;
    bottom[5] = unit2;
    bottom[6] = -yp * x;
    bottom[7] = -yp * y;
    rhs[u + i] = unit * yp;
  }
  const Matrix transposed = Transpose(s);
  const Matrix normal = Multiply(transposed, s);
  const Matrix inverse = Inverse(normal);
  const Matrix pseudo = Multiply(inverse, transposed);
  const Vector sol = Multiply(pseudo, rhs);
  if (h.Rows() != 3 || h.Cols() != 3) h.Allocate(3, 3);
  for (int k = 0; k < 8; ++k) h.Flat1(k + 1) = sol[k];
  h.At1(3, 3) = 1.0;
}

DoubleImage WarpRoi(const GrayImage& frame, const Matrix& h, const RoiRect& roi) {
  DoubleImage warped;
  if (!warped.Create(roi.Width(), roi.Height())) return warped;
  for (int r = 0; r < roi.Height(); ++r) {
    for (int c = 0; c < roi.Width(); ++c) {
      const ProjectedPoint p = ProjectPoint(h, roi.left + c, roi.top + r);
      if (p.u >= 0 && p.v >= 0 && p.u < frame.Width() && p.v < frame.Height()) {
        warped.At(c, r) = frame.Sample(p.u, p.v);
      } else {
        warped.At(c, r) = 0.0;
      }
    }
  }
  return warped;
}

double RoiMaeDirect(const GrayImage& reference, const GrayImage& frame, const Matrix& h, const RoiRect& roi) {
  CheckRoiInsideFrame(roi, reference.Width(), reference.Height());
  const DoubleImage warped = WarpRoi(frame, h, roi);
  long count = 0;
  double sum = 0.0;
  for (int r = 0; r < warped.Height(); ++r) {
    for (int c = 0; c < warped.Width(); ++c) {
      const double value = warped.At(c, r);
      if (value > 0.0) {
        ++count;
        sum += std::fabs(reference.Row(roi.top + r)[roi.left + c] - value);
      }
    }
  }
  return sum / static_cast<double>(count);
}

namespace {

// Frames up to this many pixels get a double-valued copy for the scorer's warp (8 bytes a
// pixel, so 32 MB at most); larger ones are sampled from their bytes.
constexpr long kMaxPlanePixels = 4L << 20;

// RoiMae of one homography: the warp in parallel for a large ROI when threads are free,
// then the sum in row order so that the result does not depend on them.
double ScoreOne(const GrayImage& reference, const RowWarper& warper, const RoiRect& roi) {
  const int width = static_cast<int>(roi.Width());
  const int height = static_cast<int>(roi.Height());
  const long pixels = static_cast<long>(width) * height;
  if (pixels * kWarpPixelWork < 2 * kMinParallelWork || InsideParallelBody() || ThreadCount() < 2) {
    double score = 0.0;
    ScoreSerial(reference, &warper, 1, roi, &score);
    return score;
  }
  const detail::ScratchBuffer warped(detail::ScratchSlot::WarpRows, static_cast<size_t>(pixels));
  double* const values = warped.Data();  // filled by every thread
  ParallelFor(0, height, kWarpPixelWork * width, [&](int lo, int hi) {
    for (int r = lo; r < hi; ++r) warper.Row(roi, r, values + static_cast<size_t>(r) * width);
  });
  long count = 0;
  double sum = 0.0;
  for (int r = 0; r < height; ++r) {
    AccumulateRow<1>(reference.Row(roi.top + r) + roi.left, values + static_cast<size_t>(r) * width, 0, width, &sum,
                     &count);
  }
  return sum / static_cast<double>(count);
}

}  // namespace

double RoiMae(const GrayImage& reference, const GrayImage& frame, const Matrix& h, const RoiRect& roi) {
  CheckRoiInsideFrame(roi, reference.Width(), reference.Height());
  return ScoreOne(reference, RowWarper(frame, h, detail::ActiveRoiWarp(), nullptr), roi);
}

RoiScorer::RoiScorer(const GrayImage& reference, const GrayImage& frame, const RoiRect& roi)
    : reference_(reference), frame_(frame), roi_(roi), kernels_(detail::ActiveRoiWarp()) {
  CheckRoiInsideFrame(roi, reference.Width(), reference.Height());
  const long w = frame.Width();
  const long l = frame.Height();
  if (kernels_ == nullptr || w <= 0 || l <= 0 || (w + 1) * (l + 1) > kMaxPlanePixels) return;
  // The frame with its last column and last row repeated once.
  const size_t stride = static_cast<size_t>(w + 1);
  plane_ =
      std::make_unique<detail::ScratchBuffer>(detail::ScratchSlot::FramePlane, stride * static_cast<size_t>(l + 1));
  planeData_ = plane_->Data();
  for (long y = 0; y <= l; ++y) {
    const uint8_t* row = frame.Row(static_cast<int>(y < l ? y : l - 1));
    double* out = plane_->Data() + static_cast<size_t>(y) * stride;
    for (long x = 0; x < w; ++x) out[x] = row[x];
    out[w] = row[w - 1];
  }
}

double RoiScorer::Score(const Matrix& h) const {
  return ScoreOne(reference_, RowWarper(frame_, h, kernels_, planeData_), roi_);
}

void RoiScorer::ScoreMany(const Matrix* const* hs, int count, double* out) const {
  if (count <= 0) return;
  std::vector<RowWarper> warpers;
  warpers.reserve(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k) warpers.emplace_back(frame_, *hs[k], kernels_, planeData_);
  // Whole homographies go to the threads; each thread scores its share in batches.
  ParallelFor(0, count, kWarpPixelWork * roi_.Width() * roi_.Height(), [&](int lo, int hi) {
    ScoreSerial(reference_, warpers.data() + lo, hi - lo, roi_, out + lo);
  });
}

void RoiMaeMany(const GrayImage& reference, const GrayImage& frame, const Matrix* const* hs, int count,
                const RoiRect& roi, double* out) {
  RoiScorer(reference, frame, roi).ScoreMany(hs, count, out);
}

double EstimateHomography(const GrayImage& reference, const GrayImage& frame, const std::vector<FeaturePoint>& a,
                          const std::vector<FeaturePoint>& b, Matrix& h, int sampleSize, int trials, int poolSize,
                          const RoiRect& roi, LcgRandom& random) {
  const int pairs = static_cast<int>(a.size() < b.size() ? a.size() : b.size());
  if (sampleSize < 1 || sampleSize > poolSize || poolSize > pairs) {
    throw Error("homography search needs 1 <= sample size <= pool size <= pairs; got sample size " +
                std::to_string(sampleSize) + ", pool size " + std::to_string(poolSize) + ", " + std::to_string(pairs) +
                " pairs");
  }
  // Checked here so that no score below, computed in parallel, can throw.
  CheckRoiInsideFrame(roi, reference.Width(), reference.Height());
  const int n = poolSize;
  std::vector<int> perm(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) perm[static_cast<size_t>(i)] = i;
  if (h.Rows() != 3 || h.Cols() != 3) h.Allocate(3, 3);
  if (trials <= 0) return kNoTrialAccepted;

  // The draws stay in trial order; only the fits and scores run in parallel.
  std::vector<std::vector<int>> samples(static_cast<size_t>(trials));
  for (int t = 0; t < trials; ++t) {
    if (t > 0) {
      for (int k = 0; k < kShuffleTranspositions; ++k) {
        const int r1 = random.Next();
        const int r2 = random.Next();
        std::swap(perm[static_cast<size_t>(r1 % n)], perm[static_cast<size_t>(r2 % n)]);
      }
    }
    samples[static_cast<size_t>(t)].assign(perm.begin(), perm.begin() + sampleSize);
  }

  std::vector<Matrix> fits(static_cast<size_t>(trials));
  std::vector<const Matrix*> fitPointers(static_cast<size_t>(trials));
  std::vector<double> scores(static_cast<size_t>(trials));
  ParallelFor(0, trials, kFitWork, [&](int lo, int hi) {
    std::vector<FeaturePoint> as;
    std::vector<FeaturePoint> bs;
    for (int t = lo; t < hi; ++t) {
      as.clear();
      bs.clear();
      for (int index : samples[static_cast<size_t>(t)]) {
        as.push_back(a[static_cast<size_t>(index)]);
        bs.push_back(b[static_cast<size_t>(index)]);
      }
      Matrix& fit = fits[static_cast<size_t>(t)];
      fit.Allocate(3, 3);
      fit.Fill(0.0);
      FitHomography(as, bs, fit);
      fitPointers[static_cast<size_t>(t)] = &fit;
    }
  });
  // Scored together: the trials share each pass over the ROI.
  RoiScorer(reference, frame, roi).ScoreMany(fitPointers.data(), trials, scores.data());

  double best = kNoTrialAccepted;
  for (int t = 0; t < trials; ++t) {
    if (scores[static_cast<size_t>(t)] < best) {
      best = scores[static_cast<size_t>(t)];
      h = fits[static_cast<size_t>(t)];
    }
  }
  return best;
}

void SkipSearchDraws(LcgRandom& random, int trials) {
  for (long draw = 0; draw < 2L * kShuffleTranspositions * (trials - 1); ++draw) random.Next();
}

}  // namespace lumet
