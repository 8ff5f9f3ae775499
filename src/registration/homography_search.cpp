#include "registration/homography_search.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "numeric/convolve.h"
#include "numeric/projection.h"
#include "registration/roi_warp.h"
#include "util/error.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// Warped values of ROI row r into out[0 .. width-1].
inline void WarpRowScalar(const GrayImage& frame, const Matrix& h, const RoiRect& roi, int r, double* out) {
  const double w = frame.Width();
  const double hgt = frame.Height();
  const double y = static_cast<double>(roi.top) + r;
  const int width = roi.Width();
  for (int c = 0; c < width; ++c) {
    const ProjectedPoint p = ProjectPoint(h, static_cast<double>(roi.left) + c, y);
    out[c] = (p.u >= 0.0 && p.v >= 0.0 && p.u < w && p.v < hgt) ? frame.SampleNonNegative(p.u, p.v) : 0.0;
  }
}

// The same on the widest instruction set in use; identical values.
inline void WarpRow(const GrayImage& frame, const Matrix& h, const RoiRect& roi, int r, double* out) {
  if (ActiveSimdVariant() == SimdVariant::Avx512) {
    const double entries[9] = {h.At1(1, 1), h.At1(1, 2), h.At1(1, 3), h.At1(2, 1), h.At1(2, 2),
                               h.At1(2, 3), h.At1(3, 1), h.At1(3, 2), h.At1(3, 3)};
    detail::WarpRowAvx512(frame.Pixels(), frame.Stride(), frame.Width(), frame.Height(), entries,
                          static_cast<double>(roi.left), static_cast<double>(roi.top) + r, roi.Width(), out);
    return;
  }
  WarpRowScalar(frame, h, roi, r, out);
}

// About the operations of warping one ROI pixel: a projection and a bilinear sample.
constexpr long kWarpPixelWork = 20;

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
  const Matrix t1 = Transpose(s);
  const Matrix t2 = Transpose(s);
  const Matrix normal = Multiply(t2, s);
  const Matrix inverse = Inverse(normal);
  const Matrix pseudo = Multiply(inverse, t1);
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

double RoiMae(const GrayImage& reference, const GrayImage& frame, const Matrix& h, const RoiRect& roi) {
  CheckRoiInsideFrame(roi, reference.Width(), reference.Height());
  const int width = roi.Width();
  const int height = roi.Height();
  if (width <= 0 || height <= 0) return std::numeric_limits<double>::quiet_NaN();
  const long pixels = static_cast<long>(width) * height;
  long count = 0;
  double sum = 0.0;
  if (pixels * kWarpPixelWork < 2 * kMinParallelWork || InsideParallelBody()) {
    std::vector<double> row(static_cast<size_t>(width));
    for (int r = 0; r < height; ++r) {
      WarpRow(frame, h, roi, r, row.data());
      const uint8_t* ref = reference.Row(roi.top + r) + roi.left;
      for (int c = 0; c < width; ++c) {
        if (row[static_cast<size_t>(c)] > 0.0) {
          ++count;
          sum += std::fabs(ref[c] - row[static_cast<size_t>(c)]);
        }
      }
    }
  } else {
    // Warp in parallel, then sum in row order so the result does not depend on threads.
    std::vector<double> warped(static_cast<size_t>(pixels));
    ParallelFor(0, height, kWarpPixelWork * width, [&](int lo, int hi) {
      for (int r = lo; r < hi; ++r) WarpRow(frame, h, roi, r, warped.data() + static_cast<size_t>(r) * width);
    });
    for (int r = 0; r < height; ++r) {
      const double* row = warped.data() + static_cast<size_t>(r) * width;
      const uint8_t* ref = reference.Row(roi.top + r) + roi.left;
      for (int c = 0; c < width; ++c) {
        if (row[c] > 0.0) {
          ++count;
          sum += std::fabs(ref[c] - row[c]);
        }
      }
    }
  }
  return sum / static_cast<double>(count);
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
  std::vector<double> scores(static_cast<size_t>(trials));
  ParallelFor(0, trials, kWarpPixelWork * roi.Width() * roi.Height(), [&](int lo, int hi) {
    for (int t = lo; t < hi; ++t) {
      std::vector<FeaturePoint> as;
      std::vector<FeaturePoint> bs;
      for (int index : samples[static_cast<size_t>(t)]) {
        as.push_back(a[static_cast<size_t>(index)]);
        bs.push_back(b[static_cast<size_t>(index)]);
      }
      Matrix fit(3, 3, 0.0);
      FitHomography(as, bs, fit);
      scores[static_cast<size_t>(t)] = RoiMae(reference, frame, fit, roi);
      fits[static_cast<size_t>(t)] = std::move(fit);
    }
  });

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
