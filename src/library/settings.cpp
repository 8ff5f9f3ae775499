#include "lumet/settings.h"

#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "params/param_set.h"

namespace lumet {

// The standard values are the parameter table's, so the library, the command line and the
// window start from the same ones.
Settings::Settings() {
  const ParamSet p = InitParams();
  roi = Rect{p.roi.left, p.roi.top, static_cast<int>(p.roi.Width()), static_cast<int>(p.roi.Height())};
  filterSigma = p.filterSigma;
  ransacFirst = p.ransacFirst;
  ransacSecond = p.ransacSecond;
  sadSize = p.sadSize;
  searchArea = p.searchArea;
  method = MethodName(MethodOf(p));
  scale = p.scale;
  psfSigma = p.psfSigma;
  alpha = p.alpha;
  beta = p.beta;
  lambda = p.lambda;
  iterations = p.iterations;
  tolerance = p.tolerance;
}

}  // namespace lumet
