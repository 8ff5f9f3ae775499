#include "synth/synth_options.h"

#include <cmath>

#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

RoiRect SynthRoi() { return InitParams().roi; }

void SynthOptions::Check() const {
  if (scene != "chart" && scene != "texture") {
    throw Error("--scene must be chart or texture (got \"" + scene + "\")");
  }
  if (lrCount < 1 || lrCount > kSynthMaxFrames) {
    throw Error(Format("--lr-count must be between 1 and %d (got %d)", kSynthMaxFrames, lrCount));
  }
  const RoiRect roi = SynthRoi();
  const int minWidth = roi.right + kSynthRoiMargin;
  const int minHeight = roi.bottom + kSynthRoiMargin;
  if (width < minWidth || height < minHeight || width > kSynthMaxDimension || height > kSynthMaxDimension) {
    throw Error(
        Format("--size %dx%d is outside %dx%d .. %dx%d: the frames must hold the ROI at (%d, %d) of %d x %d "
               "with a margin of %d pixels",
               width, height, minWidth, minHeight, kSynthMaxDimension, kSynthMaxDimension, roi.left, roi.top,
               static_cast<int>(roi.Width()), static_cast<int>(roi.Height()), kSynthRoiMargin));
  }
  if (!IsScaleChoice(scale)) throw Error(Format("--scale must be 2, 3 or 4 (got %d)", scale));
  // The PSF sigma also goes to param.txt, where the reconstruction needs it positive.
  if (!(psfSigma > 0.0) || psfSigma > kSynthMaxPsfSigma) {
    throw Error("--psf-sigma must be above 0 and at most " + FormatG6(kSynthMaxPsfSigma) + " LR pixels (got " +
                FormatG6(psfSigma) + ")");
  }
  if (!(noise >= 0.0) || noise > kSynthMaxNoise) {
    throw Error("--noise must be between 0 and " + FormatG6(kSynthMaxNoise) + " grey levels (got " + FormatG6(noise) +
                ")");
  }
  if (!(motion >= 0.0) || motion > kSynthMaxMotion) {
    throw Error("--motion must be between 0 and " + FormatG6(kSynthMaxMotion) + " pixels (got " + FormatG6(motion) +
                ")");
  }
}

}  // namespace lumet
