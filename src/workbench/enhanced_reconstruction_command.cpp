#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "numeric/projection.h"
#include "params/param_description.h"
#include "raster/dib_raster.h"
#include "reconstruction/enhanced_estimate.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/gray_conversion.h"
#include "imageio/homography_file.h"
#include "reconstruction/hr_geometry.h"
#include "util/error.h"
#include "util/text_format.h"
#include "workbench/frame_source.h"
#include "workbench/output_files.h"
#include "workbench/reconstruction_steps.h"
#include "workbench/workbench.h"

namespace lumet {

namespace {

// Frames below this share of agreeing pixels are named in a warning.
constexpr double kLowAgreement = 0.35;

// One line per frame (its residual, its weight, whether it was held out to measure the
// estimate, how much of it agrees with frame 0, whether its brightness was matched), the
// totals, and the warning when frame 0 enlarged is written instead.
void LogEnhancedOutcome(UiPort& ui, const EnhancedOutcome& outcome, int frameCount) {
  ui.AppendLog(Format("Noise = %.2f\r\n", outcome.noise));
  for (int k = 0; k < frameCount; ++k) {
    const size_t i = static_cast<size_t>(k);
    const double weight = i < outcome.weights.size() ? outcome.weights[i] : 0.0;
    const bool heldOut = i < outcome.heldOut.size() && outcome.heldOut[i] != 0;
    std::string notes = heldOut ? " held out" : weight > 0.0 ? (weight < 1.0 ? Format(" weight %.3f", weight) : "") : " rejected";
    if (k > 0 && i < outcome.agreement.size() && std::isfinite(outcome.agreement[i])) {
      notes += Format(" agrees %.0f%%", 100.0 * outcome.agreement[i]);
    }
    if (i < outcome.brightnessMatched.size() && outcome.brightnessMatched[i] != 0) notes += " brightness matched";
    ui.AppendLog(Format("Residual(%d) = %f%s\r\n", k, outcome.residuals[i], notes.c_str()));
  }
  ui.AppendLog(Format("Enhanced = %d iterations, %d/%d frames\r\n", outcome.iterations, outcome.framesUsed, frameCount));
  if (std::isfinite(outcome.heldOutError)) {
    ui.AppendLog(Format("Held-out error = %.3f, frame 0 enlarged %.3f\r\n", outcome.heldOutError, outcome.bicubicError));
  }
  for (int k = 1; k < frameCount; ++k) {
    const size_t i = static_cast<size_t>(k);
    if (i < outcome.agreement.size() && outcome.agreement[i] < kLowAgreement) {
      ui.Warn({k, "much of the frame disagrees with frame 0 (something moved, or one homography does not fit it); "
                  "those pixels were left out",
               Format("%.0f %% agrees", 100.0 * outcome.agreement[i]),
               "check its homography file, or leave the frame out"});
    }
  }
  if (outcome.fellBack) {
    ui.Warn({0, "the enhanced estimate was not kept, the result is frame 0 enlarged by cubic convolution", outcome.reason,
             "check the registration, or reconstruct with --method classic"});
  }
}

}  // namespace

void Workbench::EnhancedReconstruction(UiPort& ui) {
  const ParamSet& p = params;
  CheckParams(p);
  EnhancedSettings settings;
  settings.psfSigma = p.psfSigma;
  settings.alpha = p.alpha;
  settings.beta = p.beta;
  settings.lambda = p.lambda;
  settings.maxIterations = p.iterations;
  settings.tolerance = p.tolerance;
  CheckEnhancedSettings(settings);

  // Frames 0 .. N: the enhanced method uses the last registered frame too.
  const int frameCount = p.lrCount + 1;
  std::vector<ColorGrayImage> frames(1);
  FrameSource source(p.lrPattern, p.startIndex, frameImages);
  if (carried_.pattern == p.lrPattern && carried_.startIndex == p.startIndex) source.Adopt(std::move(carried_.frames));
  carried_ = CarriedFrames{};
  source.Read(0, frames[0]);
  const int w0 = frames[0].channels[0].Width();
  const int h0 = frames[0].channels[0].Height();
  CheckRoiFitsFrame(p.roi, w0, h0);
  const HrGeometry grid = MakeHrGeometry(p.roi, p.scale);
  // Every frame and homography file the loop reads is there before the work starts.
  source.CheckFrames(1, frameCount, w0, h0, [&](int found) {
    return "the enhanced method reconstructs from frames 0 .. " + std::to_string(p.lrCount) + " (--lr-count " +
           std::to_string(p.lrCount) + " plus frame 0), but only " + std::to_string(found) +
           " frames were found from " + source.Name(0) +
           (found >= 2 ? ": use --lr-count " + std::to_string(found - 1) : std::string());
  });
  CheckHomographies(frameCount, [&](int) {
    return "the enhanced method uses frames 0 .. " + std::to_string(p.lrCount) +
           "; run the registration first with --lr-count " + std::to_string(p.lrCount) + " or more";
  });

  OpenReconstructionViewers(ui, grid);

  std::vector<Matrix> homographies;
  ColorGrayImage display;
  ColorDoubleImage layer0;
  for (int k = 0; k < frameCount; ++k) {
    CheckCancel(ui);
    ui.ReportProgress("Reading frames", k + 1, frameCount);
    if (k == 0) {
      homographies.push_back(IdentityHomography());
      Wrote(ShowFirstFrame(ui, frames[0], p.roi, grid, display, resultFormat, writeFiles));
    } else {
      frames.emplace_back();
      source.Read(k, frames.back());
      homographies.push_back(FrameHomography(k));
    }
    ColorDoubleImage layer;
    WarpToHrGrid(frames.back(), LrFormOnHrInput(homographies.back(), grid.scale), grid, layer);
    if (k == 0) layer0 = layer;
    ConvertToGray(layer, display);
    ui.AppendLog(Format("MAE(%d) = %f\r\n", k, FrameMae(layer0, layer)));
    ui.ShowPicture(Viewer::Reference, PictureOf(display));
  }

  ColorDoubleImage x;
  EnhancedOutcome outcome;
  const int totalSteps = 3 * settings.maxIterations;
  const int bandOrder[3] = {1, 0, 2};  // green first
  EnhancedReconstruct(
      frames, homographies, grid, settings, x, outcome,
      [&](int band, int iteration) {
        CheckCancel(ui);
        int position = 0;
        while (bandOrder[position] != band) ++position;
        ui.ReportProgress("Reconstruction", std::min(totalSteps, position * settings.maxIterations + iteration),
                          totalSteps);
        ui.SetViewerTitle(Viewer::Reference, Format("reconst.. %d band ---%d steps\n", band, iteration));
      },
      [&](const ColorDoubleImage& estimate) { ui.ShowPicture(Viewer::Reference, PictureOf(estimate, display)); });

  LogEnhancedOutcome(ui, outcome, frameCount);
  Wrote(ShowAndWriteResult(ui, x, display, writeFiles ? ResultPath(p, resultFormat) : std::string(), resultFormat));
  if (!writeFiles) resultImage = display;
}

}  // namespace lumet
