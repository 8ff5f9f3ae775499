#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "reconstruction/enhanced/edge_psf.h"
#include "reconstruction/enhanced/psf_steps.h"

// The PSF check's choice from its trials: the steps of psf_steps.h in their order, frame 0's
// edges and the refinement between trials. A header of templates over the trial (sigma ->
// TrialErrors, recording each sigma in trials) so that tests can run it on tables of errors.

namespace lumet {

// The held-out frames favour a PSF about a step narrower than the camera's where aliasing
// or compression put detail into them; frame 0's edges, which no other frame sways, read
// the blur. A choice below their reading over kEdgeBelow is raised to it, unless the
// frames refuse the width as the widening steps do: a trial between the two, or one at the
// reading, that predicts the scoring frames worse than the choice by more than kWiderSlack
// times the noise (a scene whose own edges are soft reads wider than the camera's blur).
template <typename Trial>
double RaiseToEdges(double chosen, const EdgePsfReading& edges, double widest, double noise,
                    const std::vector<PsfTrial>& trials, const Trial& trial) {
  if (!edges.Found()) return chosen;
  const double floor = std::min(edges.sigma / kEdgeBelow, widest);
  if (!(floor > chosen)) return chosen;
  double chosenScore = std::numeric_limits<double>::quiet_NaN();
  for (const PsfTrial& t : trials) {
    if (t.sigma == chosen) chosenScore = t.heldOutError;
  }
  const double refused = chosenScore + kWiderSlack * noise;
  for (const PsfTrial& t : trials) {
    if (t.sigma > chosen && t.sigma <= floor && !(t.heldOutError <= refused)) return chosen;
  }
  return trial(floor).score <= refused ? floor : chosen;
}

// From fewer frames than the HR grid has pixels per LR pixel (scale squared) some sub-pixel
// phases go unsampled, and the held-out frames are predicted best by an estimate that only
// interpolates its frames, through a PSF narrower than the camera's: real chart footage at
// x4, blurred 0.49 LR px, 7-frame windows, each narrower step predicted better down to the
// pixel's box, while frame 0's edges read 0.48 to 0.50. There the choice is raised to their
// reading over kEdgeBelow (within widest) whether the held-out frames refuse it or not, and
// whether the frames look compressed or not (a heavy blur leaves blocks as smooth as a
// codec's): those windows gain 1.0 to 1.7 dB.
inline double RaiseToEdgesFromFewFrames(double chosen, const EdgePsfReading& edges, size_t frames, double scale,
                                        double widest) {
  if (!edges.Found() || edges.sigma < kNarrowestPsf || !(static_cast<double>(frames) < scale * scale)) return chosen;
  return std::max(chosen, std::min(edges.sigma / kEdgeBelow, widest));
}

// RefinePsf around the chosen width, between the nearest trials on either side of it.
template <typename Trial>
double RefineBetweenTrials(double chosen, const std::vector<PsfTrial>& trials, const Trial& trial) {
  const double none = std::numeric_limits<double>::quiet_NaN();
  ScoredPsf below{none, none};
  ScoredPsf at{chosen, none};
  ScoredPsf above{none, none};
  for (const PsfTrial& t : trials) {
    if (!std::isfinite(t.heldOutError)) continue;
    if (t.sigma == chosen) at.score = t.heldOutError;
    if (t.sigma < chosen && !(t.sigma <= below.sigma)) below = {t.sigma, t.heldOutError};
    if (t.sigma > chosen && !(t.sigma >= above.sigma)) above = {t.sigma, t.heldOutError};
  }
  return RefinePsf(below, at, above, trial);
}

// The PSF check's steps from the stated width, given a trial (sigma -> TrialErrors, which
// records each sigma in trials): wider, else narrower, raised to frame 0's edges, and a
// width chosen wider refined between its neighbouring trials. borrowed: the crop's fits
// have one scoring frame only.
template <typename Trial>
double ChooseBySteps(double stated, double noise, bool compressed, bool borrowed, const EdgePsfReading& edges,
                     const std::vector<PsfTrial>& trials, const Trial& trial) {
  const TrialErrors statedErrors = trial(stated);
  if (!std::isfinite(statedErrors.score) || !std::isfinite(statedErrors.stop)) return stated;
  double chosen = stated;
  double firstWider = 0;
  if (borrowed) {
    // One scoring frame, and fits capped at a few iterations (which favour a wider PSF, the
    // faster to converge): it may narrow a PSF stated too wide, never widen one.
    firstWider = trial(std::min(kWiderPsf * stated, kMaxTrialPsf)).score;
  } else {
    chosen = WidenPsf(stated, statedErrors, noise, compressed, trial, firstWider);
  }
  const double edgesAbove = edges.Found() && edges.sigma >= kNarrowestPsf ? edges.sigma * kEdgeAbove
                                                                          : std::numeric_limits<double>::infinity();
  if (!(chosen > stated)) {
    chosen = compressed && !std::isfinite(edgesAbove)
                 ? NarrowCompressed(stated, statedErrors, firstWider, noise, borrowed, trial)
                 : NarrowPsf(stated, statedErrors.score, firstWider, noise, trial, edgesAbove);
  }
  // A codec softens frame 0's edges as it does every frame's: there they read wider than the
  // camera (a texture through H.264 whose blur is 0.6 read 0.75, and raised to 0.68 it lost
  // 1.1 dB, below bicubic), and bound the choice from above only (ChoosePsf).
  const double raised = compressed ? chosen : RaiseToEdges(chosen, edges, WidestPsfTrial(stated), noise, trials, trial);
  // A width the frames chose wider than stated, and frame 0's edges did not move, lies
  // between the trials around it. So does a narrower one where the frames do not look
  // compressed: on photos from sharp cameras the steps straddle the blur (0.45 and 0.34
  // predict alike for 0.35, and lie 5 dB apart against the truth), and so they do where the
  // edges read it but left the choice alone (a drifting clip's 0.45, edges 0.40, blur
  // 0.29: 1.9 dB more through the width between). Stated or compressed choices are left as
  // they are: there compression tilts the held-out frames' errors towards the narrower side.
  const bool refineNarrower = chosen < stated && !compressed;
  if (raised != chosen || !(chosen > stated || refineNarrower)) return raised;
  return RefineBetweenTrials(chosen, trials, trial);
}

}  // namespace lumet
