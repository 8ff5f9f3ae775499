#include <utility>
#include <vector>

#include "reconstruction/frame_warp.h"
#include "reconstruction/median_estimate.h"
#include "reconstruction/psf_kernel.h"
#include "reconstruction/reconstruction_method.h"
#include "reconstruction/robust_btv.h"
#include "util/text_format.h"

namespace lumet {

namespace {

// Frames 0 .. lrCount - 1: those whose errors stay under the selection threshold form the
// median shift-and-add estimate, which the robust iteration then sharpens band by band.
class Classic final : public ReconstructionMethod {
 public:
  int FrameCount(int lrCount) const override { return lrCount; }

  void CheckOptions(const ReconstructionOptions&) const override {}

  void Reconstruct(ReconstructionInput& input, const ReconstructionOptions& options, ReconstructionObserver& observer,
                   ColorDoubleImage& x) const override {
    const std::vector<double>& mae = input.frameErrors;
    const SelectionThreshold threshold = ComputeSelectionThreshold(mae);
    observer.Log(Format("Threshold(%d/%d) = %f\r\n", threshold.index, static_cast<int>(input.frames.size()),
                        threshold.value));

    int n = 0;
    const FloatMatrix kernel = MakePsfKernel(options.psfSigma, options.scale, n);
    std::vector<Matrix> hrForms;
    hrForms.reserve(input.homographies.size());
    for (const Matrix& h : input.homographies) hrForms.push_back(HrForm(h, input.grid.scale));
    CountImage count;
    MedianShiftAdd(input.frames, hrForms, SelectedFrameCount(mae, threshold.value), input.grid,
                   input.frames[0].Width(), input.frames[0].Height(), x, count);
    const bool showWork = observer.WantsPictures();
    if (showWork) observer.Picture(x);
    const ColorDoubleImage z = x;
    FillHoles(x, count);
    // The frames are no longer needed.
    std::vector<ColorGrayImage>().swap(input.frames);

    const int totalSteps = kBtvBands * kBtvStepsPerBand;
    RobustBtvIterate(
        x, z, count, kernel, n, options.alpha, options.beta, options.lambda,
        [&](int band, int step) { observer.Progress(band * kBtvStepsPerBand + step + 1, totalSteps, band, step); },
        showWork ? BtvPicture([&](const ColorDoubleImage& estimate) { observer.Picture(estimate); }) : BtvPicture());
  }
};

}  // namespace

const ReconstructionMethod& ClassicReconstruction() {
  static const Classic method;
  return method;
}

}  // namespace lumet
