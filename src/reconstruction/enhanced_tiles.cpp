#include "reconstruction/enhanced_tiles.h"

#include <algorithm>
#include <cmath>

#include "reconstruction/enhanced_reconstruction.h"

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
  const HrGeometry grown = ExtendGeometry(grid, EnhancedMargin(psfTaps));
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

void EnhancedReconstructTiled(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                              const HrGeometry& roiGrid, const EnhancedSettings& settings, int tileSide,
                              ColorDoubleImage& result, EnhancedOutcome& outcome, const EnhancedProgress& progress,
                              const EnhancedPicture& picture) {
  if (tileSide >= roiGrid.width && tileSide >= roiGrid.height) {
    EnhancedReconstruct(frames, homographies, roiGrid, settings, result, outcome, progress, picture);
    return;
  }
  for (auto& channel : result.channels) channel.Create(roiGrid.width, roiGrid.height);
  outcome = EnhancedOutcome{};
  bool first = true;
  for (const Span& rows : Spans(roiGrid.height, tileSide)) {
    for (const Span& columns : Spans(roiGrid.width, tileSide)) {
      HrGeometry tile = roiGrid;
      tile.x0 = roiGrid.x0 + columns.solvedLo;
      tile.y0 = roiGrid.y0 + rows.solvedLo;
      tile.width = columns.solvedHi - columns.solvedLo;
      tile.height = rows.solvedHi - rows.solvedLo;
      ColorDoubleImage part;
      EnhancedOutcome partOutcome;
      EnhancedReconstruct(frames, homographies, tile, settings, part, partOutcome, progress, EnhancedPicture());
      for (size_t c = 0; c < 3; ++c) {
        for (int r = rows.lo; r < rows.hi; ++r) {
          const double* in = part.channels[c].Row(r - rows.solvedLo) + (columns.lo - columns.solvedLo);
          std::copy(in, in + (columns.hi - columns.lo), result.channels[c].Row(r) + columns.lo);
        }
      }
      outcome.iterations += partOutcome.iterations;
      if (first) {
        outcome.residuals = partOutcome.residuals;
        outcome.weights = partOutcome.weights;
        outcome.framesUsed = partOutcome.framesUsed;
      }
      outcome.framesUsed = std::min(outcome.framesUsed, partOutcome.framesUsed);
      first = false;
    }
  }
}

}  // namespace lumet
