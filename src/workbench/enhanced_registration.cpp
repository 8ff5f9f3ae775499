#include "workbench/enhanced_registration.h"

#include <cmath>

#include "registration/direct_alignment.h"
#include "registration/homography_search.h"
#include "registration/search_sizes.h"
#include "util/text_format.h"

namespace lumet {

double RefineDirectly(const GrayImage& reference, const GrayImage& frame, Matrix& h, double e1, double e2, int k,
                      const ParamSet& p, UiPort& ui) {
  double startError = e2;
  if (e1 == kTooFewPairs || e1 == kNoTrialAccepted || !std::isfinite(e2)) {
    const Matrix searched = CoarseTranslationSearch(reference, frame, p.roi, p.searchArea);
    const double searchedError = RoiMae(reference, frame, searched, p.roi);
    if (!(searchedError >= startError)) {
      h = searched;
      startError = searchedError;
      ui.AppendLog(Format("Frame %d: no homography search, started from a direct search (shift %s, %s)\r\n", k,
                          FormatG6(h.At1(1, 3) * 600.0).c_str(), FormatG6(h.At1(2, 3) * 600.0).c_str()));
    } else {
      ui.AppendLog(Format("Frame %d: no homography search, started from the refined identity\r\n", k));
    }
  }
  const AlignmentResult r = AlignDirect(reference, frame, h, p.roi);
  if (r.diverged) {
    ui.AppendLog(Format("Frame %d: direct refinement diverged (%s->%s), the start is kept\r\n", k,
                        FormatG6(r.startError).c_str(), FormatG6(r.error).c_str()));
    return startError;
  }
  return RoiMae(reference, frame, h, p.roi);
}

}  // namespace lumet
