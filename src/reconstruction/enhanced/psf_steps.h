#pragma once

#include <algorithm>
#include <limits>

#include "reconstruction/reconstruction_options.h"

namespace lumet {

// The PSF check's steps and margins (the check itself: solver.h, EnhancedReconstruct).
inline constexpr double kWiderPsf = 1.25;
inline constexpr int kWiderTrials = 3;
inline constexpr double kWiderSlack = 0.01;
inline constexpr double kWiderRefusal = 0.03;
inline constexpr double kMaxTrialPsf = ReconstructionOptions::kMaxPsfSigma;
inline constexpr double kNarrowerPsf = 0.75;
inline constexpr double kPsfGain = 0.1;
inline constexpr double kNarrowestPsf = 0.288675;
inline constexpr double kLeastPsfStep = 0.9;

// The PSF check's steps (kWiderPsf, kNarrowerPsf), given a trial: sigma -> TrialErrors, the
// luma solve of the check's crop through that PSF and its errors.

// A PSF trial's error on the frames that stopped its fit and on those that score it.
struct TrialErrors {
  double stop;
  double score;
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
  const double allowed = compressed ? -kPsfGain * noise : slack;
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
template <typename Trial>
double NarrowPsf(double stated, double statedScore, double firstWider, double noise, const Trial& trial,
                 double edgesAbove = std::numeric_limits<double>::infinity()) {
  double chosen = stated;
  double chosenScore = statedScore;
  if (!(firstWider > chosenScore + kPsfGain * noise)) return chosen;
  while (true) {
    const double next = std::max(kNarrowerPsf * chosen, kNarrowestPsf);
    if (next > kLeastPsfStep * chosen) break;
    const double e = trial(next).score;
    const bool clearlyBetter = e < chosenScore - kPsfGain * noise;
    const bool edgesDecide = chosen > edgesAbove && e <= chosenScore;
    if (!clearlyBetter && !edgesDecide) break;
    chosen = next;
    chosenScore = e;
  }
  return chosen;
}

}  // namespace lumet
