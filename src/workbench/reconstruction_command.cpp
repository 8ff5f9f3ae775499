#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "numeric/projection.h"
#include "params/param_description.h"
#include "raster/dib_raster.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/gray_conversion.h"
#include "imageio/homography_file.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/median_estimate.h"
#include "reconstruction/psf_kernel.h"
#include "reconstruction/robust_btv.h"
#include "util/error.h"
#include "util/parallel.h"
#include "util/text_format.h"
#include "workbench/frame_source.h"
#include "workbench/output_files.h"
#include "workbench/reconstruction_steps.h"
#include "workbench/workbench.h"

namespace lumet {

void Workbench::Reconstruction(UiPort& ui) {
  if (params.method == kEnhancedMethod) {
    EnhancedReconstruction(ui);
    return;
  }
  const ParamSet& p = params;
  CheckParams(p);
  const int frameCount = p.lrCount;

  // The per-frame stores grow frame by frame, so a count far beyond the frames on disk
  // ends at the first missing file rather than in one huge allocation.
  std::vector<ColorGrayImage> frames(1);
  FrameSource source(p.lrPattern, p.startIndex, frameImages);
  if (carried_.pattern == p.lrPattern && carried_.startIndex == p.startIndex) source.Adopt(std::move(carried_.frames));
  carried_ = CarriedFrames{};
  const std::string firstPath = source.Name(0);
  source.Read(0, frames[0]);
  const int w0 = frames[0].channels[0].Width();
  const int h0 = frames[0].channels[0].Height();
  CheckRoiFitsFrame(p.roi, w0, h0);
  const HrGeometry grid = MakeHrGeometry(p.roi, p.scale);
  // Every frame and homography file the loop reads is there before the work starts.
  source.CheckFrames(1, frameCount, w0, h0,
                     [&](int found) { return ReconstructionShortage(source, frameCount, found); });
  CheckHomographies(frameCount, [&](int k) {
    return "run the registration first with --lr-count " + std::to_string(frameCount - 1) +
           " or more, or use --lr-count " + std::to_string(k);
  });

  OpenReconstructionViewers(ui, grid);

  // Frame k and the form that takes the HR grid onto it (frame 0: the identity, and the
  // enlarged first frame shown and written).
  std::vector<Matrix> hrForms;
  std::vector<Matrix> lrForms;
  ColorGrayImage display;
  const auto readFrame = [&](int k) {
    Matrix homography;
    if (k == 0) {
      homography = IdentityHomography();
      Wrote(ShowFirstFrame(ui, frames[0], p.roi, grid, display, resultFormat, writeFiles));
    } else {
      const std::string path = source.Name(k);
      frames.emplace_back();
      source.Read(k, frames.back());
      const int w = frames.back().channels[0].Width();
      const int h = frames.back().channels[0].Height();
      if (w != w0 || h != h0) {
        throw Error("frame file " + path + " is " + std::to_string(w) + " x " + std::to_string(h) +
                    " pixels, frame 0 is " + std::to_string(w0) + " x " + std::to_string(h0));
      }
      homography = FrameHomography(k);
    }
    lrForms.push_back(LrFormOnHrInput(homography, grid.scale));
    hrForms.push_back(HrForm(homography, grid.scale));
  };
  const auto logMae = [&](int k, double error) { ui.AppendLog(Format("MAE(%d) = %f\r\n", k, error)); };

  std::vector<double> mae;
  if (ui.ShowsWorkInProgress()) {
    // Per frame: read, warp onto the HR grid, show, measure against frame 0. Only layer 0
    // (whose green channel every frame is measured against) and the current layer are held.
    ColorDoubleImage layer0;
    ColorDoubleImage layer;
    for (int k = 0; k < frameCount; ++k) {
      CheckCancel(ui);
      ui.ReportProgress("Reading frames", k + 1, frameCount);
      readFrame(k);
      WarpToHrGrid(frames.back(), lrForms.back(), grid, layer);
      ConvertToGray(layer, display);
      if (k == 0) {
        layer0 = layer;
        layer0.channels[0].Free();  // the frame errors read green only
        layer0.channels[2].Free();
      }
      mae.push_back(FrameMae(layer0, layer));
      logMae(k, mae.back());
      ui.ShowPicture(Viewer::Reference, PictureOf(display));
    }
  } else {
    // Nobody watches the warped frames: the frame errors need only their green channel, and
    // the frames are measured in parallel once read. A frame that cannot be read stops the
    // command after the errors of the frames before it are logged, as frame by frame.
    std::exception_ptr failure;
    for (int k = 0; k < frameCount; ++k) {
      CheckCancel(ui);
      ui.ReportProgress("Reading frames", k + 1, frameCount);
      try {
        readFrame(k);
      } catch (...) {
        failure = std::current_exception();
        break;
      }
    }
    const int read = static_cast<int>(lrForms.size());
    if (read == 0) std::rethrow_exception(failure);
    DoubleImage green0;
    WarpToHrGrid(frames[0].channels[1], lrForms[0], grid, green0);
    mae.assign(static_cast<size_t>(read), 0.0);
    mae[0] = FrameMae(green0, green0);
    ParallelFor(1, read, 20L * grid.width * grid.height, [&](int lo, int hi) {
      DoubleImage green;
      for (int k = lo; k < hi; ++k) {
        WarpToHrGrid(frames[static_cast<size_t>(k)].channels[1], lrForms[static_cast<size_t>(k)], grid, green);
        mae[static_cast<size_t>(k)] = FrameMae(green0, green);
      }
    });
    for (int k = 0; k < read; ++k) logMae(k, mae[static_cast<size_t>(k)]);
    if (failure) std::rethrow_exception(failure);
  }

  const SelectionThreshold threshold = ComputeSelectionThreshold(mae);
  ui.AppendLog(Format("Threshold(%d/%d) = %f\r\n", threshold.index, frameCount, threshold.value));

  int n = 0;
  const FloatMatrix kernel = MakePsfKernel(p.psfSigma, p.scale, n);
  ColorDoubleImage x;
  CountImage count;
  MedianShiftAdd(frames, hrForms, SelectedFrameCount(mae, threshold.value), grid, w0, h0, x, count);
  const bool showWork = ui.ShowsWorkInProgress();
  if (showWork) ui.ShowPicture(Viewer::Reference, PictureOf(x, display));
  const ColorDoubleImage z = x;
  FillHoles(x, count);
  // The frames are no longer needed.
  frames.clear();
  frames.shrink_to_fit();

  const int totalSteps = kBtvBands * kBtvStepsPerBand;
  RobustBtvIterate(
      x, z, count, kernel, n, p.alpha, p.beta, p.lambda,
      [&](int band, int step) {
        CheckCancel(ui);
        ui.ReportProgress("Reconstruction", band * kBtvStepsPerBand + step + 1, totalSteps);
        ui.SetViewerTitle(Viewer::Reference, Format("reconst.. %d band ---%d steps\n", band, step));
      },
      showWork ? BtvPicture([&](const ColorDoubleImage& estimate) {
        ui.ShowPicture(Viewer::Reference, PictureOf(estimate, display));
      })
               : BtvPicture());

  Wrote(ShowAndWriteResult(ui, x, display, writeFiles ? ResultPath(p, resultFormat) : std::string(), resultFormat));
  if (!writeFiles) resultImage = display;
}

}  // namespace lumet
