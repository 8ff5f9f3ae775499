#pragma once

#include <cstddef>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/enhanced/solver.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// The enhanced method on a grid too large for memory: overlapping tiles of the HR grid,
// each solved on its own (EnhancedReconstruct on the tile grown by the overlap, within the
// ROI's grid), of which each keeps its inner part. The overlap keeps the seams from
// showing: a tile's border pixels, which see only part of their neighbourhood through the
// PSF and the prior, are solved but not kept.

// Bytes EnhancedReconstruct holds per pixel of the grid it is given (its own margin
// included), measured on whole-frame jobs: the observation model's rows and weights, the
// three planes, the quasi-Newton history and the median start, and the two luma planes a
// check of the PSF (kNarrowerPsf) keeps beside its second solve.
inline constexpr size_t kEnhancedBytesPerPixel = 416;
// The most one solve holds, whatever the memory limit allows: a larger grid is solved in
// tiles. Beyond it a whole grid's planes gain nothing from being solved at once (they are far
// past the caches either way), and its peak would outgrow a desktop's memory: a whole
// 1280 x 720 frame at x4 untiled needs some 6.5 GB.
inline constexpr size_t kEnhancedSolveBudget = size_t{1} << 30;
// HR pixels solved beyond each side of a tile's kept part.
inline constexpr int kEnhancedTileOverlap = 48;
// The smallest kept part a tile is given.
inline constexpr int kEnhancedSmallestTile = 64;

// Peak bytes of EnhancedReconstruct on grid (one tile or the whole grid).
size_t EnhancedSolveBytes(const HrGeometry& grid, int psfTaps);

// The side of the square tiles (kept part) whose solve fits budget bytes; the whole
// grid's larger side when all of it fits; 0 when not even the smallest tile fits.
int EnhancedTileSide(const HrGeometry& grid, int psfTaps, size_t budget);

// EnhancedReconstruct in tiles of tileSide x tileSide (kept part), the middle tile first,
// then row by row. With one tile it is EnhancedReconstruct itself. The outcome is the
// middle tile's residuals, weights, noise, PSF and lambda (which every tile is solved with,
// see kNarrowerPsf), the iterations of all tiles, the fewest frames any tile used, and the
// agreement shares and held-out errors over all tiles' observations; from those the
// estimate is kept or replaced by frame 0 enlarged once, for the whole grid (never tile by
// tile). The progress restarts with every tile; pictures are shown for a single tile only.
void EnhancedReconstructTiled(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                              const HrGeometry& roiGrid, const EnhancedSettings& settings, int tileSide,
                              ColorDoubleImage& result, EnhancedOutcome& outcome, const EnhancedProgress& progress,
                              const EnhancedPicture& picture);

}  // namespace lumet
