#include "registration/frame_registration.h"

#include "numeric/projection.h"
#include "registration/homography_refinement.h"
#include "registration/homography_search.h"

namespace lumet {

RegistrationReference PrepareReference(const GrayImage& green, const RegistrationOptions& options) {
  RegistrationReference reference;
  reference.green = &green;
  DoubleImage response;
  reference.points = SelectNearRoi(DetectFeatures(green, response, static_cast<float>(options.filterSigma),
                                                  kHarrisConstant, kSuppressionWindow),
                                   kSelectionLimit, options.roi);
  return reference;
}

void DetectFramePoints(const GrayImage& frame, const RegistrationOptions& options, FrameRegistration& out) {
  DoubleImage response;
  out.points = SelectNearRoi(DetectFeatures(frame, response, options.filterSigma, kHarrisConstant, kSuppressionWindow),
                             kSelectionLimit, options.roi);
}

void PairFramePoints(const RegistrationReference& reference, const GrayImage& frame,
                     const RegistrationOptions& options, FrameRegistration& out) {
  out.pairs = MatchBlocks(*reference.green, frame, reference.points, out.points, options.sadSize, options.searchArea);
  out.sizes = ChooseSearchSizes(options.ransacFirst, options.ransacSecond, static_cast<int>(out.pairs.a.size()));
}

void FitFrame(const RegistrationReference& reference, const GrayImage& frame, const RegistrationOptions& options,
              LcgRandom random, FrameRegistration& out) {
  out.h = IdentityHomography();
  out.e1 = kTooFewPairs;
  if (out.sizes.Searchable()) {
    out.e1 = EstimateHomography(*reference.green, frame, out.pairs.a, out.pairs.b, out.h, out.sizes.sampleSize,
                                kSearchTrials, out.sizes.poolSize, options.roi, random);
  }
  out.e2 = RefineHomography(*reference.green, frame, out.h, options.roi, kRefinementIterations, out.refinementLog);
}

FrameRegistration RegisterFrame(const RegistrationReference& reference, const GrayImage& frame,
                                const RegistrationOptions& options, LcgRandom& random) {
  FrameRegistration out;
  DetectFramePoints(frame, options, out);
  PairFramePoints(reference, frame, options, out);
  const LcgRandom start = random;
  if (out.sizes.Searchable()) SkipSearchDraws(random, kSearchTrials);
  FitFrame(reference, frame, options, start, out);
  return out;
}

}  // namespace lumet
