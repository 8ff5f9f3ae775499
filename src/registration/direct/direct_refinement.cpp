#include "registration/direct/direct_refinement.h"

#include <cmath>
#include <string>

#include "registration/direct/direct_alignment.h"
#include "registration/homography_search.h"
#include "registration/search_sizes.h"
#include "util/text_format.h"

namespace lumet {

double RefineDirectly(const GrayImage& reference, const GrayImage& frame, Matrix& h, double e1, double e2, int k,
                      const RegistrationOptions& p, std::string& log) {
  const RoiRect roi = reference.Width() == frame.Width() && reference.Height() == frame.Height() ? p.roi : RoiRect{};
  return RefineDirectly(reference, AlignmentPyramid(reference, roi), frame, h, e1, e2, k, p, log);
}

double RefineDirectly(const GrayImage& reference, const AlignmentPyramid& referencePyramid, const GrayImage& image,
                      Matrix& h, double e1, double e2, int k, const RegistrationOptions& p, std::string& log) {
  const bool searched = !(e1 == kTooFewPairs || e1 == kNoTrialAccepted || !std::isfinite(e2));
  // The frame's pyramid serves both starts and the search between them.
  const AlignmentPyramid frame(image, referencePyramid.Width() == image.Width() &&
                                              referencePyramid.Height() == image.Height() ? p.roi : RoiRect{});
  Matrix best = h;
  AlignmentResult bestResult = AlignDirect(referencePyramid, frame, best, p.roi);
  bool fromDirectSearch = false;
  if (!searched) {
    // The classic estimate is only the identity with its linear part refined: a direct
    // search offers a second start, and the better end of the two is kept.
    Matrix other = CoarseTranslationSearch(referencePyramid, frame, p.roi, p.searchArea);
    const AlignmentResult otherResult = AlignDirect(referencePyramid, frame, other, p.roi);
    const double bestEnd = bestResult.diverged ? bestResult.startError : bestResult.error;
    const double otherEnd = otherResult.diverged ? otherResult.startError : otherResult.error;
    if (!(otherEnd >= bestEnd)) {
      best = other;
      bestResult = otherResult;
      fromDirectSearch = true;
    }
    log += Format("Frame %d: no homography search, started from %s\r\n", k,
                  fromDirectSearch ? "a direct search" : "the refined identity");
  }
  if (bestResult.diverged) {
    log += Format("Frame %d: direct refinement diverged (%s->%s), the start is kept\r\n", k,
                  FormatG6(bestResult.startError).c_str(), FormatG6(bestResult.error).c_str());
  }
  h = best;
  return RoiMae(reference, image, h, p.roi);
}

}  // namespace lumet
