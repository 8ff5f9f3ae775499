#include "reconstruction/classic/self_check.h"

#include <algorithm>
#include <cmath>

#include "reconstruction/enhanced/forward_model.h"
#include "reconstruction/enhanced/weights.h"
#include "reconstruction/grid_crop.h"

namespace lumet {

struct ClassicSelfCheck::Parts {
  HrGeometry crop;
  int left = 0;  // the crop's place on the ROI grid
  int top = 0;
  std::vector<double> bicubicPredicted;
  ObservationModel model;
  // Bilinear at every scale: the check's measure, and so its warning, as it was made.
  Parts(const HrGeometry& c, const std::vector<double>& taps) : crop(c), model(c, taps, SampleKernel::Bilinear) {}
};

namespace {

// Mean absolute difference of frame k's observations (green) and predicted.
double FrameError(const ObservationModel& model, int k, const std::vector<double>& predicted) {
  const std::vector<double>& values = model.Values(1);
  double sum = 0.0;
  for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) sum += std::fabs(values[o] - predicted[o]);
  return sum / static_cast<double>(model.FrameEnd(k) - model.FrameBegin(k));
}

// The result is reported as likely worse when its mean error over frame 0's pixels is above
// kSelfCheckRatio times that of frame 0 enlarged plus kSelfCheckMargin grey levels (measured
// on synthetic sequences with truth: clean ones, panned, wobbling or blurred beyond the
// stated PSF stay below 0.85 times; a patch moving on its own, which cost 7 dB against frame 0
// enlarged, reached 2.5 times).
constexpr double kSelfCheckRatio = 1.25;
constexpr double kSelfCheckMargin = 1.0;

}  // namespace

bool ClassicSelfCheck::Result::LikelyWorse() const {
  return measured && resultError > kSelfCheckRatio * bicubicError + kSelfCheckMargin;
}

ClassicSelfCheck::ClassicSelfCheck(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                                   const HrGeometry& grid, double psfSigma)
    : parts_(new Parts(CentredCrop(grid, kSelfCheckSide), PsfTaps(psfSigma, grid.scale))) {
  parts_->left = parts_->crop.x0 - grid.x0;
  parts_->top = parts_->crop.y0 - grid.y0;
  for (size_t k = 0; k < frames.size() && k < homographies.size(); ++k) parts_->model.AddFrame(frames[k], homographies[k]);
  Plane bicubic[3];
  BicubicOnGrid(frames[0], parts_->crop, bicubic);
  Plane blurred;
  parts_->model.Forward(bicubic[1], parts_->bicubicPredicted, blurred);
}

ClassicSelfCheck::~ClassicSelfCheck() { delete parts_; }

ClassicSelfCheck::Result ClassicSelfCheck::Measure(const DoubleImage& green) const {
  Result r;
  const ObservationModel& model = parts_->model;
  if (model.FrameCount() == 0 || model.FrameBegin(0) == model.FrameEnd(0)) return r;
  Plane x(parts_->crop.width, parts_->crop.height);
  for (int i = 0; i < x.height; ++i) {
    const double* row = green.Row(i + parts_->top) + parts_->left;
    for (int j = 0; j < x.width; ++j) x.At(j, i) = row[j];
  }
  std::vector<double> predicted;
  Plane blurred;
  model.Forward(x, predicted, blurred);
  r.measured = true;
  r.resultError = FrameError(model, 0, predicted);
  r.bicubicError = FrameError(model, 0, parts_->bicubicPredicted);
  return r;
}

}  // namespace lumet
