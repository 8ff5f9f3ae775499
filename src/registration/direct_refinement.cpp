#include "registration/direct_refinement.h"

#include <cmath>
#include <string>

#include "registration/direct_alignment.h"
#include "registration/homography_search.h"
#include "registration/search_sizes.h"
#include "util/text_format.h"

namespace lumet {

double RefineDirectly(const GrayImage& reference, const GrayImage& frame, Matrix& h, double e1, double e2, int k,
                      const RegistrationOptions& p, std::string& log) {
  const bool searched = !(e1 == kTooFewPairs || e1 == kNoTrialAccepted || !std::isfinite(e2));
  Matrix best = h;
  AlignmentResult bestResult = AlignDirect(reference, frame, best, p.roi);
  bool fromDirectSearch = false;
  if (!searched) {
    // The classic estimate is only the identity with its linear part refined: a direct
    // search offers a second start, and the better end of the two is kept.
    Matrix other = CoarseTranslationSearch(reference, frame, p.roi, p.searchArea);
    const AlignmentResult otherResult = AlignDirect(reference, frame, other, p.roi);
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
  return RoiMae(reference, frame, h, p.roi);
}

}  // namespace lumet
