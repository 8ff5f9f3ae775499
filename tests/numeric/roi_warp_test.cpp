#include "numeric/roi_warp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/projection.h"
#include "support/simd_variants.h"

namespace lumet {
namespace {

// A frame whose odd width leaves the last pixels' 4-byte reads running past the end.
GrayImage MakeFrame(int w, int h) {
  GrayImage frame;
  frame.Create(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) frame.Row(y)[x] = static_cast<uint8_t>((x * 53 + y * 29 + x * y * 7 + 11) % 256);
  }
  return frame;
}

// The scalar warp every variant must reproduce bit for bit.
std::vector<double> ScalarRow(const GrayImage& frame, const Matrix& h, double x0, double y, int count) {
  std::vector<double> out(static_cast<size_t>(count));
  for (int c = 0; c < count; ++c) {
    const ProjectedPoint p = ProjectPoint(h, x0 + c, y);
    const bool inside = p.u >= 0.0 && p.v >= 0.0 && p.u < frame.Width() && p.v < frame.Height();
    out[static_cast<size_t>(c)] = inside ? frame.SampleNonNegative(p.u, p.v) : 0.0;
  }
  return out;
}

// The frame as doubles with its last column and row repeated (the plane warp's input).
std::vector<double> PaddedPlane(const GrayImage& frame) {
  const int w = frame.Width();
  const int l = frame.Height();
  std::vector<double> plane(static_cast<size_t>((w + 1) * (l + 1)));
  for (int y = 0; y <= l; ++y) {
    for (int x = 0; x <= w; ++x) plane[static_cast<size_t>(y * (w + 1) + x)] = frame.Row(y < l ? y : l - 1)[x < w ? x : w - 1];
  }
  return plane;
}

void ExpectSameBits(const std::vector<double>& actual, const std::vector<double>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t c = 0; c < actual.size(); ++c) {
    if (std::memcmp(&actual[c], &expected[c], sizeof(double)) != 0) {
      ADD_FAILURE() << "pixel " << c << ": " << actual[c] << " instead of " << expected[c];
      return;
    }
  }
}

// Homographies that reach every case of the sample: the last column and row (clamped
// neighbours), points outside on each side, a zero denominator, a slant and a perspective.
std::vector<Matrix> Homographies(int w, int h) {
  std::vector<Matrix> all;
  Matrix shift = IdentityHomography();  // column c samples u = c + 0.25 - 3, up to the last column
  shift.At1(1, 3) = -2.75 / HomographyUnit;
  shift.At1(2, 3) = 0.5 / HomographyUnit;
  all.push_back(shift);
  Matrix slant = IdentityHomography();
  slant.At1(1, 1) = 1.07;
  slant.At1(1, 2) = 0.13;
  slant.At1(2, 1) = -0.09;
  slant.At1(2, 2) = 0.93;
  slant.At1(2, 3) = 0.004;
  slant.At1(3, 1) = 3e-5;
  slant.At1(3, 2) = -2e-5;
  all.push_back(slant);
  Matrix flat = IdentityHomography();  // d = 0 on the whole row: no pixel inside
  flat.At1(3, 3) = 0.0;
  all.push_back(flat);
  Matrix lastRow = IdentityHomography();  // v = h - 0.5: the lower neighbour is the row itself
  lastRow.At1(2, 2) = 0.0;
  lastRow.At1(2, 3) = (h - 0.5) / HomographyUnit;
  lastRow.At1(1, 1) = static_cast<double>(w) / (w - 3);
  all.push_back(lastRow);
  return all;
}

// Every vector variant against the scalar warp, from the 8-bit frame and from the padded
// plane, for row counts that leave every length of partial vector and rows running off the
// frame on all four sides.
TEST(RoiWarpTest, EveryVariantEqualsTheScalarWarp) {
  const GrayImage frame = MakeFrame(37, 21);
  const std::vector<double> plane = PaddedPlane(frame);
  for (const SimdVariant variant : testing::SimdVariantsToTest()) {
    if (variant == SimdVariant::Baseline) continue;
    SCOPED_TRACE(SimdVariantName(variant));
    const ScopedSimdVariant variantGuard(variant);
    const detail::RoiWarpKernels* kernels = detail::ActiveRoiWarp();
    ASSERT_NE(kernels, nullptr);
    for (const Matrix& m : Homographies(frame.Width(), frame.Height())) {
      double h[9];
      for (int k = 0; k < 9; ++k) h[k] = m.Flat1(k + 1);
      for (const int count : {1, 3, 7, 9, 45}) {
        for (const double y : {-2.0, 0.0, 9.0, 20.0, 23.0}) {
          SCOPED_TRACE(::testing::Message() << "count " << count << ", y " << y << ", h11 " << h[0]);
          const double x0 = count == 45 ? -4.0 : 30.0;
          const std::vector<double> expected = ScalarRow(frame, m, x0, y, count);
          std::vector<double> bytes(static_cast<size_t>(count), -1.0);
          kernels->bytes(frame.Pixels(), frame.Stride(), frame.Width(), frame.Height(), h, x0, y, count, bytes.data());
          ExpectSameBits(bytes, expected);
          std::vector<double> fromPlane(static_cast<size_t>(count), -1.0);
          kernels->plane(plane.data(), frame.Width() + 1, frame.Width(), frame.Height(), h, x0, y, count,
                         fromPlane.data());
          ExpectSameBits(fromPlane, expected);
        }
      }
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

// Homographies sharing their third row and some first or second rows, warped together,
// give each one's own warp.
TEST(RoiWarpTest, SharedRowsEqualEachHomographysOwnWarp) {
  const GrayImage frame = MakeFrame(29, 26);
  const std::vector<double> plane = PaddedPlane(frame);
  const double base[9] = {1.02, 0.04, 0.003, -0.03, 0.99, -0.002, 1e-5, 2e-5, 1.0};
  // Three homographies: the second changes h11 (its own first row), the third h22.
  std::vector<double> uRows = {base[0], base[1], base[2], base[0] + 0.01, base[1], base[2]};
  std::vector<double> vRows = {base[3], base[4], base[5], base[3], base[4] - 0.02, base[5]};
  const int uOf[3] = {0, 1, 0};
  const int vOf[3] = {0, 0, 1};
  detail::SharedRowsWarp job;
  job.plane = plane.data();
  job.planeStride = frame.Width() + 1;
  job.width = frame.Width();
  job.height = frame.Height();
  job.denominator = base + 6;
  job.uCount = 2;
  job.uRows = uRows.data();
  job.vCount = 2;
  job.vRows = vRows.data();
  job.count = 3;
  job.uOf = uOf;
  job.vOf = vOf;
  const int count = 35;
  for (const SimdVariant variant : testing::SimdVariantsToTest()) {
    if (variant == SimdVariant::Baseline) continue;
    SCOPED_TRACE(SimdVariantName(variant));
    const ScopedSimdVariant variantGuard(variant);
    const detail::RoiWarpKernels* kernels = detail::ActiveRoiWarp();
    ASSERT_NE(kernels, nullptr);
    for (const double y : {-1.0, 4.0, 25.0}) {
      std::vector<double> together(static_cast<size_t>(3 * count), -1.0);
      kernels->sharedPlane(job, -3.0, y, count, together.data(), count);
      for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(::testing::Message() << "homography " << k << ", y " << y);
        Matrix m = IdentityHomography();
        for (int e = 0; e < 3; ++e) {
          m.Flat1(e + 1) = uRows[static_cast<size_t>(3 * uOf[k] + e)];
          m.Flat1(e + 4) = vRows[static_cast<size_t>(3 * vOf[k] + e)];
          m.Flat1(e + 7) = base[6 + e];
        }
        const std::vector<double> own(together.begin() + k * count, together.begin() + (k + 1) * count);
        ExpectSameBits(own, ScalarRow(frame, m, -3.0, y, count));
      }
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

}  // namespace
}  // namespace lumet
