#include "registration/direct/direct_alignment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numeric/projection.h"
#include "registration/direct/align_kernel.h"
#include "registration/test_images.h"
#include "support/simd_variants.h"

namespace lumet {
namespace {

// A homography from its entries in pixel units: (x, y) -> ((a x + b y + tx) / d, (c x + e y + ty) / d),
// d = p x + q y + 1.
Matrix PixelHomography(double a, double b, double tx, double c, double e, double ty, double p = 0.0, double q = 0.0) {
  Matrix h = IdentityHomography();
  h.At1(1, 1) = a;
  h.At1(1, 2) = b;
  h.At1(1, 3) = tx / HomographyUnit;
  h.At1(2, 1) = c;
  h.At1(2, 2) = e;
  h.At1(2, 3) = ty / HomographyUnit;
  h.At1(3, 1) = p * HomographyUnit;
  h.At1(3, 2) = q * HomographyUnit;
  return h;
}

// The frame that shows Scene through h: frame pixel (u, v) is the scene at the reference
// position h takes to (u, v), found by inverting h numerically (Newton steps).
GrayImage WarpedScene(int width, int height, const Matrix& h) {
  return testing::MakeGray(width, height, [&](double u, double v) {
    double x = u;
    double y = v;
    for (int i = 0; i < 30; ++i) {
      const ProjectedPoint p = ProjectPoint(h, x, y);
      const double step = 1e-4;
      const ProjectedPoint px = ProjectPoint(h, x + step, y);
      const ProjectedPoint py = ProjectPoint(h, x, y + step);
      const double j11 = (px.u - p.u) / step, j12 = (py.u - p.u) / step;
      const double j21 = (px.v - p.v) / step, j22 = (py.v - p.v) / step;
      const double det = j11 * j22 - j12 * j21;
      const double ru = u - p.u;
      const double rv = v - p.v;
      x += (j22 * ru - j12 * rv) / det;
      y += (-j21 * ru + j11 * rv) / det;
    }
    return testing::Scene(x, y);
  });
}

// Largest distance between the positions the two homographies give the ROI's centre and corners.
double LargestDistance(const Matrix& a, const Matrix& b, const RoiRect& roi) {
  const double points[5][2] = {{0.5 * (roi.left + roi.right - 1), 0.5 * (roi.top + roi.bottom - 1)},
                               {double(roi.left), double(roi.top)},
                               {double(roi.right - 1), double(roi.top)},
                               {double(roi.left), double(roi.bottom - 1)},
                               {double(roi.right - 1), double(roi.bottom - 1)}};
  double largest = 0.0;
  for (const auto& p : points) {
    const ProjectedPoint pa = ProjectPoint(a, p[0], p[1]);
    const ProjectedPoint pb = ProjectPoint(b, p[0], p[1]);
    largest = std::max(largest, std::hypot(pa.u - pb.u, pa.v - pb.v));
  }
  return largest;
}

// The normal equations of every instruction set: the upper triangle and the right-hand side
// bit for bit those of the scalar sums in pixel order, with Huber weights on the outliers and
// the invalid pixels left out; an invalid pixel holding a huge value would show at once.
TEST(DirectAlignment, NormalEquationsOfEveryVariantAreTheScalarSums) {
  constexpr size_t kStride = 11;  // as the template pixels lie: x, y, t, then the 8 entries
  constexpr size_t kCount = 301;
  std::mt19937 random(7);
  std::normal_distribution<double> normal(0.0, 3.0);
  std::vector<double> jacobians(kCount * kStride);
  std::vector<double> errors(kCount);
  std::vector<char> valid(kCount);
  for (size_t i = 0; i < kCount; ++i) {
    for (size_t r = 0; r < kStride; ++r) jacobians[i * kStride + r] = normal(random);
    errors[i] = i % 7 == 0 ? 40.0 * normal(random) : normal(random);
    valid[i] = i % 5 == 3 ? 0 : 1;
    if (valid[i] == 0) errors[i] = 1e300;
  }
  const double k = 1.345 * 2.0;
  double a[8][8] = {};
  double b[8] = {};
  for (size_t i = 0; i < kCount; ++i) {
    if (valid[i] == 0) continue;
    const double e = errors[i];
    const double weight = std::fabs(e) <= k ? 1.0 : k / std::fabs(e);
    const double* j = &jacobians[i * kStride + 3];
    for (int r = 0; r < 8; ++r) {
      const double wj = weight * j[r];
      b[r] += wj * e;
      for (int c = r; c < 8; ++c) a[r][c] += wj * j[c];
    }
  }
  for (SimdVariant variant : testing::SimdVariantsToTest()) {
    SCOPED_TRACE(SimdVariantName(variant));
    const ScopedSimdVariant scoped(variant);
    double va[64] = {};
    double vb[8] = {};
    detail::ActiveAlignKernels().normalEquations(&jacobians[3], kStride, errors.data(), valid.data(), kCount, k, va,
                                                 vb);
    for (int r = 0; r < 8; ++r) {
      EXPECT_EQ(vb[r], b[r]) << r;
      for (int c = r; c < 8; ++c) EXPECT_EQ(va[8 * r + c], a[r][c]) << r << "," << c;
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

TEST(DirectAlignment, RecoversKnownHomographies) {
  struct Case {
    const char* name;
    int width, height;
    RoiRect roi;
    Matrix truth;
    bool searchFirst;  // start from the coarse search instead of a nearby guess
  };
  const double c = std::cos(0.008);
  const double s = std::sin(0.008);
  const Case cases[] = {
      {"perspective, 120 x 100, near start", 120, 100, {40, 30, 80, 70},
       PixelHomography(1.004 * c, -1.004 * s, 2.3 + 0.4, 1.004 * s, 1.004 * c, -1.7 - 0.5, 2e-5, -1.5e-5), false},
      {"64 x 64 frame, coarse search start", 64, 64, {20, 20, 44, 44},
       PixelHomography(c, -s, 1.4 + 0.2, s, c, -2.2 - 0.2), true},
      {"64 x 64 frame, larger shift", 64, 64, {18, 16, 46, 44}, PixelHomography(1.0, 0.0, -4.6, 0.0, 1.0, 3.3), true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const GrayImage reference = testing::MakeGray(k.width, k.height, testing::Scene);
    const GrayImage frame = WarpedScene(k.width, k.height, k.truth);
    Matrix h = k.searchFirst ? CoarseTranslationSearch(reference, frame, k.roi, 8)
                             : PixelHomography(1.0, 0.0, 2.3 + 0.4 - 0.6, 0.0, 1.0, -1.7 - 0.5 + 0.45);
    const double startDistance = LargestDistance(h, k.truth, k.roi);
    const AlignmentResult r = AlignDirect(reference, frame, h, k.roi);
    EXPECT_FALSE(r.diverged);
    EXPECT_LT(r.error, r.startError);
    EXPECT_LT(LargestDistance(h, k.truth, k.roi), 0.01) << "from " << startDistance;
    EXPECT_EQ(h.At1(3, 3), 1.0);
  }
}

TEST(DirectAlignment, AMovingObjectDoesNotPullTheEstimate) {
  const RoiRect roi{40, 30, 80, 70};
  const Matrix truth = PixelHomography(1.0, 0.0, 1.25, 0.0, 1.0, -0.75);
  const GrayImage reference = testing::MakeGray(120, 100, testing::Scene);
  GrayImage frame = WarpedScene(120, 100, truth);
  for (int y = 35; y < 50; ++y) {
    for (int x = 45; x < 60; ++x) frame.Row(y)[x] = 250;  // a bright block only this frame shows
  }
  Matrix h = PixelHomography(1.0, 0.0, 1.0, 0.0, 1.0, -1.0);
  const AlignmentResult r = AlignDirect(reference, frame, h, roi);
  EXPECT_FALSE(r.diverged);
  EXPECT_LT(LargestDistance(h, truth, roi), 0.03);
}

TEST(DirectAlignment, KeepsTheStartWhenTheRegionLeavesTheFrame) {
  const RoiRect roi{20, 20, 44, 44};
  const GrayImage reference = testing::MakeGray(64, 64, testing::Scene);
  const Matrix start = PixelHomography(1.0, 0.0, 300.0, 0.0, 1.0, 0.0);
  Matrix h = start;
  const AlignmentResult r = AlignDirect(reference, reference, h, roi);
  EXPECT_TRUE(r.diverged);
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(h.Flat1(k), start.Flat1(k)) << k;
}

}  // namespace
}  // namespace lumet
