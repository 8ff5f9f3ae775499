#pragma once

#include <memory>
#include <vector>

#include "numeric/convolve.h"
#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "numeric/random.h"
#include "numeric/roi_rect.h"
#include "numeric/roi_warp.h"
#include "registration/feature_point.h"
#include "registration/scratch_buffer.h"

namespace lumet {

// Score of a search that accepted no trial.
inline constexpr double kNoTrialAccepted = 9999999.9;
// Trials of one search and transpositions between two trials.
inline constexpr int kSearchTrials = 50;
inline constexpr int kShuffleTranspositions = 100;

// Linear least-squares homography (h33 = 1) through the pairs as[i] -> bs[i], from the
// normal equations of the 2U x 8 system in coordinates divided by 600 and multiplied
// through by 600^2, solved with the unpivoted Gauss-Jordan inverse. A degenerate sample
// gives non-finite entries. h is re-allocated to 3 x 3.
void FitHomography(const std::vector<FeaturePoint>& as, const std::vector<FeaturePoint>& bs, Matrix& h);

// The frame sampled bilinearly through h at every ROI pixel (roi.left + c, roi.top + r):
// a ROI-sized plane, 0.0 where the projected position is outside the frame or not a
// number. An empty ROI gives an empty plane.
DoubleImage WarpRoi(const GrayImage& frame, const Matrix& h, const RoiRect& roi);

// Mean absolute difference between the reference over the ROI and the frame warped onto
// it, over the pixels whose warped value is above 0 (summed in row order). Not a number
// when no pixel counts. The ROI must lie inside the reference (lumet::Error otherwise).
double RoiMae(const GrayImage& reference, const GrayImage& frame, const Matrix& h, const RoiRect& roi);

// RoiMae for many homographies of one reference, frame and ROI: the frame is prepared once
// (on AVX-512 and AVX2, a double-valued copy that the warp reads without conversions), and
// ScoreMany scores several homographies in one pass over the ROI, each sum kept apart in
// pixel order. Every score equals RoiMae bit for bit. The images must outlive the scorer,
// which ends on the thread that made it; the ROI must lie inside the reference
// (lumet::Error otherwise).
class RoiScorer {
 public:
  RoiScorer(const GrayImage& reference, const GrayImage& frame, const RoiRect& roi);
  double Score(const Matrix& h) const;
  // out[k] = Score(*hs[k]) for k < count.
  void ScoreMany(const Matrix* const* hs, int count, double* out) const;

 private:
  const GrayImage& reference_;
  const GrayImage& frame_;
  RoiRect roi_;
  const detail::RoiWarpKernels* kernels_ = nullptr;  // nullptr: the scalar warp
  std::unique_ptr<detail::ScratchBuffer> plane_;  // the frame as doubles, when used
  const double* planeData_ = nullptr;
};

// RoiScorer(reference, frame, roi).ScoreMany(hs, count, out).
void RoiMaeMany(const GrayImage& reference, const GrayImage& frame, const Matrix* const* hs, int count,
                const RoiRect& roi, double* out);

// The warp and the sum done pixel by pixel in one plain loop: the oracle of RoiMae.
double RoiMaeDirect(const GrayImage& reference, const GrayImage& frame, const Matrix& h, const RoiRect& roi);

// Runs `trials` trials: trial 0 fits pairs 0 .. U-1, each later one first shuffles the
// pool permutation (0 .. poolSize-1, shuffles accumulating) by 100 transpositions
// perm[r1 % n] <-> perm[r2 % n], r1 then r2 drawn from random, and fits the pairs
// perm[0 .. U-1]. Each fit is scored with RoiMae; the strictly smallest score wins and is
// returned, its homography assigned to h (re-allocated to 3 x 3 if it is not). When no
// trial is accepted the result is kNoTrialAccepted and h keeps its elements. Needs
// 1 <= U <= poolSize <= the number of pairs (lumet::Error otherwise). Trials are scored in
// parallel; the draws and the choice are made in trial order, as in a sequential run.
double EstimateHomography(const GrayImage& reference, const GrayImage& frame, const std::vector<FeaturePoint>& a,
                          const std::vector<FeaturePoint>& b, Matrix& h, int sampleSize, int trials, int poolSize,
                          const RoiRect& roi, LcgRandom& random);

// Moves random on by the draws EstimateHomography takes for `trials` trials, so that the
// searches of several frames can run at once, each from where the one before would end.
void SkipSearchDraws(LcgRandom& random, int trials);

}  // namespace lumet
