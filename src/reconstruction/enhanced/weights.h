#pragma once

#include <array>
#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "reconstruction/enhanced/forward_model.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// What protects the enhanced method from footage that does not obey its model: frame 0 is
// the reference, and every other observation counts only as far as it agrees with what
// frame 0 shows at the same place.

// Frame 0's plane interpolated bilinearly at the LR position (x, y), indices clamped.
double SampleBilinear(const GrayImage& plane, double x, double y);
// The same by cubic convolution (a = -0.5), which keeps more of the detail.
double SampleBicubic(const GrayImage& plane, double x, double y);

// Frame 0 enlarged onto `grid` by cubic convolution (HR pixel (j, i) at the LR position
// ((j + x0) / s, (i + y0) / s), indices clamped at the frame border), one plane per
// channel: the safe estimate, and the start where no other frame agrees. Every function here
// that reads frame 0 reads it at depth (its deep planes, when Deep and it has them).
void BicubicOnGrid(const ColorGrayImage& frame0, const HrGeometry& grid, Plane (&planes)[3],
                   SampleDepth depth = SampleDepth::Bits8);

// Gain and offset of one channel of one frame relative to frame 0: value_0 = gain * value_k + offset.
struct Photometry {
  double gain = 1.0;
  double offset = 0.0;
};

// Per frame and channel, the map that takes the frame's levels to frame 0's: a robust line
// fitted through the frame's observations against frame 0 at the same positions (cubic
// look-up), an offset alone where frame 0 spreads by less than kGainSignal times the noise
// (no signal to measure a gain on) (frame 0 itself, frames without observations and changes below kPhotometryGainStep and
// kPhotometryOffsetStep at frame 0's mean level keep the identity: what a steady camera
// gives is left alone).
inline constexpr double kPhotometryGainStep = 0.03;
inline constexpr double kPhotometryOffsetStep = 2.0;
inline constexpr double kGainSignal = 4.0;
std::vector<std::array<Photometry, 3>> MatchPhotometry(const ObservationModel& model,
                                                       const ColorGrayImage& frame0, double noise,
                                                       SampleDepth depth = SampleDepth::Bits8);

// The frames with their photometry applied (rounded, clamped to 0 .. 255; deep planes
// clamped alone, and the 8-bit channels beside them their new values rounded).
void ApplyPhotometry(const std::vector<std::array<Photometry, 3>>& maps, std::vector<ColorGrayImage>& frames);

// The noise sigma of one observation (grey levels), from frame 0 alone under `grid`: the
// robust spread of a second-difference filter that cancels smooth content. Never below
// kNoiseFloor (quantisation alone). Frame 0 alone cannot be widened by frames that disagree
// with it, which is why it bounds what the frames' reading may add (NoiseReading). The same
// floor holds at depth: the data term's
// smoothing, the agreement and the PSF check's margins follow the noise, and below half a
// level (measured on sequences of 16-bit frames with noise of 0.1 levels) they hold the
// estimate back more than the finer samples give, or let the PSF check widen the PSF.
inline constexpr double kNoiseFloor = 0.5;
double EstimateNoise(const ColorGrayImage& frame0, const HrGeometry& grid, SampleDepth depth = SampleDepth::Bits8);

// What the frames 1 .. K - 1 of model differ from frame 0 by where frame 0 is flat (the
// flattest quarter of its 7 x 7 windows under the grid), as the sigma of one observation's
// noise: per frame the robust spread of observation less frame 0's cubic look-up at its
// position, scaled for the noise of frame 0 the look-up carries; then the median over the
// frames with at least kTemporalLeast such differences. Not a number without such frames.
// Unlike EstimateNoise it sees noise that compression or demosaicing made smooth (which the
// second differences miss: real footage reads two to four times what frame 0 alone gives);
// like it, it reads more than the noise on frames without flat places (the look-up's
// error on sharp detail) or that do not show frame 0's scene (ReadNoise bounds it).
inline constexpr size_t kTemporalLeast = 30;
double TemporalNoise(const ObservationModel& model, const ColorGrayImage& frame0, SampleDepth depth = SampleDepth::Bits8);

// Frame 0's noise (EstimateNoise) and the frames' (TemporalNoise).
struct NoiseReading {
  double frame0 = kNoiseFloor;
  double frames = 0.0;  // not a number for a frame alone
  // The noise the solve goes by: the frames', bounded by kFramesNoiseBound times frame 0's
  // (beyond it the frames differ from frame 0 by detail or by scene, not by noise);
  // frame 0's for a frame alone; never below kNoiseFloor.
  double Sigma() const;
  // Frames that differ from frame 0 by more than kCompressedNoise times its own noise, within
  // the bound: compressed (or denoised, demosaiced) frames whose finest detail, noise
  // included, is gone: they look blurrier than the camera made them.
  bool Compressed() const;
};
inline constexpr double kFramesNoiseBound = 2.0;
inline constexpr double kCompressedNoise = 1.25;
NoiseReading ReadNoise(const ObservationModel& model, const ColorGrayImage& frame0, const HrGeometry& grid,
                       SampleDepth depth = SampleDepth::Bits8);

// Per observation, how far it agrees with frame 0 at its position (0 .. 1; frame 0's own
// observations, and those added without their frame pixel, 1): with d the colour difference
// between the frame's mean over the 3 x 3 pixels around it and frame 0's 3 x 3 mean at the
// same position (cubic look-up), and t = kAgreeNoise times the noise of such a mean widened
// by kAgreeDetail times frame 0's local range, 1 / (1 + (d / t)^4); then the least over the
// observation's 8 neighbours in its frame. Where frame 0's flattest places (the lowest
// 1 / kAgreeFlatShare of local ranges) are flat (their range at most kAgreeNoiseLike times
// the median d there) and that median d is more than kAgreeTypical times the noise of a mean
// (real footage: compression, and noise that frame 0's own flat places do not show; on clean
// frames it is about one), the median over kAgreeTypical takes that noise's place: what
// most of a static scene differs by is agreement. Not when it is above kAgreeScene times
// frame 0's median local range: frames that far from frame 0 even where it is flat do not
// show its scene.
inline constexpr double kAgreeNoise = 3.0;
inline constexpr double kAgreeDetail = 0.3;
inline constexpr double kAgreeTypical = 1.5;
inline constexpr double kAgreeScene = 0.3;
inline constexpr size_t kAgreeFlatShare = 4;
inline constexpr double kAgreeNoiseLike = 5.0;
std::vector<float> AgreementWeights(const ObservationModel& model, const ColorGrayImage& frame0, double noise,
                                    SampleDepth depth = SampleDepth::Bits8);

// Share of each frame's observations that agree (mean weight), not a number for a frame
// without observations.
std::vector<double> AgreementShares(const ObservationModel& model, const std::vector<float>& weights);

// Per HR pixel of the model's grid, how many frames' worth of observations of frames
// 1 .. K - 1 agree with frame 0 there: their agreement weights spread onto the grid (bilinear
// and PSF), over frame 0's own observations spread the same way (0 where frame 0 has none).
Plane AgreementMap(const ObservationModel& model, const std::vector<float>& weights);

// Support (AgreementMap) below kSupportLow frames rests on frame 0 alone, above
// kSupportHigh on the frames together; the share of the latter, linear in between.
inline constexpr double kSupportLow = 1.0;
inline constexpr double kSupportHigh = 3.0;
double SupportShare(double support);

// Frame weights from their residuals: 1 up to kFrameTrust times the median residual,
// falling as (limit / residual)^2 beyond, 0 (rejected) above kFrameReject times the median
// or for a residual that is not a number.
inline constexpr double kFrameTrust = 1.5;
inline constexpr double kFrameReject = 3.0;
std::vector<double> FrameWeightsFromResiduals(const std::vector<double>& residuals);

}  // namespace lumet
