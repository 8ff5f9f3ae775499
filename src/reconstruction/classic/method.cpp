#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "reconstruction/classic/bands.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/median_estimate.h"
#include "reconstruction/psf_kernel.h"
#include "reconstruction/reconstruction_method.h"
#include "reconstruction/classic/robust_btv.h"
#include "reconstruction/classic/self_check.h"
#include "util/text_format.h"

namespace lumet {

namespace {

// Frames 0 .. lrCount - 1: those whose errors stay under the selection threshold form the
// median shift-and-add estimate, which the robust iteration then sharpens band by band.
// The self-check's warning: on the front ends' warning path only, so that every file the
// method writes stays as it was.
void WarnWhenLikelyWorse(const ClassicSelfCheck::Result& checked, ReconstructionObserver& observer,
                         ReconstructionOutcome& outcome) {
  if (!checked.LikelyWorse()) return;
  const ReconstructionWarning w{
      0,
      "the classic result is likely worse than frame 0 enlarged: it predicts frame 0 worse than frame 0 enlarged "
      "does (other frames do not show what frame 0 shows: something moved, or the brightness changes)",
      Format("mean error %.2f against %.2f", checked.resultError, checked.bicubicError),
      "reconstruct with --method enhanced, or leave such frames out"};
  outcome.warnings.push_back(w);
  observer.Warn(w.frame, w.kind, w.detail, w.remedy);
}

// A frame whose error on the grid is above kMisregistered times the median frame's does not
// show frame 0's scene where its homography puts it (well-registered frames of real footage
// stay within about twice the median; a wrong homography, or a brightness the classic
// method does not match, gives several times it). Such frames are named, those the
// selection left out and those it used alike; the selection stays as it is.
constexpr double kMisregistered = 3.0;

void WarnMisregistered(const std::vector<double>& mae, int selected, ReconstructionObserver& observer,
                       ReconstructionOutcome& outcome) {
  std::vector<double> finite;
  for (size_t k = 1; k < mae.size(); ++k) {
    if (std::isfinite(mae[k])) finite.push_back(mae[k]);
  }
  if (finite.empty()) return;
  const auto middle = finite.begin() + static_cast<long>(finite.size() / 2);
  std::nth_element(finite.begin(), middle, finite.end());
  const double typical = *middle;
  for (size_t k = 1; k < mae.size(); ++k) {
    const bool nan = std::isnan(mae[k]);
    if (!nan && !(mae[k] > kMisregistered * typical)) continue;
    const bool used = static_cast<int>(k) < selected;
    const ReconstructionWarning w{
        static_cast<int>(k),
        std::string(used ? "used, though" : "left out:") +
            " its error against frame 0 on the grid is far above the other frames' (a wrong homography, a change of "
            "brightness, or much that moved)",
        nan ? std::string("error not a number") : Format("error %.1f, the median frame's %.1f", mae[k], typical),
        "check its homography file, reconstruct with --method enhanced, or leave the frame out with --lr-count"};
    outcome.warnings.push_back(w);
    observer.Warn(w.frame, w.kind, w.detail, w.remedy);
  }
}

class Classic final : public ReconstructionMethod {
 public:
  std::string Word() const override { return "classic"; }
  int FrameCount(int lrCount) const override { return lrCount; }

  std::string StepText(int band, int step, const ReconstructionOptions&) const override {
    static const char* const kBands[3] = {"red", "green", "blue"};
    return Format("%s band, step %d of %d", kBands[band == 0 ? 0 : band == 1 ? 1 : 2], step + 1, kBtvStepsPerBand);
  }

  void CheckOptions(const ReconstructionOptions&) const override {}

  size_t WorkingBytes(const ReconstructionOptions& options, const HrGeometry& grid, bool byBand) const override {
    return ClassicWorkingBytes(grid, PsfKernelSize(options.psfSigma, options.scale), byBand);
  }

  void Reconstruct(ReconstructionInput& input, const ReconstructionOptions& options, ReconstructionObserver& observer,
                   ColorDoubleImage& x) const override {
    const std::vector<double>& mae = input.frameErrors;
    const SelectionThreshold threshold = ComputeSelectionThreshold(mae);
    ReconstructionOutcome outcome;
    outcome.method = Method::Classic;
    outcome.framesGiven = static_cast<int>(input.frames.size());
    outcome.selected = true;
    outcome.thresholdIndex = threshold.index;
    outcome.threshold = threshold.value;
    observer.Log(OutcomeSummaryLine(outcome) + "\r\n");

    int n = 0;
    const FloatMatrix kernel = MakePsfKernel(options.psfSigma, options.scale, n);
    std::vector<Matrix> hrForms;
    hrForms.reserve(input.homographies.size());
    for (const Matrix& h : input.homographies) hrForms.push_back(HrForm(h, input.grid.scale));
    const auto progress = [&](int band, int step) {
      observer.Progress(band * kBtvStepsPerBand + step + 1, kBtvBands * kBtvStepsPerBand, band, step);
    };
    const int selected = SelectedFrameCount(mae, threshold.value);
    outcome.framesUsed = selected;
    outcome.iterations = kBtvStepsPerBand;
    WarnMisregistered(mae, selected, observer, outcome);
    // Made while the frames are there; it reads the result and changes nothing of it.
    const ClassicSelfCheck check(input.frames, input.homographies, input.grid, options.psfSigma);
    if (observer.TakesBands()) {
      // Every step treats each channel on its own: the same values, one band's working
      // images at a time.
      ClassicSelfCheck::Result checked;
      ReconstructClassicByBand(input.frames, hrForms, selected, input.grid, input.frames[0].Width(),
                               input.frames[0].Height(), kernel, n, options.alpha, options.beta, options.lambda,
                               progress, [&](int band, DoubleImage& xb) {
                                 if (band == 1) checked = check.Measure(xb);
                                 observer.Band(band, xb);
                               });
      std::vector<ColorGrayImage>().swap(input.frames);
      WarnWhenLikelyWorse(checked, observer, outcome);
      observer.Outcome(outcome);
      return;
    }
    CountImage count;
    MedianShiftAdd(input.frames, hrForms, selected, input.grid, input.frames[0].Width(), input.frames[0].Height(), x,
                   count);
    const bool showWork = observer.WantsPictures();
    if (showWork) observer.Picture(x);
    const ColorDoubleImage z = x;
    FillHoles(x, count);
    // The frames are no longer needed.
    std::vector<ColorGrayImage>().swap(input.frames);

    RobustBtvIterate(
        x, z, count, kernel, n, options.alpha, options.beta, options.lambda, progress,
        showWork ? BtvPicture([&](const ColorDoubleImage& estimate) { observer.Picture(estimate); }) : BtvPicture());
    WarnWhenLikelyWorse(check.Measure(x.channels[1]), observer, outcome);
    observer.Outcome(outcome);
  }
};

}  // namespace

const ReconstructionMethod& ClassicReconstruction() {
  static const Classic method;
  return method;
}

}  // namespace lumet
