#pragma once

#include <memory>
#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "numeric/random.h"
#include "registration/block_matching.h"
#include "registration/feature_point.h"
#include "registration/registration_options.h"
#include "registration/search_sizes.h"

namespace lumet {

// The registration of one frame against frame 0 (the reference): corner points near the
// ROI, paired by block matching with the reference's, a homography search over the pairs
// and its refinement on the ROI's pixels. RegisterFrame does it all; the three steps are
// there for a caller that runs many frames at once, each step of a batch in parallel, and
// hands each search the generator where the previous frame's search would leave it.

// What a registration strategy builds of the reference for its own step (its own type).
struct StrategyReference {
  virtual ~StrategyReference() = default;
};

// Frame 0's green channel (kept by reference: it must outlive the registrations) and its
// corner points near the ROI, found once for every frame.
struct RegistrationReference {
  const GrayImage* green = nullptr;
  std::vector<FeaturePoint> points;
  // What the options' strategy prepared of it (RegistrationStrategy::Prepare; the
  // registration stage fills it).
  std::shared_ptr<const StrategyReference> prepared;
};

// The reference's corner points are found with filters built from the filter sigma rounded
// to single precision (the frames' from the sigma itself).
RegistrationReference PrepareReference(const GrayImage& green, const RegistrationOptions& options);

struct FrameRegistration {
  std::vector<FeaturePoint> points;  // the frame's corner points near the ROI
  MatchedPairs pairs;                // reference point a[j] paired with frame point b[j]
  SearchSizes sizes;                 // not Searchable(): too few pairs, no search ran
  Matrix h;                          // reference positions to frame positions
  double e1 = kTooFewPairs;          // RoiMae after the search (kTooFewPairs, kNoTrialAccepted)
  double e2 = 0.0;                   // RoiMae after the refinement
  std::string refinementLog;         // the refinement's steps, as steet_rms.txt holds them
};

// Step 1 (needs no reference): the frame's corner points near the ROI.
void DetectFramePoints(const GrayImage& frame, const RegistrationOptions& options, FrameRegistration& out);
// Step 2: the points paired with the reference's, and the search sizes the pairs allow.
void PairFramePoints(const RegistrationReference& reference, const GrayImage& frame,
                     const RegistrationOptions& options, FrameRegistration& out);
// Step 3: the search drawing from `random` when the sizes allow one (the identity
// otherwise, or when no trial is accepted), then the refinement.
void FitFrame(const RegistrationReference& reference, const GrayImage& frame, const RegistrationOptions& options,
              LcgRandom random, FrameRegistration& out);

// The three steps; random moves on by the draws of the search (none when it did not run).
FrameRegistration RegisterFrame(const RegistrationReference& reference, const GrayImage& frame,
                                const RegistrationOptions& options, LcgRandom& random);

}  // namespace lumet
