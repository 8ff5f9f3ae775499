#pragma once

#include <cmath>
#include <limits>

#include "numeric/image_plane.h"
#include "numeric/roi_rect.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// The camera's blur read from the straight edges of one frame, blind: no other frame and no
// estimate take part, so neither aliasing nor compression, which reward a narrow PSF in a
// prediction of other frames, can pull it.
//
// A step edge blurred by a Gaussian of sigma and sampled at the pixel centres is, across
// the edge, a + b * Phi(d / sigma) (Phi the normal distribution function, d the distance
// from the edge): the forward model's own picture of a frame, whose PSF sigma is the whole
// blur between the scene and a pixel's value, the pixel's footprint included (a box pixel
// adds 1/12 LR pixel^2 to the variance). So the sigma read is in LR pixels, as --psf-sigma.
//
// Edge sites: pixels of frame 0's luma (kToLumaChroma's weights) where the Sobel slope is
// at least kEdgeMinSlope and largest along its own direction, taken strongest first, at
// least kEdgeSpacing LR pixels apart; each one's window (kEdgeWindows) with no sample
// clipped at 0 or 255. Each site is fitted alone
// (level, contrast, position, slant, sigma) and kept when its contrast is at least
// kEdgeMinContrast and its rms misfit at most kEdgeMaxMisfit of the contrast (a corner, a
// second edge, texture or a curve in the window misfit it). A slanted edge's rows sample the
// profile at different sub-pixel phases, so even an aliased edge tells its sigma. The sigma
// read is the one that fits every kept site best together (each with its own level,
// contrast, position and slant), their shares of misfit capped at kEdgeMaxMisfit so that
// no one site can pull it; none when fewer than kEdgeMinSites sites are kept.
struct EdgePsfReading {
  double sigma = std::numeric_limits<double>::quiet_NaN();
  // The sites kept, and their rms misfit at sigma as a share of their contrast.
  int edges = 0;
  double misfit = std::numeric_limits<double>::quiet_NaN();
  bool Found() const { return std::isfinite(sigma); }
};

inline constexpr double kEdgeMinSlope = 2.5;  // grey levels per LR pixel
inline constexpr double kEdgeMinContrast = 24.0;
inline constexpr double kEdgeMaxMisfit = 0.08;
// Half sides of the square windows (along and across the edge), smallest first: a reading
// is taken from the first whose sigma leaves kEdgeWindowRoom to spare within
// kEdgeWindowSigmas sigmas of the edge (busy scenes keep more sites in small windows, wide
// blurs need large ones); a site whose own sigma the window does not hold so is a ramp to it.
inline constexpr double kEdgeWindows[] = {3.0, 5.0};
inline constexpr double kEdgeWindowSigmas = 2.5;
inline constexpr double kEdgeWindowRoom = 1.2;
inline constexpr double kEdgeSpacing = 3.0;
inline constexpr int kEdgeMinSites = 16;
// At most this many sites are fitted (the strongest).
inline constexpr int kEdgeMaxSites = 400;
// The sigmas a reading may take.
inline constexpr double kEdgeLeastSigma = 0.15;
inline constexpr double kEdgeMostSigma = 3.0;

// Reads frame's edges within region (LR pixels, clipped to the frame) at depth.
EdgePsfReading ReadEdgePsf(const ColorGrayImage& frame, const RoiRect& region, SampleDepth depth);

// A pixel's own box as a Gaussian's sigma, 1 / sqrt(12) LR pixels: the least blur a camera
// has.
inline constexpr double kPixelBoxSigma = 0.288675;
// Readings from this share of kPixelBoxSigma up to it are the box (AsBlurBound).
inline constexpr double kBoxReadingShare = 0.8;

// A reading as a bound on the camera's blur: one at most kBoxReadingShare below a pixel's
// own box is that box, about which the fit scatters on a camera whose blur is its pixels
// alone (a photo's edges read 0.24-0.25 for 0.29); one further below shows sharpened or
// aliased edges and is left as it is, bounding nothing.
EdgePsfReading AsBlurBound(EdgePsfReading reading);

// The part of frame 0 the edges are read on for a grid: its ROI grown by kEdgeRegionMargin LR
// pixels on every side, to at least kEdgeRegionSide around its centre (a small ROI has few
// edges) and to at most kEdgeRegionMostSide (a large one has enough in its middle), within
// the frame of width x height. (The frames a run holds may have fewer rows: the reading
// takes those it has.)
inline constexpr int kEdgeRegionMargin = 8;
inline constexpr int kEdgeRegionSide = 128;
inline constexpr int kEdgeRegionMostSide = 384;
RoiRect EdgeRegion(const HrGeometry& grid, int width, int height);

}  // namespace lumet
