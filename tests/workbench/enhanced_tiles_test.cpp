#include "reconstruction/enhanced/tiles.h"

#include <gtest/gtest.h>

#include "evaluation/quality.h"
#include "reconstruction/enhanced/weights.h"
#include "reconstruction/gray_conversion.h"
#include "reconstruction/psf_kernel.h"
#include "synth/synthetic_sequence.h"

namespace lumet {
namespace {

// A synthetic sequence of 220 x 160 frames, whose standard ROI makes a 160 x 160 HR grid:
// 2 x 2 tiles of 80.
SyntheticSequence SmallSequence(const char* scene, int lrCount, uint64_t seed, double psfSigma = 0.6,
                                double noise = 2.0) {
  SynthOptions o;
  o.scene = scene;
  o.lrCount = lrCount;
  o.width = 220;
  o.height = 160;
  o.seed = seed;
  o.psfSigma = psfSigma;
  o.noise = noise;
  return MakeSyntheticSequence(o);
}

TEST(EnhancedTilesTest, TilesWithTheirOverlapGiveTheUntiledQualityWithoutSeams) {
  const SyntheticSequence seq = SmallSequence("texture", 6, 5);
  const HrGeometry grid = MakeHrGeometry(seq.params.roi, seq.params.scale);
  EnhancedSettings settings;
  settings.maxIterations = 20;
  const auto run = [&](int tileSide) {
    ColorDoubleImage estimate;
    EnhancedOutcome outcome;
    EnhancedReconstructTiled(seq.frames, seq.homographies, grid, settings, tileSide, estimate, outcome,
                             EnhancedProgress(), EnhancedPicture());
    EXPECT_EQ(estimate.Width(), grid.width);
    EXPECT_EQ(estimate.Height(), grid.height);
    EXPECT_GT(outcome.iterations, 0);
    ColorGrayImage gray;
    ConvertToGray(estimate, gray);
    return gray;
  };
  const ColorGrayImage whole = run(grid.width);
  const ColorGrayImage tiled = run(80);  // 2 x 2 tiles of the 160 x 160 grid
  const double untiledPsnr = Psnr(whole, seq.truth);
  const double tiledPsnr = Psnr(tiled, seq.truth);
  EXPECT_NEAR(tiledPsnr, untiledPsnr, 0.05) << "untiled " << untiledPsnr << " dB";
  EXPECT_GT(Psnr(tiled, whole), 40.0) << Psnr(tiled, whole);
}

TEST(EnhancedTilesTest, FrameZeroEnlargedIsChosenOnceForTheWholeGrid) {
  // Frames 1 .. 5 come from another texture: every tile would fall back on its own. The
  // tiled run must say so once (outcome.fellBack, one reason) and write frame 0 enlarged
  // over the whole grid, not leave each tile's decision unreported.
  const SyntheticSequence seq = SmallSequence("texture", 5, 5);
  const SyntheticSequence other = SmallSequence("texture", 5, 11);
  std::vector<ColorGrayImage> frames = other.frames;
  frames[0] = seq.frames[0];
  const HrGeometry grid = MakeHrGeometry(seq.params.roi, seq.params.scale);
  EnhancedSettings settings;
  settings.maxIterations = 10;
  ColorDoubleImage estimate;
  EnhancedOutcome outcome;
  EnhancedReconstructTiled(frames, seq.homographies, grid, settings, 80, estimate, outcome, EnhancedProgress(),
                           EnhancedPicture());
  ASSERT_TRUE(outcome.fellBack);
  EXPECT_NE(outcome.reason.find("agree with frame 0"), std::string::npos) << outcome.reason;
  // The shares are over all tiles' observations of each frame.
  ASSERT_EQ(outcome.agreement.size(), frames.size());
  for (size_t k = 1; k < frames.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_LT(outcome.agreement[k], kMinAgreement);
    EXPECT_GT(outcome.observations[k], 0u);
  }
  Plane bicubic[3];
  BicubicOnGrid(frames[0], grid, bicubic);
  for (size_t c = 0; c < 3; ++c) {
    for (int i = 0; i < grid.height; ++i) {
      for (int j = 0; j < grid.width; ++j) {
        ASSERT_EQ(estimate.channels[c].Row(i)[j], bicubic[c].At(j, i)) << "channel " << c << " at " << j << ", " << i;
      }
    }
  }

  // Frames that do agree: the estimate is kept, measured over every tile's held-out frames.
  EnhancedOutcome kept;
  EnhancedReconstructTiled(seq.frames, seq.homographies, grid, settings, 80, estimate, kept, EnhancedProgress(),
                           EnhancedPicture());
  EXPECT_FALSE(kept.fellBack) << kept.reason;
  EXPECT_GT(kept.heldOutWeight, 0.0);
  EXPECT_LT(kept.heldOutError, kept.bicubicError);
}

TEST(EnhancedTilesTest, TheMiddleTileChoosesThePsfForAll) {
  // A camera sharper than the stated PSF: the middle tile narrows it, and every tile must
  // be solved with that one, or the tiles differ by their rims.
  const SyntheticSequence seq = SmallSequence("chart", 8, 3, 0.3, 0.5);
  const HrGeometry grid = MakeHrGeometry(seq.params.roi, seq.params.scale);
  EnhancedSettings settings;
  settings.maxIterations = 20;
  const auto run = [&](const EnhancedSettings& s, int tileSide, EnhancedOutcome& outcome) {
    ColorDoubleImage estimate;
    EnhancedReconstructTiled(seq.frames, seq.homographies, grid, s, tileSide, estimate, outcome, EnhancedProgress(),
                             EnhancedPicture());
    ColorGrayImage gray;
    ConvertToGray(estimate, gray);
    return gray;
  };
  EnhancedOutcome tiledOutcome;
  const ColorGrayImage tiled = run(settings, 80, tiledOutcome);  // 2 x 2 tiles of the 160 x 160 grid
  ASSERT_LT(tiledOutcome.psfSigma, settings.psfSigma);
  ASSERT_GE(tiledOutcome.psfTrials.size(), 2u);
  EXPECT_EQ(tiledOutcome.psfTrials[0].sigma, settings.psfSigma);
  // The whole grid solved at once through the PSF the tiles chose, with their prior.
  EnhancedSettings chosen = settings;
  chosen.psfSigma = tiledOutcome.psfSigma;
  chosen.lambda = tiledOutcome.lambda;
  chosen.checkPsf = false;
  EnhancedOutcome wholeOutcome;
  const ColorGrayImage whole = run(chosen, grid.width, wholeOutcome);
  // Tiles of this chart through one PSF stay within 0.2 dB of it and above 22 dB from it;
  // with the other tiles through the stated PSF they fall 15-18 dB from it.
  EXPECT_NEAR(Psnr(tiled, seq.truth), Psnr(whole, seq.truth), 0.5);
  EXPECT_GT(Psnr(tiled, whole), 22.0);
}

TEST(EnhancedTilesTest, TheTileSideFollowsTheBudget) {
  const HrGeometry grid = MakeHrGeometry(RoiRect{16, 16, 1264, 704}, 4.0);
  const int taps = PsfKernelSize(0.6, 4.0);
  EXPECT_EQ(EnhancedTileSide(grid, taps, EnhancedSolveBytes(grid, taps)), grid.width);  // fits whole
  const size_t budget = size_t{900} << 20;
  const int side = EnhancedTileSide(grid, taps, budget);
  ASSERT_GT(side, 64);
  ASSERT_LT(side, grid.height);
  HrGeometry tile = grid;
  tile.width = side + 2 * kEnhancedTileOverlap;
  tile.height = side + 2 * kEnhancedTileOverlap;
  EXPECT_LE(EnhancedSolveBytes(tile, taps), budget);
  EXPECT_EQ(EnhancedTileSide(grid, taps, size_t{1} << 20), 0);  // not even the smallest tile
}

}  // namespace
}  // namespace lumet
