#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "numeric/convolve.h"
#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/median_estimate.h"
#include "util/scoped_setting.h"

namespace lumet {

// Steps per colour band and bands of the robust iteration.
inline constexpr int kBtvStepsPerBand = 100;
inline constexpr int kBtvBands = 3;

// Step size at step t of a band: 20 below 15, 15 below 30, 8 below 60, then 1.
double BtvStepSize(int t);

// The working images of the iteration, made once for all steps and bands of one run: no
// step allocates. The estimate is kept mirror-padded for the PSF, in two copies, one read
// and one written by a step.
struct BtvWorkspace {
  explicit BtvWorkspace(const CountImage& count);

  // Forgets which image the padded estimate mirrors: the next step copies it in again.
  // Needed before a step on an estimate changed since the last step on it.
  void Reset() { mirrored = nullptr; }

  const CountImage* count = nullptr;  // its square roots weigh the data term, row by row
  MirrorPaddedImage estimate[2];   // the estimate, padded; estimate[current] is up to date
  MirrorPaddedImage boundary;      // the data term's rows around the stripes' boundaries
  MirrorFilter filter;             // the PSF's taps
  int current = 0;
  const DoubleImage* mirrored = nullptr;  // the image estimate[current] holds
};

// One step on one channel: xb -= stepSize * g, where g is the data term
// sign(K * xb - zb) * sqrt(count) carried back through K, plus, for rows and columns
// 2 and beyond, the bilateral-total-variation term: g = ((R2 * alpha + R1) * alpha *
// lambda + g) * beta. Rows and columns 0 and 1 keep the data term alone. R1 and R2 sum
// differences of the signs of x(c, r) - x(c + dx, r + dy) for the shifts (1, 0), (0, 1),
// (2, 0), (1, 1), (0, 2), taken as 0 for c past G - 3 or r past H - 3:
//   R1 = (S01(c, r) - S01(c, r - 1)) + (S10(c, r) - S10(c - 1, r))
//   R2 = (S02(c, r) - S02(c, r - 2)) + (S11(c, r) - S11(c - 1, r - 1)) + (S20(c, r) - S20(c - 2, r))
// The rows go in stripes on the threads of ParallelFor, wide rows in tiles of columns; a
// stripe's tile walks down its rows once, the data term a few rows ahead of the update, so
// that it never leaves the cache. The rows of the data term that two stripes read are made
// once, before. On an estimate far larger than the caches, the update is written past them.
void BtvStep(DoubleImage& xb, const DoubleImage& zb, const FloatMatrix& kernel, int n, double alpha, double beta,
             double lambda, double stepSize, BtvWorkspace& workspace);

// Estimate planes of more than this many bytes have their updates written past the caches
// (the same values; tests lower it to reach that path on small images).
double BtvStreamingBytes();
void SetBtvStreamingBytes(double bytes);
using ScopedBtvStreamingBytes = ScopedSetting<double, BtvStreamingBytes, SetBtvStreamingBytes>;

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

// Band `band` of RobustBtvIterate alone, on its channel xb and median channel zb, without
// pictures: the same values, for a caller that holds one colour band at a time. xb is
// freed while the steps run (the workspace holds the estimate) and holds the result after.
void RobustBtvBand(DoubleImage& xb, const DoubleImage& zb, const CountImage& count, const FloatMatrix& kernel, int n,
                   double alpha, double beta, double lambda, int band, const BtvProgress& progress);

// The bytes the steps on a width x height channel hold beyond the two mirror-padded copies
// of the estimate: the data term's rows around the stripes' boundaries, and a few rows of
// it and scratch per thread.
size_t BtvStepExtraBytes(int width, int height, int n);

}  // namespace lumet
