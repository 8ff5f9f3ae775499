#include "reconstruction/enhanced_estimate.h"

#include <cmath>
#include <string>

#include "reconstruction/median_estimate.h"
#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

namespace {

constexpr int kPictureEvery = 10;

// Pixels the median estimate could not reach (no sample in their 5 x 5 window, or in the
// two outer rows and columns) take the mean of their known 8-neighbours, ring by ring.
void FillUnreached(Plane& x, const CountImage& count) {
  const int w = x.width;
  const int h = x.height;
  std::vector<char> known(static_cast<size_t>(w) * h, 0);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      bool reached = count.Row(i)[j] > 0;
      if (!reached && i >= 2 && i < h - 2 && j >= 2 && j < w - 2) {
        for (int r = i - 2; r <= i + 2 && !reached; ++r) {
          for (int c = j - 2; c <= j + 2; ++c) reached = reached || count.Row(r)[c] > 0;
        }
      }
      known[static_cast<size_t>(i) * w + j] = reached ? 1 : 0;
    }
  }
  bool any = false;
  for (char k : known) any = any || k != 0;
  if (!any) return;  // nothing observed: the estimate keeps its constant value
  for (bool changed = true; changed;) {
    changed = false;
    std::vector<char> next = known;
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < w; ++j) {
        if (known[static_cast<size_t>(i) * w + j]) continue;
        double sum = 0.0;
        int n = 0;
        for (int r = std::max(0, i - 1); r <= std::min(h - 1, i + 1); ++r) {
          for (int c = std::max(0, j - 1); c <= std::min(w - 1, j + 1); ++c) {
            if (known[static_cast<size_t>(r) * w + c]) {
              sum += x.At(c, r);
              ++n;
            }
          }
        }
        if (n > 0) {
          x.At(j, i) = sum / n;
          next[static_cast<size_t>(i) * w + j] = 1;
          changed = true;
        }
      }
    }
    known.swap(next);
  }
}

void Crop(const Plane (&planes)[3], int margin, const HrGeometry& roiGrid, ColorDoubleImage& out) {
  out.Create(roiGrid.width, roiGrid.height);
  out.mask.Fill(0);
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < roiGrid.height; ++i) {
      double* row = out.channels[static_cast<size_t>(c)].Row(i);
      for (int j = 0; j < roiGrid.width; ++j) row[j] = planes[c].At(j + margin, i + margin);
    }
  }
}

}  // namespace

void CheckEnhancedSettings(const EnhancedSettings& s) {
  if (s.maxIterations < 1 || s.maxIterations > kEnhancedIterationLimit) {
    throw Error("iteration cap " + std::to_string(s.maxIterations) + " is outside 1 .. " +
                std::to_string(kEnhancedIterationLimit));
  }
  if (!(s.tolerance >= 0.0 && s.tolerance < 1.0)) {
    throw Error("tolerance " + FormatG6(s.tolerance) + " is outside [0, 1)");
  }
  if (!(s.beta > 0.0) || !std::isfinite(s.beta)) {
    throw Error("beta " + FormatG6(s.beta) + " is not a positive number (the enhanced method scales its steps by it)");
  }
  if (!(s.alpha >= 0.0) || !std::isfinite(s.alpha)) throw Error("alpha " + FormatG6(s.alpha) + " is not a number >= 0");
  if (!(s.lambda >= 0.0) || !std::isfinite(s.lambda)) {
    throw Error("lambda " + FormatG6(s.lambda) + " is not a number >= 0");
  }
}

void EnhancedReconstruct(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                         const HrGeometry& roiGrid, const EnhancedSettings& settings, ColorDoubleImage& result,
                         EnhancedOutcome& outcome, const EnhancedProgress& progress, const EnhancedPicture& picture) {
  CheckEnhancedSettings(settings);
  if (frames.empty() || frames.size() != homographies.size()) throw Error("no frames to reconstruct from");
  const std::vector<double> taps = PsfTaps(settings.psfSigma, roiGrid.scale);
  const int margin = EnhancedMargin(static_cast<int>(taps.size()));
  const HrGeometry grid = ExtendGeometry(roiGrid, margin);

  ObservationModel model(grid, taps);
  for (size_t k = 0; k < frames.size(); ++k) model.AddFrame(frames[k], homographies[k]);

  // The start: the shift-and-add median of every frame on the grown grid.
  Plane planes[3];
  {
    std::vector<Matrix> hrForms;
    for (const Matrix& h : homographies) hrForms.push_back(HrForm(h, roiGrid.scale));
    ColorDoubleImage median;
    CountImage count;
    MedianShiftAdd(frames, hrForms, static_cast<int>(frames.size()), grid, frames[0].Width(), frames[0].Height(), median,
                   count);
    FillHoles(median, count);
    for (int c = 0; c < 3; ++c) {
      planes[c] = Plane(grid.width, grid.height);
      for (int i = 0; i < grid.height; ++i) {
        for (int j = 0; j < grid.width; ++j) planes[c].At(j, i) = median.channels[static_cast<size_t>(c)].Row(i)[j];
      }
      FillUnreached(planes[c], count);
    }
  }

  EnhancedWeights weights;
  weights.alpha = settings.alpha;
  // The data term sums over observations, the prior over HR pixels: lambda is scaled by
  // the observations per HR pixel so that the balance does not move with the frame count.
  const double density =
      static_cast<double>(model.ObservationCount()) / (static_cast<double>(grid.width) * grid.height);
  weights.lambda = settings.lambda * kPriorGain * density;
  weights.frame.assign(frames.size(), 1.0);
  for (int k = 0; k < model.FrameCount(); ++k) {
    if (model.FrameBegin(k) == model.FrameEnd(k)) weights.frame[static_cast<size_t>(k)] = 0.0;
  }

  outcome = EnhancedOutcome{};
  const auto show = [&]() {
    if (!picture) return;
    ColorDoubleImage estimate;
    Crop(planes, margin, roiGrid, estimate);
    picture(estimate);
  };
  const auto run = [&](int band, int cap, int& done) {
    const int offset = done;
    const MinimiseResult r = MinimiseEnhanced(model, band, weights, settings.beta, cap, settings.tolerance,
                                              planes[band], [&](int it) {
                                                if (progress) progress(band, offset + it);
                                                if ((offset + it) % kPictureEvery == 0) show();
                                              });
    done += r.iterations;
    outcome.iterations += r.iterations;
    return r.converged;
  };

  // Green first: a few iterations with every frame, then the frames weighted by their own
  // residual, then on to the cap.
  constexpr int kGreen = 1;
  show();
  int greenDone = 0;
  const int firstStage = std::min(kWeightingIterations, settings.maxIterations);
  run(kGreen, firstStage, greenDone);
  ObjectiveScratch scratch;
  outcome.residuals = FrameResiduals(model, kGreen, planes[kGreen], scratch);
  std::vector<double> residualWeights = FrameWeightsFromResiduals(outcome.residuals);
  for (size_t k = 0; k < residualWeights.size(); ++k) weights.frame[k] = std::min(weights.frame[k], residualWeights[k]);
  outcome.weights = weights.frame;
  for (double w : weights.frame) outcome.framesUsed += w > 0.0 ? 1 : 0;
  if (settings.maxIterations > greenDone) run(kGreen, settings.maxIterations - greenDone, greenDone);
  for (int band : {0, 2}) {
    show();
    int done = 0;
    run(band, settings.maxIterations, done);
  }
  Crop(planes, margin, roiGrid, result);
}

}  // namespace lumet
