#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "reconstruction/enhanced/solver.h"
#include "reconstruction/enhanced/tiles.h"
#include "reconstruction/psf_kernel.h"
#include "reconstruction/reconstruction_method.h"
#include "util/option_error.h"
#include "util/text_format.h"

namespace lumet {

namespace {

// Its own parameters: how long each band may run.
constexpr MethodParam kIterations{.name = "iterations", .flag = "--iterations", .label = "iteration cap",
                                  .typeName = "N",
                                  .help = "enhanced method: iteration cap of luma (the colour differences get half)",
                                  .defaultText = "60", .whole = true, .minimum = 1,
                                  .maximum = kEnhancedIterationLimit};
constexpr MethodParam kTolerance{.name = "tolerance", .flag = "--tolerance", .label = "tolerance", .typeName = "FLOAT",
                                 .help = "enhanced method: a band stops when an iteration changes the estimate by "
                                         "less than this share of it",
                                 .defaultText = "0.0001", .minimum = 0, .maximum = 1};

// A switch: on or off, a check box in the window, a bool in Python.
constexpr MethodParam Switch(const char* name, const char* flag, const char* label, const char* help, bool on) {
  return {.name = name, .flag = flag, .label = label, .typeName = "on|off", .help = help,
          .defaultText = on ? "on" : "off", .whole = true, .minimum = 0, .maximum = 1, .onOff = true};
}

// Off keeps the stated PSF as it is: no trials of others.
constexpr MethodParam kPsfCheck = Switch("psfCheck", "--psf-check", "PSF check",
                                         "enhanced method: also try narrower and wider PSFs than --psf-sigma and keep "
                                         "the one the held-out frames choose (off: the stated PSF as it is)",
                                         true);
// On solves sRGB-encoded frames in linear light (linear_light.h).
constexpr MethodParam kLinearLight = Switch("linearLight", "--linear-light", "linear light",
                                            "enhanced method: decode sRGB-encoded frames (8- and 16-bit) to linear "
                                            "light, solve there and encode the result back (frames stored linear, "
                                            "floating-point or raw, are solved as they are)",
                                            false);
// Off places every pixel where the homographies put it (local_motion.h).
constexpr MethodParam kLocalMotion = Switch("localMotion", "--local-motion", "local motion",
                                            "enhanced method: follow what moves on its own in the frames (a vehicle, "
                                            "a walker) by block matching against frame 0, so that it is "
                                            "super-resolved too (off: it is taken from frame 0 alone)",
                                            true);

EnhancedSettings SettingsOf(const ReconstructionOptions& o) {
  return {.psfSigma = o.psfSigma, .alpha = o.alpha, .beta = o.beta, .lambda = o.lambda,
          .maxIterations = static_cast<int>(kIterations.In(o)), .tolerance = kTolerance.In(o),
          .checkPsf = kPsfCheck.In(o) != 0.0, .linearLight = kLinearLight.In(o) != 0.0,
          .localMotion = kLocalMotion.In(o) != 0.0};
}

// Frames below this share of agreeing pixels are named in a warning.
constexpr double kLowAgreement = 0.35;

// The PSF check's line: the sigma chosen, every trial's error and iterations, and what frame
// 0's edges read of the blur.
std::string PsfLine(const EnhancedOutcome& outcome) {
  std::string trials;
  for (const EnhancedOutcome::PsfTrial& t : outcome.psfTrials) {
    trials += Format("%s%g: %.3f after %d", trials.empty() ? "" : ", ", t.sigma, t.heldOutError, t.iterations);
    if (t.priorShare > 1.0) trials += Format(" with lambda x%.3g", t.priorShare);
  }
  const EdgePsfReading& edges = outcome.edgePsf;
  const std::string read =
      edges.Found() ? Format("; frame 0's edges read %.2f (%d edges, misfit %.0f%% of their contrast)", edges.sigma,
                             edges.edges, 100.0 * edges.misfit)
                    : Format("; frame 0 has too few clean straight edges to read the blur from (%d of %d)", edges.edges,
                             kEdgeMinSites);
  return Format("PSF = %g (error of the scoring frames and luma iterations by PSF sigma: %s%s%s)\r\n", outcome.psfSigma,
                trials.c_str(), outcome.compressed ? "; the frames look compressed: wider only if clearly better" : "",
                read.c_str());
}

// The warning that the PSF check solved through another PSF than stated (and, narrower,
// with a stronger prior), given to warn(frame, kind, detail, remedy).
template <typename Warn>
void WarnOfPsfChange(const EnhancedOutcome& outcome, const Warn& warn) {
  const EnhancedOutcome::PsfTrial* stated = outcome.psfTrials.empty() ? nullptr : &outcome.psfTrials.front();
  if (stated != nullptr && outcome.psfSigma != stated->sigma) {
    double chosen = stated->heldOutError;
    bool tried = false;
    for (const EnhancedOutcome::PsfTrial& t : outcome.psfTrials) {
      if (t.sigma != outcome.psfSigma) continue;
      chosen = t.heldOutError;
      tried = true;
    }
    const bool wider = outcome.psfSigma > stated->sigma;
    const std::string why = tried ? Format("it predicts the held-out frames with mean error %.2f against %.2f", chosen,
                                           stated->heldOutError)
                                  : Format("frame 0's edges read a blur of sigma %.2f", outcome.edgePsf.sigma);
    warn(0,
         wider ? "the frames are blurrier than the PSF says (an estimate through it stays soft), the "
                 "reconstruction used a wider one"
               : "the frames are sharper than the PSF allows (an estimate through it rings along the "
                 "edges), the reconstruction used a narrower one",
         Format("PSF sigma %g instead of %g%s: %s", outcome.psfSigma, stated->sigma,
                outcome.priorShare > 1.0 ? Format(", lambda x%.3g", outcome.priorShare).c_str() : "", why.c_str()),
         PsfChoiceRemedy(outcome.psfSigma, outcome.lambda, outcome.priorShare > 1.0));
  }
}

// One line per frame (its residual, its weight, whether it was held out to measure the
// estimate, how much of it agrees with frame 0, whether its brightness was matched), the
// totals, and the warnings: frames that mostly disagree with frame 0, and frame 0 enlarged
// written instead of the estimate; `result` takes the same as values.
void LogOutcome(ReconstructionObserver& observer, const EnhancedOutcome& outcome, int frameCount,
                ReconstructionOutcome& result) {
  result.method = Method::Enhanced;
  result.framesGiven = frameCount;
  result.framesUsed = outcome.framesUsed;
  result.iterations = outcome.iterations;
  result.choosesPsf = true;
  result.psfSigma = outcome.psfSigma;
  result.lambda = outcome.lambda;
  result.fellBack = outcome.fellBack;
  result.fallbackReason = outcome.reason;
  const auto warn = [&](int frame, const std::string& kind, const std::string& detail, const std::string& remedy) {
    result.warnings.push_back({frame, kind, detail, remedy});
    observer.Warn(frame, kind, detail, remedy);
  };
  observer.Log(Format("Noise = %.2f (frames %.2f where frame 0 is flat, frame 0 alone %.2f)\r\n", outcome.noise,
                      outcome.framesNoise, outcome.frame0Noise));
  for (int k = 0; k < frameCount; ++k) {
    const size_t i = static_cast<size_t>(k);
    const double weight = i < outcome.weights.size() ? outcome.weights[i] : 0.0;
    const bool heldOut = i < outcome.heldOut.size() && outcome.heldOut[i] != 0;
    std::string notes = heldOut        ? " held out"
                        : weight > 0.0 ? (weight < 1.0 ? Format(" weight %.3f", weight) : "")
                                       : " rejected";
    if (k > 0 && i < outcome.agreement.size() && std::isfinite(outcome.agreement[i])) {
      notes += Format(" agrees %.0f%%", 100.0 * outcome.agreement[i]);
    }
    if (i < outcome.brightnessMatched.size() && outcome.brightnessMatched[i] != 0) notes += " brightness matched";
    if (i < outcome.followed.size() && outcome.followed[i] != 0) {
      notes += Format(" %zu px moving on their own", outcome.followed[i]);
    }
    observer.Log(Format("Residual(%d) = %f%s\r\n", k, outcome.residuals[i], notes.c_str()));
  }
  observer.Log(OutcomeSummaryLine(result) + "\r\n");
  if (std::isfinite(outcome.heldOutError)) {
    observer.Log(Format("Held-out error = %.3f, frame 0 enlarged %.3f\r\n", outcome.heldOutError, outcome.bicubicError));
  }
  // Frames the estimate was made without, other than those held out to measure it: one
  // warning each, which the front ends gather into one line per kind.
  for (int k = 1; k < frameCount; ++k) {
    const size_t i = static_cast<size_t>(k);
    const bool heldOut = i < outcome.heldOut.size() && outcome.heldOut[i] != 0;
    const bool used = heldOut || (i < outcome.weights.size() && outcome.weights[i] > 0.0);
    if (used) continue;
    if (i >= outcome.residuals.size() || !std::isfinite(outcome.residuals[i])) {
      warn(k,
           "the frame gave no usable pixel (its residual is not a number: it does not see the ROI, or its "
           "homography cannot be inverted); it was left out",
           "", "check its homography file, or leave the frame out");
    } else if (!(i < outcome.agreement.size() && outcome.agreement[i] < kLowAgreement)) {  // else named below
      warn(k, "the frame disagrees with the others (its residual is far above theirs); it was left out",
           Format("residual %.2f", outcome.residuals[i]), "check its homography file, or leave the frame out");
    }
  }
  for (int k = 1; k < frameCount; ++k) {
    const size_t i = static_cast<size_t>(k);
    if (i < outcome.agreement.size() && outcome.agreement[i] < kLowAgreement) {
      warn(k,
           "much of the frame disagrees with frame 0 (something moved, or one homography does not fit "
           "it); those pixels were left out",
           Format("%.0f %% agrees", 100.0 * outcome.agreement[i]), "check its homography file, or leave the frame out");
    }
  }
  if (outcome.psfTrials.size() > 1) observer.Log(PsfLine(outcome));
  WarnOfPsfChange(outcome, warn);
  if (outcome.fellBack) {
    warn(0, "the enhanced estimate was not kept, the result is frame 0 enlarged by cubic convolution", outcome.reason,
         "check the registration, or reconstruct with --method classic");
  }
}

// The widest PSF sigma a run may solve with: the check's widest trial, or the stated one.
double WidestSigma(const ReconstructionOptions& o) {
  return kPsfCheck.In(o) != 0.0 ? WidestPsfTrial(o.psfSigma) : o.psfSigma;
}

// The estimate: three channels of doubles.
size_t EstimateBytes(const HrGeometry& grid) {
  return 3 * sizeof(double) * static_cast<size_t>(grid.width) * static_cast<size_t>(grid.height);
}

// The side of the tiles the solve fits in beside the estimate within options.memoryLimit,
// and within kEnhancedSolveBudget; 0 when not even the smallest tile does.
int TileSide(const ReconstructionOptions& options, const HrGeometry& grid) {
  const size_t estimate = EstimateBytes(grid);
  const size_t budget =
      std::min(options.memoryLimit > estimate ? options.memoryLimit - estimate : 0, kEnhancedSolveBudget);
  return EnhancedTileSide(grid, PsfKernelSize(WidestSigma(options), options.scale), budget);
}

// Frames 0 .. lrCount (the last registered frame too), all through the full forward model.
class Enhanced final : public ReconstructionMethod {
 public:
  std::string Word() const override { return "enhanced"; }
  std::vector<MethodParam> Params() const override {
    return {kIterations, kTolerance, kPsfCheck, kLinearLight, kLocalMotion};
  }

  // It solves luma and two colour differences in the bands' places, counts its iterations
  // from 1 and may stop before the cap.
  std::string StepText(int band, int step, const ReconstructionOptions& options) const override {
    static const char* const kBands[3] = {"red colour difference", "luma", "blue colour difference"};
    const int cap = static_cast<int>(kIterations.In(options));
    return Format("%s band, iteration %d of at most %d", kBands[band == 0 ? 0 : band == 1 ? 1 : 2], step,
                  band == 1 ? cap : ChromaIterationCap(cap));
  }
  int FrameCount(int lrCount) const override { return lrCount + 1; }
  // Its frames are registered with the direct refinement on the pixels themselves.
  std::string RegistrationWord() const override { return "direct"; }
  bool TakesSeed() const override { return true; }

  size_t WorkingBytes(const ReconstructionOptions& options, const HrGeometry& grid, bool) const override {
    const int taps = PsfKernelSize(WidestSigma(options), options.scale);
    const int side = TileSide(options, grid);
    HrGeometry tile = grid;
    if (side == 0 || side < grid.width || side < grid.height) {
      // The tiles it would solve in, or the smallest ones when even those do not fit.
      const int kept = side == 0 ? kEnhancedSmallestTile : side;
      tile.width = std::min(grid.width, kept + 2 * kEnhancedTileOverlap);
      tile.height = std::min(grid.height, kept + 2 * kEnhancedTileOverlap);
    }
    return EstimateBytes(grid) + EnhancedSolveBytes(tile, taps);
  }

  // It solves on the grid grown by the reach of the widest PSF it may solve with.
  HrGeometry GridRead(const ReconstructionOptions& options, const HrGeometry& grid) const override {
    const int taps = static_cast<int>(PsfTaps(WidestSigma(options), grid.scale).size());
    return ExtendGeometry(grid, EnhancedMargin(taps, grid.scale));
  }

  // The enhanced method scales its steps by beta and takes alpha and lambda as weights, so
  // it refuses what the classic method accepts.
  void CheckOptions(const ReconstructionOptions& o) const override {
    const auto refuse = [](const char* field, const char* allowed) {
      throw OptionError(field, 0, std::string(" is out of range for the enhanced method (allowed: ") + allowed + ")");
    };
    if (!(o.alpha >= 0.0)) refuse("alpha", "0 or more");
    if (!(o.beta > 0.0)) refuse("beta", "above 0");
    if (!(o.lambda >= 0.0)) refuse("lambda", "0 or more");
    CheckEnhancedSettings(SettingsOf(o));
  }

  void Reconstruct(ReconstructionInput& input, const ReconstructionOptions& options, ReconstructionObserver& observer,
                   ColorDoubleImage& x) const override {
    EnhancedSettings settings = SettingsOf(options);
    settings.seed = input.seed;
    EnhancedOutcome outcome;
    // Luma (in green's place) first, then the colour differences with their smaller cap.
    const int bandOrder[3] = {1, 0, 2};
    const int chromaCap = ChromaIterationCap(settings.maxIterations);
    const int caps[3] = {settings.maxIterations, chromaCap, chromaCap};
    const int starts[3] = {0, settings.maxIterations, settings.maxIterations + chromaCap};
    const int totalSteps = settings.maxIterations + 2 * chromaCap;
    const int side = std::max(TileSide(options, input.grid), kEnhancedSmallestTile);
    if (side < input.grid.width || side < input.grid.height) {
      observer.Log(Format("Tiles = %d x %d HR pixels, %d beyond each side\r\n", side, side, kEnhancedTileOverlap));
    }
    EnhancedReconstructTiled(
        input.frames, input.homographies, input.grid, settings, side, x, outcome,
        [&](int band, int iteration) {
          int position = 0;
          while (bandOrder[position] != band) ++position;
          // The PSF check's trials hold the bar at the start of luma.
          const int within = std::min(caps[position], iteration);
          observer.Progress(std::min(totalSteps, starts[position] + within), totalSteps, band, iteration);
        },
        [&](const ColorDoubleImage& estimate) { observer.Picture(estimate); });

    ReconstructionOutcome result;
    LogOutcome(observer, outcome, static_cast<int>(input.frames.size()), result);
    observer.Outcome(result);
  }
};

}  // namespace

const ReconstructionMethod& EnhancedReconstructionMethod() {
  static const Enhanced method;
  return method;
}

}  // namespace lumet
