#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "numeric/convolve.h"
#include "numeric/projection.h"
#include "numeric/random.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/median_estimate.h"
#include "reconstruction/psf_kernel.h"
#include "reconstruction/classic/robust_btv.h"
#include "support/simd_variants.h"
#include "support/test_images.h"
#include "util/error.h"
#include "util/parallel.h"

namespace lumet {
namespace {

TEST(HrGeometryTest, GridAndFormsProjectThroughTheReferenceGridWithPixelZeroAtTheRoiCorner) {
  const HrGeometry a = MakeHrGeometry(RoiRect{160, 100, 200, 140}, 4.0);
  EXPECT_EQ((std::vector<int>{a.width, a.height, a.x0, a.y0, a.q}), (std::vector<int>{160, 160, 640, 400, 4}));
  const HrGeometry b = MakeHrGeometry(RoiRect{1, 2, 8, 7}, 3.0);
  EXPECT_EQ((std::vector<int>{b.width, b.height, b.x0, b.y0, b.q}), (std::vector<int>{21, 15, 3, 6, 3}));
  // A_k takes HR positions to frame k's LR grid, B_k to its positions at HR scale.
  const double entries[9] = {1.01, 0.02, 0.004, -0.015, 0.99, -0.003, 1e-5, -2e-5, 1.0};
  Matrix h(3, 3, 0.0);
  for (int k = 1; k <= 9; ++k) h.Flat1(k) = entries[k - 1];
  for (double s : {2.0, 3.0, 4.0}) {
    for (double x : {0.0, 17.0, 640.0, 1203.0}) {
      for (double y : {0.0, 9.0, 400.0, 955.0}) {
        SCOPED_TRACE("scale " + std::to_string(s) + " at " + std::to_string(x) + ", " + std::to_string(y));
        const ProjectedPoint lr = ProjectPoint(h, x / s, y / s);
        const ProjectedPoint pa = ProjectPoint(LrFormOnHrInput(h, s), x, y);
        const ProjectedPoint pb = ProjectPoint(HrForm(h, s), x, y);
        const double pairs[][2] = {{pa.u, lr.u}, {pa.v, lr.v}, {pb.u, s * lr.u}, {pb.v, s * lr.v}};
        for (const auto& [got, want] : pairs) EXPECT_NEAR(got, want, 1e-9 * (1.0 + std::fabs(want)));
      }
    }
  }
  // HR pixel (0, 0) of frame 0 samples the ROI's corner exactly.
  const ColorGrayImage frame =  // distinct values: a position off by a fraction would show
      testing::MakeColor(420, 300, [](int c, int x, int y) { return (x * 7 + y * 13 + c * 50) % 251; });
  for (int q : {2, 3, 4}) {
    for (const RoiRect roi : {RoiRect{0, 0, 2, 2}, RoiRect{7, 5, 9, 7}, RoiRect{401, 283, 403, 285}}) {
      SCOPED_TRACE("scale " + std::to_string(q) + " at " + std::to_string(roi.left) + "," + std::to_string(roi.top));
      const HrGeometry grid = MakeHrGeometry(roi, q);
      const Matrix a = LrFormOnHrInput(IdentityHomography(), q);
      EXPECT_EQ(ProjectPoint(a, grid.x0, grid.y0).u, roi.left);
      EXPECT_EQ(ProjectPoint(a, grid.x0, grid.y0).v, roi.top);
      ColorDoubleImage layer;
      WarpToHrGrid(frame, a, grid, layer);
      for (size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(layer.channels[c].At(0, 0), frame.channels[c][roi.top][roi.left]);
        EXPECT_EQ(layer.channels[c].At(q, q), frame.channels[c][roi.top + 1][roi.left + 1]);  // one LR pixel on
      }
    }
  }
}

TEST(FrameSelectionTest, ThresholdIsTheElementAtNineTenthsAndSelectionStopsAboveItOrAtNotANumber) {
  const int table[][2] = {{1, 0}, {10, 9}, {11, 9}, {20, 18}, {30, 27}, {64, 57}};
  for (const auto& [n, index] : table) {
    SCOPED_TRACE("N = " + std::to_string(n));
    // Frame 0 at 0, the others 1.5, 2.5, ... n - 0.5 scrambled: element i of the sorted list is i + 0.5.
    std::vector<double> mae(static_cast<size_t>(n));
    for (int k = 1; k < n; ++k) mae[static_cast<size_t>(k)] = 0.5 + ((k * 37) % n);
    EXPECT_EQ(ComputeSelectionThreshold(mae).index, index);
    EXPECT_EQ(ComputeSelectionThreshold(mae).value, index == 0 ? 0.0 : index + 0.5);
    EXPECT_EQ(SelectedFrameCount(mae, n - 0.5), n);  // none above the largest
  }
  std::vector<double> mae(20, 0.0);
  for (int k = 1; k < 20; ++k) mae[static_cast<size_t>(k)] = k == 7 ? 9.0 : 1.0 + 0.01 * k;
  EXPECT_EQ(SelectedFrameCount(mae, ComputeSelectionThreshold(mae).value), 7);  // frames 0..6
  EXPECT_EQ(SelectedFrameCount({0.0, 2.0, 2.0, 1.0}, 2.0), 4);                   // equal takes part
  // A MAE that is not a number sorts above every number and stops the selection.
  const double nan = std::nan("");
  const std::vector<double> one = {0.0, 1.0, 2.0, nan, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 3.0};
  EXPECT_EQ(ComputeSelectionThreshold(one).index, 9);
  EXPECT_EQ(ComputeSelectionThreshold(one).value, 9.0);  // the largest number
  EXPECT_EQ(SelectedFrameCount(one, 9.0), 3);
  EXPECT_EQ(ComputeSelectionThreshold({0.0, nan}).index, 1);
  EXPECT_TRUE(std::isnan(ComputeSelectionThreshold({0.0, nan}).value));  // the NaN itself
  EXPECT_EQ(SelectedFrameCount({0.0, nan}, nan), 1);                      // frame 1 is still left out
  const std::vector<double> first = {nan, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0};
  EXPECT_EQ(ComputeSelectionThreshold(first).value, 10.0);
  EXPECT_EQ(SelectedFrameCount(first, 10.0), 11);  // the reference takes part even with a NaN
  EXPECT_EQ(SelectedFrameCount(first, 0.5), 1);
}

// MedianShiftAdd over all the frames, each at the identity.
void RunMedian(const std::vector<ColorGrayImage>& frames, const RoiRect& roi, int q, ColorDoubleImage& x,
               CountImage& count) {
  const HrGeometry grid = MakeHrGeometry(roi, q);
  MedianShiftAdd(frames, std::vector<Matrix>(frames.size(), HrForm(IdentityHomography(), q)),
                 static_cast<int>(frames.size()), grid, frames[0].Width(), frames[0].Height(), x, count);
}

TEST(MedianShiftAddTest, TheReferenceAloneFillsEveryQthPixelAndTheMedianIsTheUpperMiddleValue) {
  // Distinct values.
  const ColorGrayImage frame =
      testing::MakeColor(40, 38, [](int c, int x, int y) { return (3 + x * 11 + y * 7 + c * 40) % 256; });
  ColorDoubleImage x;
  CountImage count;
  for (int q : {2, 3, 4}) {
    SCOPED_TRACE("scale " + std::to_string(q));
    RunMedian({frame}, RoiRect{2, 3, 34, 35}, q, x, count);
    ASSERT_EQ(x.Width(), 32 * q);
    ASSERT_EQ(x.Height(), 32 * q);
    for (int r = 0; r < 32 * q; ++r) {
      for (int c = 0; c < 32 * q; ++c) {
        const bool sampled = r % q == 0 && c % q == 0;
        ASSERT_EQ(count[r][c], sampled ? 1 : 0) << "HR pixel " << c << "," << r;
        for (size_t ch = 0; ch < 3; ++ch) {
          const double expected = sampled ? frame.channels[ch][3 + r / q][2 + c / q] : 128.0;
          ASSERT_EQ(x.channels[ch].At(c, r), expected) << "HR pixel " << c << "," << r;
        }
      }
    }
  }
  auto constant = [](int r, int g) { return testing::MakeColor(6, 6, [=](int c, int, int) { return c ? g : r; }); };
  RunMedian({constant(10, 30), constant(30, 10)}, RoiRect{1, 1, 4, 4}, 3, x, count);
  EXPECT_EQ(count[3][3], 2);
  EXPECT_EQ(x.channels[0].At(3, 3), 30.0);  // 10 and 30 give 30
  EXPECT_EQ(x.channels[1].At(3, 3), 30.0);
  RunMedian({constant(10, 0), constant(30, 0), constant(20, 0)}, RoiRect{1, 1, 4, 4}, 3, x, count);
  EXPECT_EQ(count[3][3], 3);
  EXPECT_EQ(x.channels[0].At(3, 3), 20.0);  // 10, 30, 20 give 20
}

TEST(MedianShiftAddTest, RowByRowGatheringEqualsThePlainLayeredMethodOnBothPaths) {
  // Sub-pixel shifts and a slight rotation, so pixels get from none to several samples.
  std::vector<ColorGrayImage> frames;
  std::vector<Matrix> forms;
  for (int k = 0; k < 7; ++k) {
    frames.push_back(testing::MakeColor(30, 26, [k](int c, int x, int y) { return (5 + x * 13 + y * 29 + c * 70 + k * 37) % 251; }));
    Matrix h = IdentityHomography();
    h.At1(1, 3) = (0.37 * k) / HomographyUnit;
    h.At1(2, 3) = (-0.29 * k) / HomographyUnit;
    h.At1(1, 2) = 0.002 * k;
    forms.push_back(HrForm(h, 3.0));
  }
  const HrGeometry grid = MakeHrGeometry(RoiRect{3, 2, 27, 24}, 3.0);
  ColorDoubleImage expected;
  CountImage expectedCount;
  MedianShiftAddDirect(frames, forms, 7, grid, 30, 26, expected, expectedCount);
  for (ParallelMode mode : {ParallelMode::ForceSerial, ParallelMode::ForceParallel}) {
    SCOPED_TRACE(mode == ParallelMode::ForceSerial ? "serial" : "parallel");
    ScopedParallelMode scoped(mode);
    ColorDoubleImage x;
    CountImage count;
    MedianShiftAdd(frames, forms, 7, grid, 30, 26, x, count);
    int most = 0;
    for (int r = 0; r < grid.height; ++r) {
      for (int c = 0; c < grid.width; ++c) {
        ASSERT_EQ(count[r][c], expectedCount[r][c]) << "HR pixel " << c << "," << r;
        most = std::max(most, count[r][c]);
        for (size_t ch = 0; ch < 3; ++ch) ASSERT_EQ(x.channels[ch].At(c, r), expected.channels[ch].At(c, r));
      }
    }
    EXPECT_GE(most, 3);
  }
}

TEST(FillHolesTest, EmptyPixelsTakeTheCountWeightedMeanOfTheirWindow) {
  ColorDoubleImage x;
  x.Create(12, 9);
  CountImage count;
  count.Create(12, 9);
  count.Fill(0);
  count[1][3] = 2;
  count[4][5] = 1;
  for (size_t c = 0; c < 3; ++c) {
    x.channels[c].Fill(128.0);
    x.channels[c].At(3, 1) = 10.0 + c;
    x.channels[c].At(5, 4) = 40.0 + c;
  }
  FillHoles(x, count);
  for (size_t c = 0; c < 3; ++c) {
    SCOPED_TRACE("channel " + std::to_string(c));
    const DoubleImage& plane = x.channels[c];
    EXPECT_DOUBLE_EQ(plane.At(3, 3), (2.0 * (10.0 + c) + 1.0 * (40.0 + c)) / 3.0);  // both in the window
    EXPECT_DOUBLE_EQ(plane.At(2, 2), 10.0 + c);                                    // only (3, 1)
    EXPECT_DOUBLE_EQ(plane.At(6, 4), 40.0 + c);                                    // only (5, 4)
    EXPECT_EQ(plane.At(3, 1), 10.0 + c);                                           // observed: kept
    EXPECT_EQ(plane.At(8, 6), 128.0);                                              // empty window: no 0 / 0
    for (int i = 0; i < 9; ++i) {
      for (int j = 0; j < 12; ++j) {
        const bool border = i < 2 || j < 2 || i > 6 || j > 9;  // the outermost two rows and columns: not filled
        EXPECT_TRUE(!border || count[i][j] != 0 || plane.At(j, i) == 128.0) << j << "," << i;
      }
    }
  }
}

TEST(PsfKernelTest, SizeTableSymmetryAndSum) {
  const double table[][3] = {{1.0, 3.0, 19}, {1.0, 4.0, 25}, {0.5, 3.0, 11}, {0.5, 4.0, 13}, {0.3, 3.0, 7},
                             {0.2, 3.0, 7},  {0.6, 4.0, 17}, {0.05, 4.0, 7}, {0.6, 2.0, 9},  {1.0, 2.0, 13}};
  for (const auto& [sigma, scale, size] : table) {  // 6 sigma scale + 1, made odd, at least 7
    SCOPED_TRACE("sigma " + std::to_string(sigma) + " scale " + std::to_string(scale));
    EXPECT_EQ(PsfKernelSize(sigma, scale), size);
    int n = 0;
    const FloatMatrix k = MakePsfKernel(sigma, scale, n);
    ASSERT_EQ(n, size);
    ASSERT_EQ(k.Rows(), size);
    ASSERT_EQ(k.Cols(), size);
    double sum = 0.0;
    for (int a = 0; a < n; ++a) {
      for (int b = 0; b < n; ++b) {
        sum += k[a][b];
        EXPECT_EQ(k[a][b], k[b][a]);
        EXPECT_EQ(k[a][b], k[n - 1 - a][b]);
        EXPECT_EQ(k[a][b], k[a][n - 1 - b]);
      }
    }
    EXPECT_NEAR(sum, 1.0, 1e-5);
  }
}

double Sign(double v) { return v > 0 ? 1.0 : v < 0 ? -1.0 : 0.0; }

// The iteration step written out plainly with the direct convolution: the oracle of BtvStep.
void OracleStep(DoubleImage& x, const DoubleImage& z, const CountImage& count, const FloatMatrix& k, int n,
                double alpha, double beta, double lambda, double step) {
  const int w = x.Width(), h = x.Height();
  DoubleImage data = x, g;
  ConvolveMirrorDirect(x, g, k, n);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) data.At(j, i) = Sign(g.At(j, i) - z.At(j, i)) * std::sqrt(double(count[i][j]));
  }
  ConvolveMirrorDirect(data, g, k, n);
  auto s = [&](int c, int r, int dx, int dy) {  // sign of x(c, r) - x(c + dx, r + dy), 0 past w - 3, h - 3
    return c > w - 3 || r > h - 3 ? 0.0 : Sign(x.At(c, r) - x.At(c + dx, r + dy));
  };
  for (int i = 2; i < h; ++i) {  // rows and columns 0 and 1 keep the data term alone, without beta
    for (int j = 2; j < w; ++j) {
      const double r1 = (s(j, i, 0, 1) - s(j, i - 1, 0, 1)) + (s(j, i, 1, 0) - s(j - 1, i, 1, 0));
      const double r2 = (s(j, i, 0, 2) - s(j, i - 2, 0, 2)) + (s(j, i, 1, 1) - s(j - 1, i - 1, 1, 1)) +
                        (s(j, i, 2, 0) - s(j - 2, i, 2, 0));
      g.At(j, i) = ((r2 * alpha + r1) * alpha * lambda + g.At(j, i)) * beta;
    }
  }
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) x.At(j, i) = x.At(j, i) - step * g.At(j, i);
  }
}

struct BtvInputs {
  DoubleImage x, z;
  CountImage count;
};

// Values spread over 0 .. 255, or with levels > 0 whole numbers below levels, so that
// neighbours are often equal (sign 0) as on flat or 8-bit content.
BtvInputs RandomBtvInputs(int w, int h, int levels = 0) {
  LcgRandom random;
  const auto value = [&] {
    const int r = random.Next();
    return levels > 0 ? static_cast<double>(r % levels) : 255.0 * r / LcgRandom::kMax;
  };
  BtvInputs in;
  for (auto* plane : {&in.x, &in.z}) plane->Create(w, h);
  in.count.Create(w, h);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      in.x.At(j, i) = value();
      in.z.At(j, i) = value();
      in.count[i][j] = random.Next() % 5;  // about one in five empty
    }
  }
  return in;
}

void ExpectSameImage(const DoubleImage& a, const DoubleImage& b) {
  for (int i = 0; i < a.Height(); ++i) {
    for (int j = 0; j < a.Width(); ++j) ASSERT_EQ(a.At(j, i), b.At(j, i)) << "pixel " << j << "," << i;
  }
}

// Sets the thread count for a scope.
struct ThreadCountFor {
  explicit ThreadCountFor(int threads) { SetThreadCount(threads); }
  ~ThreadCountFor() { SetThreadCount(0); }
};

TEST(RobustBtvTest, StepSizesAndStepsEqualThePlainComputationExactly) {
  const double steps[][2] = {{0, 20}, {14, 20}, {15, 15}, {29, 15}, {30, 8}, {59, 8}, {60, 1}, {99, 1}};
  for (const auto& [t, step] : steps) EXPECT_EQ(BtvStepSize(static_cast<int>(t)), step) << "t = " << t;
  const double cases[][8] = {  // width, height, sigma, scale, alpha, beta, lambda, levels
      {23, 19, 0.2, 3, 0.7, 1.0, 0.003, 0},  // init params weights
      {17, 21, 0.3, 3, 0.0, 1.3, 5.0, 0},    // no regulariser (alpha 0)
      {44, 37, 0.3, 3, 0.5, 0.9, 1.5, 0},    // strong regulariser
      {29, 23, 0.3, 3, 0.5, 0.9, 1.5, 3},    // many equal neighbours
      {4, 4, 0.2, 3, 0.5, 0.9, 1.5, 0},      // the smallest image a 7 x 7 PSF allows
      {5, 6, 0.2, 3, 0.5, 0.9, 1.5, 2},
      {70, 26, 0.6, 4, 0.5, 1.0, 0.8, 0},    // the 17 x 17 PSF; full and partial blocks of columns
      {37, 9, 0.6, 4, 0.5, 1.0, 0.8, 4},     // and rows
      {31, 27, 0.6, 2, 0.7, 1.0, 0.003, 0},  // the 9 x 9 PSF of x2
      // Tall enough for several stripes of rows, of which the last is shorter or whole.
      {12, 131, 0.6, 4, 0.5, 1.0, 0.8, 0},
      {9, 73, 0.6, 4, 0.5, 1.0, 0.8, 3},
      {10, 130, 0.2, 3, 0.7, 1.0, 0.003, 0},
      {11, 192, 0.6, 4, 0.5, 1.0, 0.8, 0},
      {9, 211, 0.2, 3, 0.5, 1.0, 0.8, 0},
      // Wide enough for two and three tiles of columns.
      {2100, 19, 0.6, 4, 0.5, 1.0, 0.8, 0},
      {2600, 23, 0.2, 3, 0.7, 1.0, 0.003, 3}};
  int round = 0;
  for (const auto& [width, height, sigma, scale, alpha, beta, lambda, levels] : cases) {
    for (SimdVariant variant : testing::SimdVariantsToTest()) {
      // Alternately on one thread and split into ranges, whatever the size; planned for one to
      // three threads in turn, which lay the rows out in different stripes.
      const ThreadCountFor threads(1 + round % 3);
      ScopedParallelMode scoped(round++ % 2 == 0 ? ParallelMode::ForceParallel : ParallelMode::ForceSerial);
      const ScopedSimdVariant variantGuard(variant);
      SCOPED_TRACE(std::string(SimdVariantName(variant)) + " width " + std::to_string(width) + " height " +
                   std::to_string(height) + " alpha " + std::to_string(alpha));
      BtvInputs in = RandomBtvInputs(static_cast<int>(width), static_cast<int>(height), static_cast<int>(levels));
      int n = 0;
      const FloatMatrix k = MakePsfKernel(sigma, scale, n);
      DoubleImage expected = in.x;
      BtvWorkspace workspace(in.count);
      for (const double step : {20.0, 15.0, 15.0, 1.0}) {  // state carried between steps would show
        OracleStep(expected, in.z, in.count, k, n, alpha, beta, lambda, step);
        BtvStep(in.x, in.z, k, n, alpha, beta, lambda, step, workspace);
        ExpectSameImage(in.x, expected);
      }
      // Changed behind the workspace's back: a reset makes the next step copy it in again.
      in.x.At(1, 1) += 3.0;
      expected.At(1, 1) += 3.0;
      workspace.Reset();
      OracleStep(expected, in.z, in.count, k, n, alpha, beta, lambda, 8.0);
      BtvStep(in.x, in.z, k, n, alpha, beta, lambda, 8.0, workspace);
      ExpectSameImage(in.x, expected);
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

TEST(RobustBtvTest, IterationEqualsThePlainStepsBandByBandAndReportsEveryStep) {
  const int w = 21, h = 18;
  ColorDoubleImage x, z;
  CountImage count;
  {
    const BtvInputs r = RandomBtvInputs(w, h), g = RandomBtvInputs(w, h + 1);
    x.Create(w, h);
    z.Create(w, h);
    count = r.count;
    for (int band = 0; band < 3; ++band) {
      for (int i = 0; i < h; ++i) {
        for (int j = 0; j < w; ++j) {
          x.channels[static_cast<size_t>(band)].At(j, i) = band == 1 ? g.x.At(j, i) : r.x.At(j, i) + band;
          z.channels[static_cast<size_t>(band)].At(j, i) = band == 1 ? g.z.At(j, i) : r.z.At(j, i) - band;
        }
      }
    }
  }
  int n = 0;
  const FloatMatrix k = MakePsfKernel(0.2, 3.0, n);
  ColorDoubleImage expected = x;
  for (int band = 0; band < kBtvBands; ++band) {
    DoubleImage& xb = expected.channels[static_cast<size_t>(band)];
    for (int t = 0; t < kBtvStepsPerBand; ++t) {
      OracleStep(xb, z.channels[static_cast<size_t>(band)], count, k, n, 0.7, 1.0, 0.05, BtvStepSize(t));
    }
  }
  // Serial and parallel, each also with the updates written past the caches, as on planes
  // far larger than these.
  const double cached = BtvStreamingBytes();
  const std::pair<ParallelMode, double> runs[] = {{ParallelMode::ForceSerial, cached},
                                                  {ParallelMode::ForceParallel, cached},
                                                  {ParallelMode::ForceSerial, 0.0},
                                                  {ParallelMode::ForceParallel, 0.0}};
  for (const auto& [mode, streamAbove] : runs) {
    const ScopedBtvStreamingBytes streaming(streamAbove);
    ScopedParallelMode scoped(mode);
    ColorDoubleImage result = x;
    std::vector<int> steps;
    int pictures = 0;
    RobustBtvIterate(
        result, z, count, k, n, 0.7, 1.0, 0.05, [&](int band, int step) { steps.push_back(band * 1000 + step); },
        [&](const ColorDoubleImage& picture) {
          // The picture shows the estimate as it stands: band b's first picture, taken before
          // its first step, holds the finished bands before it.
          if (pictures % 10 == 0 && pictures > 0) {
            const size_t done = static_cast<size_t>(pictures / 10 - 1);
            for (int i = 0; i < h; ++i) {
              for (int j = 0; j < w; ++j) {
                ASSERT_EQ(picture.channels[done].At(j, i), expected.channels[done].At(j, i));
              }
            }
          }
          ++pictures;
        });
    EXPECT_EQ(pictures, 30);
    ASSERT_EQ(steps.size(), 300u);
    EXPECT_EQ(steps[0], 0);
    EXPECT_EQ(steps[299], 2099);
    for (size_t c = 0; c < 3; ++c) ExpectSameImage(result.channels[c], expected.channels[c]);
  }

  // A callback that throws before step 37 of band 1 (a cancellation) leaves band 0 finished,
  // band 1 after its first 37 steps and band 2 as it was.
  ColorDoubleImage partial = x;
  partial.channels[0] = expected.channels[0];
  for (int t = 0; t < 37; ++t) {
    OracleStep(partial.channels[1], z.channels[1], count, k, n, 0.7, 1.0, 0.05, BtvStepSize(t));
  }
  ColorDoubleImage cancelled = x;
  EXPECT_THROW(RobustBtvIterate(
                   cancelled, z, count, k, n, 0.7, 1.0, 0.05,
                   [](int band, int step) {
                     if (band == 1 && step == 37) throw Error("cancelled");
                   },
                   nullptr),
               Error);
  for (size_t c = 0; c < 3; ++c) ExpectSameImage(cancelled.channels[c], partial.channels[c]);
}

// One channel warped alone (the unwatched frame errors) equals that channel of the
// three-channel warp and the plain loop, bit for bit, on every instruction set: a turned,
// scaled and slanted frame whose HR grid runs past every edge of it.
TEST(FrameWarpTest, OneChannelOnEveryVariantEqualsThePlainLoop) {
  const ColorGrayImage frame =
      testing::MakeColor(61, 47, [](int c, int x, int y) { return (x * 37 + y * 101 + c * 7 + x * y) % 256; });
  Matrix h = IdentityHomography();
  h.At1(1, 1) = 1.03;
  h.At1(1, 2) = 0.06;
  h.At1(1, 3) = -0.011;
  h.At1(2, 1) = -0.05;
  h.At1(2, 2) = 0.98;
  h.At1(2, 3) = 0.007;
  h.At1(3, 1) = 2e-5;
  h.At1(3, 2) = -1e-5;
  const HrGeometry grid = MakeHrGeometry(RoiRect{-3, -2, 63, 50}, 4.0);
  const Matrix a = LrFormOnHrInput(h, grid.scale);
  ColorDoubleImage layer;
  WarpToHrGrid(frame, a, grid, layer);
  DoubleImage plain;
  WarpToHrGridScalar(frame.channels[1], a, grid, plain);
  for (const SimdVariant variant : testing::SimdVariantsToTest()) {
    SCOPED_TRACE(SimdVariantName(variant));
    const ScopedSimdVariant variantGuard(variant);
    for (const ParallelMode mode : {ParallelMode::ForceSerial, ParallelMode::ForceParallel}) {
      ScopedParallelMode scoped(mode);
      DoubleImage green;
      WarpToHrGrid(frame.channels[1], a, grid, green);
      ExpectSameImage(green, plain);
      ExpectSameImage(green, layer.channels[1]);
    }
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

}  // namespace
}  // namespace lumet
