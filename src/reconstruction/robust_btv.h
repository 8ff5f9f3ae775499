#pragma once

#include <cstdint>
#include <functional>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/median_estimate.h"

namespace lumet {

// Steps per colour band and bands of the robust iteration.
inline constexpr int kBtvStepsPerBand = 100;
inline constexpr int kBtvBands = 3;

// Step size at step t of a band: 20 below 15, 15 below 30, 8 below 60, then 1.
double BtvStepSize(int t);

// Sign of a pixel difference for one shift: +1, -1 or 0.
class SignImage : public ImagePlane<int8_t> {};

// The working images of the iteration, made once for all steps and bands of one run. The
// five sign images start at 0 and are rewritten only in rows 0 .. H - 3 and columns
// 0 .. G - 3, so their last two rows and columns stay 0 throughout.
struct BtvWorkspace {
  explicit BtvWorkspace(const CountImage& count);

  DoubleImage rootCount;  // sqrt of the observation count
  DoubleImage blurred;    // HX: the estimate through the PSF
  DoubleImage gradient;   // g
  DoubleImage carried;    // g through the PSF
  SignImage s10, s01, s20, s11, s02;
};

// One step on one channel: xb -= stepSize * g, where g is the data term
// sign(K * xb - zb) * sqrt(count) carried back through K, plus, for rows and columns
// 2 and beyond, the bilateral-total-variation term: g = ((R2 * alpha + R1) * alpha *
// lambda + g) * beta. Rows and columns 0 and 1 keep the data term alone.
void BtvStep(DoubleImage& xb, const DoubleImage& zb, const FloatMatrix& kernel, int n, double alpha, double beta,
             double lambda, double stepSize, BtvWorkspace& workspace);

// Called before the work of every step with (band, step).
using BtvProgress = std::function<void(int band, int step)>;
// Called with the estimate at steps 0, 10, ..., 90 of every band, before the step's work.
using BtvPicture = std::function<void(const ColorDoubleImage& x)>;

// Refines X channel by channel (red, green, blue), 100 steps each, against the median
// image Z weighted by the observation count. Only channel b changes during band b.
// An exception thrown by a callback (for example a cancellation) ends the iteration.
void RobustBtvIterate(ColorDoubleImage& x, const ColorDoubleImage& z, const CountImage& count,
                      const FloatMatrix& kernel, int n, double alpha, double beta, double lambda,
                      const BtvProgress& progress, const BtvPicture& picture);

}  // namespace lumet
