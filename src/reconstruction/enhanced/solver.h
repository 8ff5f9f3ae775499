#pragma once

#include <functional>
#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/enhanced/edge_psf.h"
#include "reconstruction/enhanced/forward_model.h"
#include "reconstruction/enhanced/luma_chroma.h"
#include "reconstruction/enhanced/psf_steps.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/reconstruction_options.h"
#include "reconstruction/seed_estimate.h"

namespace lumet {

// The iteration cap of luma (ChromaIterationCap for the colour differences) and the relative
// change (RMS step over RMS estimate) below which a band stops, by default; the cap's largest
// accepted value.
inline constexpr int kEnhancedMaxIterations = 60;
inline constexpr double kEnhancedTolerance = 1.0e-4;
inline constexpr int kEnhancedIterationLimit = 100000;

// What the enhanced reconstruction needs besides the frames.
struct EnhancedSettings {
  double psfSigma = 0.6;
  double alpha = 0.7;
  double beta = 1.0;  // first trial step of every line search, as a multiple of the quasi-Newton step
  double lambda = 0.003;
  int maxIterations = kEnhancedMaxIterations;
  double tolerance = kEnhancedTolerance;
  // Whether the run itself writes frame 0 enlarged when its estimate loses (false: it only
  // measures, and the caller decides, as the tiles of one grid do together).
  bool decideFallback = true;
  // Whether the run checks psfSigma against wider and narrower PSFs (kWiderPsf; false:
  // psfSigma is used as it stands, as the tiles after the first do with the first one's
  // choice).
  bool checkPsf = true;
  // Whether sRGB-encoded frames are solved in linear light (linear_light.h): decoded, solved
  // and the estimate encoded back (the PSF check's trials too); frames whose samples are
  // linear are never decoded.
  bool linearLight = false;
  // Whether what moves on its own in the frames is followed there (local_motion.h); off, such
  // pixels are placed by the homographies and left to the agreement weights.
  bool localMotion = true;
  // The backend of the inner evaluation (backend.h); empty: the one LUMET_BACKEND names,
  // else the default ("cpu-single").
  std::string backend{};
  // An estimate to start from where it reaches the grid, instead of the median (null: the
  // median everywhere), taken by a solve that has held-out frames to stop it, which then
  // stops after kSeededPatience iterations without improvement. The PSF check's crop always
  // starts from the median.
  const SeedEstimate* seed = nullptr;
};

// Refuses (lumet::Error naming the value) an iteration cap outside 1 .. 100000, a
// tolerance that is not a number in [0, 1), a beta that is not a positive number, and a
// backend that is neither built in nor found as a module.
void CheckEnhancedSettings(const EnhancedSettings& settings);

// What a run did: per frame its mean absolute luma residual after the first stage and
// the weight it then received (0: rejected or held out), the iterations of all bands
// together and the frames used (weight above 0, or held out to measure the estimate).
struct EnhancedOutcome {
  std::vector<double> residuals;
  std::vector<double> weights;
  int iterations = 0;
  int framesUsed = 0;
  // Noise sigma of one observation estimated from the frames (grey levels), and the two
  // readings it comes from (NoiseReading).
  double noise = 0.0;
  double frame0Noise = 0.0;
  double framesNoise = 0.0;
  // Per frame: the share of its observations that agree with frame 0, whether it was held
  // out to measure the estimate, and whether its brightness was matched to frame 0's.
  std::vector<double> agreement;
  // Per frame, the observations it gave (what its agreement share is a share of).
  std::vector<size_t> observations;
  std::vector<char> heldOut;
  std::vector<char> brightnessMatched;
  // Per frame, its pixels that move on their own and were followed there (local_motion.h).
  std::vector<size_t> followed;
  // The held-out frames' mean absolute error (luma) predicted from the estimate and from
  // frame 0 enlarged by cubic convolution (not a number when no frame was held out).
  double heldOutError = 0.0;
  double bicubicError = 0.0;
  // The held-out observations both errors are means over.
  double heldOutWeight = 0.0;
  // The estimate lost against frame 0 alone: result holds frame 0 enlarged by cubic
  // convolution, and reason says why.
  bool fellBack = false;
  std::string reason;
  // The PSF sigma the estimate was solved with, and every sigma the PSF check solved luma
  // with on its crop (the stated one first) with the error of its scoring frames and its
  // iterations (kWiderPsf); without the check, the stated one alone with the held-out error.
  double psfSigma = 0.0;
  // The lambda the estimate was solved with: the stated one, or stronger where the PSF
  // check narrowed the PSF with a stronger prior (NarrowerPsfPriorShare).
  double lambda = 0.0;
  double priorShare = 1.0;  // that lambda as a share of the stated one's
  using PsfTrial = lumet::PsfTrial;
  std::vector<PsfTrial> psfTrials;
  // The PSF check found the frames compressed (NoiseReading: they lost their finest detail,
  // and a wider PSF is kept only where it predicts them clearly better).
  bool compressed = false;
  // What frame 0's edges read of the camera's blur (EdgePsfReading; none without the check).
  EdgePsfReading edgePsf;
};

// Iterations of the luma band run with every frame at weight 1 before the frames are
// weighted by their residuals.
inline constexpr int kWeightingIterations = 8;
// Every kHeldOutEvery-th frame (from frame kHeldOutFirst) is left out of the fit and
// predicted from the estimate, when there are at least kHeldOutMinFrames frames: a band
// stops once kHeldOutPatience iterations in a row have not improved that prediction, and
// keeps its best estimate.
inline constexpr int kHeldOutEvery = 4;
inline constexpr int kHeldOutFirst = 2;
inline constexpr int kHeldOutMinFrames = 5;
inline constexpr int kHeldOutPatience = 8;
// A solve started from a seed (EnhancedSettings::seed: a video's previous output frame)
// starts near where it ends: its held-out frames stop it after kSeededPatience iterations
// without improvement (measured on bench/video/compare.sh's noisy clips: 2, 3, 4 and 8 gave
// the same PSNR within 0.1 dB; 8 took about 35 iterations a frame, 3 about 20).
inline constexpr int kSeededPatience = 3;
// Iterations the held-out frames then join the fit for, within the cap, when the fit ran
// at least half of the iterations open to it.
inline constexpr int kJoinIterations = 8;
// The estimate is kept only when it predicts the held-out frames better than frame 0
// enlarged does, and when the other frames agree with frame 0 on average over at least
// kMinAgreement of their observations.
inline constexpr double kMinAgreement = 0.2;
// LR pixels around a place that only frame 0 supports where the result is frame 0 enlarged
// too (the reach of the ringing an enlargement from one frame leaves).
inline constexpr int kRingReach = 2;

// The PSF check. Frames held out of a fit tell how well an estimate through a PSF predicts
// what the camera saw, but they cannot tell every PSF apart: an estimate through a PSF
// narrower than the camera's can be the scene blurred by the difference (Gaussians
// compose), which predicts every frame as well as the sharp scene through the camera's
// PSF. Only a PSF wider than the camera's fails them: no estimate the prior allows undoes
// the extra blur, and the held-out error rises steeply. Among the PSFs that predict equally
// well the prior prefers the narrowest, whose estimate is smoothest, and so does the
// held-out error, by a little on clean frames and by much where aliasing or compression
// put detail into the frames that only a PSF passing every frequency can copy: a check that
// keeps whatever predicts best drifts to the narrowest PSF allowed, whose estimate is
// stippled with that detail. And an estimate judged by the frames that also stopped its
// fit is judged on what it was chosen for.
//
// So luma is solved on a crop of the ROI (kPsfCheckSide LR pixels square, at most
// kPsfTrialIterations iterations) through the stated PSF and its trials; every other held-out frame stops those fits and the rest, which no
// fit saw, score them. The PSF is widened by kWiderPsf, at most kWiderTrials times and up to
// kMaxTrialPsf, while both halves of the held-out frames are predicted within kWiderSlack
// times the noise of the best so far: the widest PSF the frames do not refuse, which gives
// the sharpest estimate they support. It is kept only when a still wider one is refused
// clearly, by more than kWiderRefusal times the noise: frames that refuse none, or hardly
// (a smooth scene, which any PSF predicts alike while a wide one amplifies what no frame
// sees), cannot tell a PSF at all. When not even the first wider one is kept, and it predicts the scoring frames
// worse than the stated one by more than kPsfGain times the noise (past the camera's blur,
// the error rises steeply), the stated one is narrowed by kNarrowerPsf,
// down to kNarrowestPsf (the box of the pixel itself, standard deviation 1 / sqrt(12) LR
// pixels, which every camera integrates over), only while each step predicts them better
// by more than kPsfGain times the noise: by more than the drift alone gives (where frame
// 0's edges read nothing, by kPsfGainShare of the error is enough: NarrowPsf). A step of less
// than kLeastPsfStep is not taken. The whole ROI is then solved once through the PSF chosen.
inline constexpr int kPsfCheckSide = 16;
inline constexpr int kPsfTrialIterations = 30;

// Sets outcome.fellBack and outcome.reason from its agreement shares and held-out errors:
// the estimate loses when the other frames agree on under kMinAgreement of their
// observations on average, or when it predicts the held-out frames no better than frame 0
// enlarged.
void DecideFallback(EnhancedOutcome& outcome);

// The colour differences (luma_chroma.h) are held to this times the prior.
inline constexpr double kChromaPrior = 3.0;
// The colour differences are solved for at most the iteration cap over this (rounded up):
// smooth and under the stronger prior, they gain nothing past it (on 42 held-back sequences
// of two scenes at three seeds each, half the cap moved the mean PSNR by +0.002 dB, from
// -0.016 to +0.071 dB a sequence, a third of it by -0.02 dB), and a whole-frame job spends a
// third less time.
inline constexpr int kChromaCapDivisor = 2;
// The colour differences' iteration cap for a run capped at maxIterations.
inline constexpr int ChromaIterationCap(int maxIterations) {
  return (maxIterations + kChromaCapDivisor - 1) / kChromaCapDivisor;
}

// Called with (band, iteration) after every iteration, and with the cropped estimate
// before each band and every 10 iterations. May throw to stop the run.
using EnhancedProgress = std::function<void(int band, int iteration)>;
using EnhancedPicture = std::function<void(const ColorDoubleImage& estimate)>;

// The samples the enhanced method reads of its frames: their deep planes when frame 0 has
// them (each frame's own, or its 8-bit channels when it has none), the 8-bit channels
// otherwise. Its observations, frame 0 enlarged, the noise and the agreement with frame 0
// are then measured at that depth; the median start estimate stays on 8 bits.
inline SampleDepth EnhancedDepth(const std::vector<ColorGrayImage>& frames) {
  return !frames.empty() && frames[0].deep ? SampleDepth::Deep : SampleDepth::Bits8;
}

// Frames 0 .. K - 1 with their homographies (reference to frame, frame 0 the identity),
// all of frame 0's size, reconstructed on the ROI grid. Frames whose brightness differs
// from frame 0's are matched to it; every observation is weighted by its agreement with
// frame 0 (weights.h). The estimate covers the grid and a margin around it and
// starts from the shift-and-add median of all frames where they agree with frame 0, from
// frame 0 enlarged elsewhere; it is solved as luma and colour differences (kToLumaChroma):
// luma first, the frames are then weighted by their luma residuals, luma goes on and the
// colour differences follow with those weights and a stronger prior, each band
// stopped by its held-out frames. When the estimate loses against frame 0 enlarged, result
// is that instead (outcome.fellBack). result is the ROI grid (G x H per channel). Uses
// nothing but its arguments: any sub-grid can be reconstructed on its own.
void EnhancedReconstruct(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                         const HrGeometry& roiGrid, const EnhancedSettings& settings, ColorDoubleImage& result,
                         EnhancedOutcome& outcome, const EnhancedProgress& progress, const EnhancedPicture& picture);

}  // namespace lumet
