#include "reconstruction/classic/bands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "numeric/projection.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/median_estimate.h"
#include "reconstruction/psf_kernel.h"
#include "reconstruction/reconstruction_method.h"
#include "reconstruction/classic/robust_btv.h"
#include "reconstruction/enhanced/tiles.h"
#include "support/test_images.h"
#include "util/parallel.h"

namespace lumet {
namespace {

// A shifted, slightly rotated homography in reference pixels.
Matrix Moved(double dx, double dy, double turn) {
  Matrix h = IdentityHomography();
  h.At1(1, 1) = std::cos(turn);
  h.At1(1, 2) = -std::sin(turn);
  h.At1(2, 1) = std::sin(turn);
  h.At1(2, 2) = std::cos(turn);
  h.At1(1, 3) = dx;
  h.At1(2, 3) = dy;
  return h;
}

TEST(ClassicBandsTest, OneBandAtATimeGivesTheThreeBandEstimateExactly) {
  std::vector<ColorGrayImage> frames;
  for (int k = 0; k < 4; ++k) {
    frames.push_back(testing::MakeColor(48, 40, [k](int c, int x, int y) {
      return static_cast<int>(128 + 100 * std::sin(0.3 * x + 0.2 * y + 0.9 * c + 0.4 * k)) % 256;
    }));
  }
  const Matrix moves[] = {IdentityHomography(), Moved(0.4, -0.3, 0.01), Moved(-0.7, 0.25, -0.02), Moved(1.3, 0.6, 0.0)};
  for (const double scale : {2.0, 4.0}) {
    for (const ParallelMode mode : {ParallelMode::ForceSerial, ParallelMode::ForceParallel}) {
      SCOPED_TRACE("scale " + std::to_string(scale) + (mode == ParallelMode::ForceSerial ? " serial" : " parallel"));
      ScopedParallelMode scoped(mode);
      const HrGeometry grid = MakeHrGeometry(RoiRect{6, 5, 32, 27}, scale);
      std::vector<Matrix> hrForms;
      for (const Matrix& m : moves) hrForms.push_back(HrForm(m, scale));
      int n = 0;
      const FloatMatrix kernel = MakePsfKernel(0.6, scale, n);
      const int selected = 3;  // the last frame is left out, as a frame above the threshold is

      ColorDoubleImage x;
      CountImage count;
      MedianShiftAdd(frames, hrForms, selected, grid, 48, 40, x, count);
      const ColorDoubleImage z = x;
      FillHoles(x, count);
      RobustBtvIterate(x, z, count, kernel, n, 0.7, 1.0, 0.04, BtvProgress(), BtvPicture());

      std::vector<ColorGrayImage> copies = frames;
      std::vector<int> bandsDone;
      int steps = 0;
      ReconstructClassicByBand(
          copies, hrForms, selected, grid, 48, 40, kernel, n, 0.7, 1.0, 0.04, [&](int, int) { ++steps; },
          [&](int band, DoubleImage& xb) {
            bandsDone.push_back(band);
            const DoubleImage& want = x.channels[static_cast<size_t>(band)];
            ASSERT_EQ(xb.Width(), grid.width);
            ASSERT_EQ(xb.Height(), grid.height);
            for (int r = 0; r < grid.height; ++r) {
              for (int c = 0; c < grid.width; ++c) {
                ASSERT_EQ(xb.Row(r)[c], want.Row(r)[c]) << "band " << band << " pixel " << c << "," << r;
              }
            }
          });
      EXPECT_EQ(bandsDone, (std::vector<int>{0, 1, 2}));
      EXPECT_EQ(steps, kBtvBands * kBtvStepsPerBand);
      EXPECT_EQ(copies[1].channels[2].Width(), 0) << "every frame channel is freed once used";
    }
  }
}

TEST(ClassicBandsTest, TheWholeHdFrameAtScaleFourNeedsUnderFiftyBytesAPixelOnlyOneBandAtATime) {
  // 1248 x 688 LR pixels of 30 frames of 1280 x 720, the standard 17 x 17 PSF; beside the
  // method, the frames and two 8-bit pictures.
  ReconstructionOptions options;
  options.roi = RoiRect{16, 16, 1264, 704};
  const HrGeometry grid = options.Grid();
  const double pixels = static_cast<double>(grid.width) * grid.height;
  const double around = 30.0 * 1280 * 720 * 3 + 6 * pixels;
  const ReconstructionMethod& classic = ClassicReconstruction();
  EXPECT_LE((around + static_cast<double>(classic.WorkingBytes(options, grid, true))) / pixels, 50.0);
  EXPECT_GT((around + static_cast<double>(classic.WorkingBytes(options, grid, false))) / pixels, 80.0);
}

TEST(ClassicBandsTest, TheEnhancedMethodNeedsWhatItsTilesNeedWithinItsLimit) {
  ReconstructionOptions options;
  options.method = Method::Enhanced;
  options.roi = RoiRect{16, 16, 1264, 704};
  const HrGeometry grid = options.Grid();
  const ReconstructionMethod& enhanced = EnhancedReconstructionMethod();
  // Without a limit a whole HD frame at x4 is still solved in tiles of at most the solve
  // budget: its need stays within a desktop's memory.
  const size_t unlimited = enhanced.WorkingBytes(options, grid, false);
  EXPECT_LE(unlimited, 3 * sizeof(double) * grid.width * grid.height + kEnhancedSolveBudget);
  EXPECT_LT(unlimited, size_t{1536} << 20);
  options.memoryLimit = size_t{768} << 20;
  const size_t tiled = enhanced.WorkingBytes(options, grid, false);
  EXPECT_LT(tiled, unlimited);
  EXPECT_LE(tiled, options.memoryLimit);
  options.memoryLimit = size_t{64} << 20;  // below even the estimate: the smallest tiles' need
  EXPECT_GT(enhanced.WorkingBytes(options, grid, false), options.memoryLimit);
}

// A grid whose solve fits the budget is solved whole, whatever the limit above it.
TEST(ClassicBandsTest, TheEnhancedMethodSolvesAGridWithinTheBudgetWhole) {
  ReconstructionOptions options;
  options.method = Method::Enhanced;
  options.roi = RoiRect{10, 10, 300, 220};
  const HrGeometry grid = options.Grid();
  const ReconstructionMethod& enhanced = EnhancedReconstructionMethod();
  const int taps = PsfKernelSize(options.psfSigma, options.scale);
  const size_t whole = 3 * sizeof(double) * grid.width * grid.height + EnhancedSolveBytes(grid, taps);
  EXPECT_GE(enhanced.WorkingBytes(options, grid, false), whole);
}

}  // namespace
}  // namespace lumet
