#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "reconstruction/enhanced/edge_psf.h"
#include "reconstruction/reconstruction_options.h"

namespace lumet {

// One trial of the PSF check: the width fitted, the scoring frames' error through it, the
// fit's iterations.
struct PsfTrial {
  double sigma;
  double heldOutError;
  int iterations;
  double priorShare = 1.0;  // the lambda of the fit, as a share of the stated one's
};

// Where frame 0's edges read the blur (EdgePsfReading), the sigma chosen is raised to their
// reading over kEdgeBelow where the held-out frames do not refuse it, and kept below it
// times kEdgeAbove: held-out frames that aliasing or compression make favour a narrow PSF
// cannot take it far below what the edges show, nor keep a stated one far wider. (Frames
// that look compressed are not raised: the codec softens the edges too, ChooseBySteps.) Measured
// on synthetic sequences with truth (bench/broken/psf_check.sh, true sigma 0.3 to 1.0,
// stated right and wrong): the edges of busy charts read about 8 % narrow and those of
// textures up to 7 % wide, but a scene's own soft edges read wider still (a drifting photo
// whose blur is 0.67 reads 0.82), and a PSF too wide costs far more than one too narrow
// (0.78 instead of 0.75 there loses 0.66 dB): so the floor lies a tenth below the reading.
inline constexpr double kEdgeBelow = 1.10;
inline constexpr double kEdgeAbove = 1.15;

// The PSF check's steps and margins (the check itself: solver.h, EnhancedReconstruct).
inline constexpr double kWiderPsf = 1.25;
inline constexpr int kWiderTrials = 3;
inline constexpr double kWiderSlack = 0.01;
// How much worse than the best so far a wider step may predict the scoring frames, as a
// share of the noise, and still be taken: half the stopping frames' slack (kWiderSlack),
// which steer the fits and read noisier. With the larger one, noisy frames (sigma 4) let
// the choice walk two steps past the camera's blur on steps a little worse each time.
inline constexpr double kWiderScoreSlack = 0.005;
// A width between two trials is tried only when it is at least this share away from the
// choice.
inline constexpr double kLeastPsfRefinement = 0.03;
inline constexpr double kWiderRefusal = 0.03;
inline constexpr double kMaxTrialPsf = ReconstructionOptions::kMaxPsfSigma;
inline constexpr double kNarrowerPsf = 0.75;
inline constexpr double kPsfGain = 0.1;
// Where frame 0's edges read nothing, a narrower step also counts as clearly better when it
// gains this share of the error, and one that gains half of it is halved (NarrowPsf).
inline constexpr double kPsfGainShare = 0.02;
inline constexpr double kNarrowestPsf = kPixelBoxSigma;
inline constexpr double kLeastPsfStep = 0.9;

// How far a fit through a PSF of sigma, narrower than `wider`, may strengthen the prior:
// the square of how much more of the finest LR detail (half a cycle a pixel) that PSF
// passes, exp(-pi^2 (sigma^2 - wider^2)); 1 when sigma is not narrower. Through the
// narrower PSF the data term fits more of the frames' noise, and the held-out frames then
// favour a wider PSF whose estimate rims every edge: a sharp camera's noisy frames (sigma
// 0.29 LR px, noise 2) kept 0.45 at 27.5 dB, bicubic 32.4, through 0.35 with the prior so
// strengthened 38.4.
inline double NarrowerPsfPriorShare(double sigma, double wider) {
  constexpr double kPi = 3.14159265358979323846;
  return sigma < wider ? std::exp(-kPi * kPi * (sigma * sigma - wider * wider)) : 1.0;
}
// The PSF sigma the default lambda was measured at (the default PSF): the PSF check's fits
// through narrower ones also try the prior strengthened from it, a stated one among them (a
// camera stated sharp, told the default lambda, had its PSF widened by the check until the
// estimate rimmed the edges: 26.9 dB against bicubic's 30.2 where 0.3 was right).
inline constexpr double kPriorReferencePsf = 0.6;
// A strengthened prior is tried only from this share up.
inline constexpr double kLeastPriorShare = 1.5;
// Frames few enough that a PSF the check narrowed is solved with a strengthened prior,
// whichever fit the held-out frames preferred (as many as a video's PSF is checked on).
inline constexpr size_t kFewFrames = 9;
// That prior's share: NarrowerPsfPriorShare to this power. Video windows of five frames at x2,
// through the plain prior / this / the full share: a noise-free drifting clip 35.75 / 36.62 /
// 37.11 dB (bicubic 32.95); six clips of a photo, mean +0 / +0.59 / +0.33 dB on the plain
// prior's, the worst -0.58 / -1.14 (noise 1 to 4, blur 0 to 0.5); a real clip blurred and
// decimated at x4, 22.01 / 22.31 / 22.27 (bicubic 20.36).
inline constexpr double kFewFramesPriorPower = 0.75;
inline double FewFramesPriorShare(double sigma) {
  return std::pow(NarrowerPsfPriorShare(sigma, kPriorReferencePsf), kFewFramesPriorPower);
}

// The widest PSF sigma the check may try from a stated sigma (its margin bounds what a run
// with the check reads around the ROI).
inline double WidestPsfTrial(double sigma) {
  double widest = sigma;
  for (int i = 0; i < kWiderTrials; ++i) widest = std::min(kWiderPsf * widest, kMaxTrialPsf);
  return std::max(widest, sigma);
}

// The next narrower trial after chosen: kNarrowerPsf times it, not below kNarrowestPsf; not
// a number when that is less than a step (kLeastPsfStep) away.
inline double NextNarrowerPsf(double chosen) {
  const double next = std::max(kNarrowerPsf * chosen, kNarrowestPsf);
  return next > kLeastPsfStep * chosen ? std::numeric_limits<double>::quiet_NaN() : next;
}

// The PSF check's steps (kWiderPsf, kNarrowerPsf), given a trial: sigma -> TrialErrors, the
// luma solve of the check's crop through that PSF and its errors.

// A PSF trial's error on the frames that stopped its fit and on those that score it.
struct TrialErrors {
  double stop;
  double score;
  // The fit took a prior stronger than the stated one (NarrowerPsfPriorShare).
  bool strongerPrior = false;
};

// Wider while both halves of the held-out frames are predicted about as well as by the
// best so far, kept only when a still wider one is refused: frames that refuse none (a
// smooth scene) cannot tell a PSF at all. Compressed frames, which a wider PSF predicts
// about as well (they lost their finest detail) and whose artefacts it would sharpen, widen
// only by steps that predict the scoring frames clearly better (by kPsfGain times the
// noise), as far as those go. Returns the sigma kept (stated: none) and the first wider
// trial's score.
template <typename Trial>
double WidenPsf(double stated, const TrialErrors& statedErrors, double noise, bool compressed, const Trial& trial,
                double& firstWider) {
  const double slack = kWiderSlack * noise;
  const double allowed = compressed ? -kPsfGain * noise : kWiderScoreSlack * noise;
  TrialErrors best = statedErrors;
  double widened = stated;
  firstWider = std::numeric_limits<double>::infinity();
  for (int i = 0; i < kWiderTrials; ++i) {
    const double next = std::min(kWiderPsf * widened, kMaxTrialPsf);
    if (next * kLeastPsfStep < widened) break;
    const TrialErrors e = trial(next);
    if (i == 0) firstWider = e.score;
    if (!(e.score <= best.score + allowed && e.stop <= best.stop + slack)) {
      if (compressed) return widened;
      // Refused clearly, or the frames hardly tell it from the others: then none is kept.
      const bool refused = std::max(e.score - best.score, e.stop - best.stop) > kWiderRefusal * noise;
      return refused ? widened : stated;
    }
    widened = next;
    best = {std::min(best.stop, e.stop), std::min(best.score, e.score)};
  }
  return stated;
}

// Narrower only when the first wider one cost more than kPsfGain times the noise (a PSF
// the frames widen that cheaply is not past the camera's blur: a narrower one could gain
// only the drift); then while each step predicts the scoring frames clearly better, or no
// worse while the choice is still wider than frame 0's edges allow (edgesAbove, infinite
// when they read nothing). A PSF stated too wide lets the estimate grow rims that its own
// blur smooths away again, so the frames predict a range of widths about alike: there the
// edges break the tie, and the rims cost several dB against the truth.
//
// Where the edges read nothing, the scene is mostly texture, and the noise, read on the
// check's small crop of it, comes out well above the truth (5.2 grey levels for 2 on a
// photo). A margin of a tenth of that kept a sharp camera's frames (0.29 LR px) at 0.45,
// 4 dB below frame 0 enlarged, while each step narrower predicted them 3-30 % better. So
// there a step that gains kPsfGainShare of the error is clear enough too, and one that
// gains half of it, though not clearly better, is halved: the width between the two (in
// log sigma) is taken when it predicts no worse than the choice (a camera of 0.35 whose
// steps of 0.45 and 0.34 differ by 1.4 %). Steps that gain less are the drift of a PSF
// about right (0.5 % on a texture whose blur is the stated 0.6, where half a step cost
// 2.5 dB).
template <typename Trial>
double NarrowPsf(double stated, double statedScore, double firstWider, double noise, const Trial& trial,
                 double edgesAbove = std::numeric_limits<double>::infinity()) {
  const bool edgesRead = std::isfinite(edgesAbove);
  const auto clearGain = [&](double score) {
    return edgesRead ? kPsfGain * noise : std::min(kPsfGain * noise, kPsfGainShare * score);
  };
  double chosen = stated;
  double chosenScore = statedScore;
  if (!(firstWider > chosenScore + clearGain(chosenScore))) return chosen;
  while (true) {
    const double next = NextNarrowerPsf(chosen);
    if (std::isnan(next)) break;
    const TrialErrors narrower = trial(next);
    const double e = narrower.score;
    const bool clearlyBetter = e < chosenScore - clearGain(chosenScore);
    // Frames predicted as well through the narrower PSF and a smoother estimate (its
    // stronger prior) than through the wider one and its sharper estimate: the simpler
    // explanation wins, as the rims the wider one needs are not in any frame. Not at the
    // first step where the edges read nothing: a tie there says only that the frames
    // cannot tell the stated PSF wrong (a camera blurred 0.58 LR px, stated 0.6, predicted
    // 0.3 % better through 0.45: 1.6 dB lost on every frame of its clip).
    const bool simpler = narrower.strongerPrior && (chosen < stated || edgesRead);
    const bool edgesDecide = (chosen > edgesAbove || simpler) && e <= chosenScore;
    if (!clearlyBetter && !edgesDecide) {
      // Half a clear gain halves the step, with an edge reading too (a drifting clip's
      // 0.3375 predicted 5.5 % better than 0.45, short of the margin; edges 0.39, blur
      // 0.29: 3.8 dB more on its frames through the width between).
      const double half = 0.5 * (edgesRead ? clearGain(chosenScore) : kPsfGainShare * chosenScore);
      if (e < chosenScore - half) {
        const double between = std::sqrt(chosen * next);
        if (trial(between).score <= chosenScore) chosen = between;
      }
      break;
    }
    chosen = next;
    chosenScore = e;
  }
  return chosen;
}

// How much worse than the stated width the first narrower step on compressed frames may
// predict the scoring frames. The share of the later steps, 2 %, kept 0.6 for a video of a
// sharp camera's photo through H.264 (0.29 LR px), 0.45 predicting 5 % worse: its windows
// came out 2.3 dB below bicubic, and 1.1 dB above it through the 0.45 taken now. Later steps
// keep the 2 %: with 6 % the footage of a printed page went on to 0.29, its letters stippled.
inline constexpr double kCompressedNarrowSlack = 0.06;

// Compressed frames without an edge reading: the codec took their finest detail, so every
// frame looks blurrier than the camera made it and the held-out frames favour a PSF too
// wide, through which the estimate sharpens the codec's artefacts into specks (an H.264
// clip of a sharp camera's photo: 19.7 dB through the 0.52 they chose, 21.3 through the
// camera's 0.29, bicubic 21.2). There, once the first wider step is refused as NarrowPsf
// asks, a narrower step is taken unless it predicts the scoring frames clearly worse
// (kPsfGainShare of the best error so far, kCompressedNarrowSlack at the first step, which
// bears the codec's bias towards the stated width). With one scoring frame (pooled) the frames
// that stop the fits count as well, the sum of both errors: one frame alone tells a few
// per cent either way (a window of six: 0.45 predicted it 2.3 % worse than 0.6, and the
// stopping frame 10 % better; 20.1 dB against 16.7, and 22.7 through 0.29).
template <typename Trial>
double NarrowCompressed(double stated, const TrialErrors& statedErrors, double firstWider, double noise, bool pooled,
                        const Trial& trial) {
  const auto error = [pooled](const TrialErrors& e) { return pooled ? e.score + e.stop : e.score; };
  const double clearGain = std::min(kPsfGain * noise, kPsfGainShare * statedErrors.score);
  if (!(firstWider > statedErrors.score + clearGain)) return stated;
  double chosen = stated;
  double best = error(statedErrors);
  while (true) {
    const double next = NextNarrowerPsf(chosen);
    if (std::isnan(next)) break;
    const double e = error(trial(next));
    const double slack = chosen == stated ? kCompressedNarrowSlack : kPsfGainShare;
    if (!(e <= best * (1.0 + slack))) break;
    chosen = next;
    best = std::min(best, e);
  }
  return chosen;
}

// A trial's width and the error it predicts the scoring frames with.
struct ScoredPsf {
  double sigma;
  double score;
};

// The steps are a quarter of the width apart, and through a PSF that far off the blur the
// estimate loses up to a decibel. Where the choice (at) predicts the scoring frames no worse
// than a trial on either side of it, the parabola through the three in log sigma names a
// width between them; it is tried and kept when it predicts them no worse than the choice.
// Returns the width kept.
template <typename Trial>
double RefinePsf(const ScoredPsf& below, const ScoredPsf& at, const ScoredPsf& above, const Trial& trial) {
  if (!(below.sigma < at.sigma && at.sigma < above.sigma)) return at.sigma;
  if (!(at.score <= below.score && at.score <= above.score)) return at.sigma;
  const double x0 = std::log(below.sigma);
  const double x1 = std::log(at.sigma);
  const double x2 = std::log(above.sigma);
  const double a = (x1 - x0) * (at.score - above.score);
  const double b = (x1 - x2) * (at.score - below.score);
  if (!(std::fabs(a - b) > 0.0)) return at.sigma;  // the three alike: nothing to refine
  const double offset = 0.5 * ((x1 - x0) * a - (x1 - x2) * b) / (a - b);
  const double vertex = std::exp(std::clamp(x1 - offset, x0, x2));
  if (std::fabs(vertex / at.sigma - 1.0) < kLeastPsfRefinement) return at.sigma;
  return trial(vertex).score <= at.score ? vertex : at.sigma;
}

}  // namespace lumet
