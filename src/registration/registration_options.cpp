#include "registration/registration_options.h"

#include <cmath>
#include <string>

#include "registration/block_matching.h"
#include "registration/derivative_kernels.h"
#include "util/error.h"
#include "util/option_error.h"
#include "util/text_format.h"

namespace lumet {

namespace {

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

std::string Allowed(const std::string& range) { return " is out of range (allowed: " + range + ")"; }

void CheckRansacPart(int part, const char* what, int value) {
  if (value < 1 || value > RegistrationOptions::kMaxRansacSize) {
    throw OptionError("ransac", part,
                      Format(": %s %d", what, value) +
                          Allowed("1 to " + std::to_string(RegistrationOptions::kMaxRansacSize)));
  }
}

}  // namespace

void RegistrationOptions::Check() const {
  if (!std::isfinite(filterSigma) || !(filterSigma > 0.0) || filterSigma > kMaxFilterSigma) {
    throw OptionError("filterSigma", 0, Allowed("above 0, at most " + FormatG6(kMaxFilterSigma)));
  }
  CheckRansacPart(0, "the sample size", ransacFirst);
  CheckRansacPart(1, "the pool size", ransacSecond);
  // A pool of more pairs than matching ever finds always falls back to the pairs found; a
  // smaller one must hold the sample drawn from it.
  if (ransacSecond <= kMaxPairs && ransacFirst > ransacSecond) {
    throw OptionError("ransac", 0,
                      Format(": the sample size %d exceeds the pool size %d (allowed: the sample at most the pool "
                             "when the pool is %d or less)",
                             ransacFirst, ransacSecond, kMaxPairs));
  }
  if (sadSize < 0 || sadSize > kMaxSadSize) {
    throw OptionError("sadSize", 0, Allowed("0 to " + std::to_string(kMaxSadSize)));
  }
  if (searchArea < 0) throw OptionError("searchArea", 0, Allowed("0 or more"));
}

void RegistrationOptions::CheckReference(const std::string& referenceName, int width, int height) const {
  CheckRoiInsideFrame(roi, width, height);
  // The reference frame's filters use sigma rounded to single precision, the LR frames'
  // sigma itself; the two kernels can differ in size.
  for (const double sigma : {filterSigma, static_cast<double>(static_cast<float>(filterSigma))}) {
    const int n = DerivativeKernelSize(sigma);
    if (n > width || n > height) {
      throw Error("the reference frame " + referenceName + " of " + SizeText(width, height) +
                  " pixels is smaller than the " + SizeText(n, n) + " derivative filter of filter sigma " +
                  FormatG6(filterSigma));
    }
  }
}

}  // namespace lumet
