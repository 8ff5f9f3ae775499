#include "reconstruction/reconstruction_options.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "reconstruction/psf_kernel.h"
#include "util/option_error.h"
#include "util/text_format.h"

namespace lumet {

void ReconstructionOptions::CheckCommon() const {
  if (!IsSupportedScale(scale)) throw OptionError("scale", 0, " is out of range (allowed: 2, 3 or 4)");
  if (!std::isfinite(psfSigma) || !(psfSigma > 0.0) || psfSigma > kMaxPsfSigma) {
    throw OptionError("psfSigma", 0, " is out of range (allowed: above 0, at most " + FormatG6(kMaxPsfSigma) + ")");
  }
  // The HR grid must hold the PSF kernel's mirror border (n - 1 pixels) and the 5 x 5
  // window of the hole filling.
  const HrGeometry grid = Grid();
  const int kernel = PsfKernelSize(psfSigma, scale);
  const int minimum = std::max(kernel - 1, kMinHrGridSize);
  if (grid.width < minimum || grid.height < minimum) {
    const bool kernelLimits = kernel - 1 > kMinHrGridSize;
    throw OptionError(kernelLimits ? "psfSigma" : "roi", kernelLimits ? 0 : grid.width < minimum ? 2 : 3, "roi",
                      " at scale " + FormatG6(scale) + " gives an HR grid of " + std::to_string(grid.width) + " x " +
                          std::to_string(grid.height) + " pixels, smaller than the " + std::to_string(minimum) +
                          " pixels each way that the " + std::to_string(kernel) + " x " + std::to_string(kernel) +
                          " PSF kernel of PSF sigma " + FormatG6(psfSigma) + " needs");
  }
}

}  // namespace lumet
