#include "reconstruction/enhanced/tiles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "reconstruction/enhanced/forward_model.h"
#include "reconstruction/enhanced/weights.h"

namespace lumet {

namespace {

// A tile's kept part [lo, hi) along one side of n pixels, and its solved part grown by the
// overlap within 0 .. n.
struct Span {
  int lo, hi, solvedLo, solvedHi;
};

std::vector<Span> Spans(int n, int side) {
  std::vector<Span> spans;
  const int count = std::max(1, (n + side - 1) / side);
  for (int t = 0; t < count; ++t) {
    // Even parts, so that no tile is a sliver.
    const int lo = static_cast<int>(static_cast<long>(n) * t / count);
    const int hi = static_cast<int>(static_cast<long>(n) * (t + 1) / count);
    spans.push_back({lo, hi, std::max(0, lo - kEnhancedTileOverlap), std::min(n, hi + kEnhancedTileOverlap)});
  }
  return spans;
}

}  // namespace

size_t EnhancedSolveBytes(const HrGeometry& grid, int psfTaps) {
  const HrGeometry grown = ExtendGeometry(grid, EnhancedMargin(psfTaps, grid.scale));
  return kEnhancedBytesPerPixel * static_cast<size_t>(grown.width) * static_cast<size_t>(grown.height);
}

int EnhancedTileSide(const HrGeometry& grid, int psfTaps, size_t budget) {
  if (EnhancedSolveBytes(grid, psfTaps) <= budget) return std::max(grid.width, grid.height);
  int side = std::max(grid.width, grid.height);
  while (side > kEnhancedSmallestTile) {
    side = std::max(kEnhancedSmallestTile, side * 3 / 4);
    HrGeometry tile = grid;
    tile.width = std::min(grid.width, side + 2 * kEnhancedTileOverlap);
    tile.height = std::min(grid.height, side + 2 * kEnhancedTileOverlap);
    if (EnhancedSolveBytes(tile, psfTaps) <= budget) return side;
  }
  return 0;
}

namespace {

// The tiles' outcomes summed into one for the whole grid: the agreement shares over every
// tile's observations of each frame, the held-out errors over every tile's held-out
// observations; per frame residuals, weights, the noise and the PSF are the first tile's
// (the middle one).
class TileOutcomes {
 public:
  explicit TileOutcomes(EnhancedOutcome& total) : total_(total) { total_ = EnhancedOutcome{}; }

  void Add(const EnhancedOutcome& part) {
    if (first_) {
      total_.residuals = part.residuals;
      total_.weights = part.weights;
      total_.heldOut = part.heldOut;
      total_.brightnessMatched = part.brightnessMatched;
      total_.noise = part.noise;
      total_.framesUsed = part.framesUsed;
      total_.psfSigma = part.psfSigma;
      total_.lambda = part.lambda;
      total_.priorShare = part.priorShare;
      total_.psfTrials = part.psfTrials;
      total_.edgePsf = part.edgePsf;
      agreeSum_.assign(part.agreement.size(), 0.0);
      total_.observations.assign(part.agreement.size(), 0);
      first_ = false;
    }
    total_.iterations += part.iterations;
    total_.framesUsed = std::min(total_.framesUsed, part.framesUsed);
    for (size_t k = 0; k < agreeSum_.size() && k < part.agreement.size() && k < part.observations.size(); ++k) {
      if (!std::isfinite(part.agreement[k])) continue;
      agreeSum_[k] += part.agreement[k] * static_cast<double>(part.observations[k]);
      total_.observations[k] += part.observations[k];
    }
    if (part.heldOutWeight > 0.0 && std::isfinite(part.heldOutError) && std::isfinite(part.bicubicError)) {
      heldOut_ += part.heldOutError * part.heldOutWeight;
      bicubic_ += part.bicubicError * part.heldOutWeight;
      total_.heldOutWeight += part.heldOutWeight;
    }
  }

  // The sums as means, and (decide) the one decision for the whole grid.
  void Finish(bool decide) {
    total_.agreement.assign(agreeSum_.size(), std::numeric_limits<double>::quiet_NaN());
    for (size_t k = 0; k < agreeSum_.size(); ++k) {
      if (total_.observations[k] > 0) total_.agreement[k] = agreeSum_[k] / static_cast<double>(total_.observations[k]);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    total_.heldOutError = total_.heldOutWeight > 0.0 ? heldOut_ / total_.heldOutWeight : nan;
    total_.bicubicError = total_.heldOutWeight > 0.0 ? bicubic_ / total_.heldOutWeight : nan;
    if (decide) DecideFallback(total_);
  }

 private:
  EnhancedOutcome& total_;
  bool first_ = true;
  std::vector<double> agreeSum_;
  double heldOut_ = 0.0;
  double bicubic_ = 0.0;
};

}  // namespace

void EnhancedReconstructTiled(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                              const HrGeometry& roiGrid, const EnhancedSettings& settings, int tileSide,
                              ColorDoubleImage& result, EnhancedOutcome& outcome, const EnhancedProgress& progress,
                              const EnhancedPicture& picture) {
  if (tileSide >= roiGrid.width && tileSide >= roiGrid.height) {
    EnhancedReconstruct(frames, homographies, roiGrid, settings, result, outcome, progress, picture);
    return;
  }
  result.Create(roiGrid.width, roiGrid.height);
  result.mask.Fill(0);
  // The tiles only measure; whether frame 0 enlarged replaces the estimate is decided once,
  // for the whole grid, so that the result is never a patchwork of the two.
  EnhancedSettings tileSettings = settings;
  tileSettings.decideFallback = false;
  TileOutcomes totals(outcome);
  // The middle tile first: it chooses the PSF for all of them (kNarrowerPsf), so that no seam
  // shows between two, from the part of the ROI the user looks at.
  std::vector<std::pair<Span, Span>> tiles;
  for (const Span& rows : Spans(roiGrid.height, tileSide)) {
    for (const Span& columns : Spans(roiGrid.width, tileSide)) tiles.emplace_back(rows, columns);
  }
  const auto middle = tiles.begin() + static_cast<long>(tiles.size() / 2);
  std::rotate(tiles.begin(), middle, middle + 1);
  for (const auto& [rows, columns] : tiles) {
    HrGeometry tile = roiGrid;
    tile.x0 = roiGrid.x0 + columns.solvedLo;
    tile.y0 = roiGrid.y0 + rows.solvedLo;
    tile.width = columns.solvedHi - columns.solvedLo;
    tile.height = rows.solvedHi - rows.solvedLo;
    ColorDoubleImage part;
    EnhancedOutcome partOutcome;
    EnhancedReconstruct(frames, homographies, tile, tileSettings, part, partOutcome, progress, EnhancedPicture());
    for (size_t c = 0; c < 3; ++c) {
      for (int r = rows.lo; r < rows.hi; ++r) {
        const double* in = part.channels[c].Row(r - rows.solvedLo) + (columns.lo - columns.solvedLo);
        std::copy(in, in + (columns.hi - columns.lo), result.channels[c].Row(r) + columns.lo);
      }
    }
    totals.Add(partOutcome);
    tileSettings.psfSigma = partOutcome.psfSigma;
    tileSettings.lambda = partOutcome.lambda;
    tileSettings.checkPsf = false;
  }
  totals.Finish(settings.decideFallback);
  if (!outcome.fellBack) return;
  Plane bicubic[3];
  BicubicOnGrid(frames[0], roiGrid, bicubic, EnhancedDepth(frames));
  for (size_t c = 0; c < 3; ++c) {
    for (int i = 0; i < roiGrid.height; ++i) {
      std::copy(&bicubic[c].v[static_cast<size_t>(i) * roiGrid.width],
                &bicubic[c].v[static_cast<size_t>(i + 1) * roiGrid.width], result.channels[c].Row(i));
    }
  }
}

}  // namespace lumet
