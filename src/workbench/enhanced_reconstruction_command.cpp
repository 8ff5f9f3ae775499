#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "numeric/projection.h"
#include "params/param_description.h"
#include "raster/dib_raster.h"
#include "reconstruction/enhanced_estimate.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/gray_conversion.h"
#include "reconstruction/homography_reader.h"
#include "reconstruction/hr_geometry.h"
#include "util/error.h"
#include "util/text_format.h"
#include "workbench/frame_source.h"
#include "workbench/output_files.h"
#include "workbench/workbench.h"

namespace lumet {

namespace {

DibRaster PictureOf(const ColorGrayImage& image) {
  DibRaster raster(0);
  ImageToRaster(image, raster);
  return raster;
}

DibRaster PictureOf(const ColorDoubleImage& image, ColorGrayImage& display) {
  ConvertToGray(image, display);
  return PictureOf(display);
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
  settings.maxIterations = enhancedIterations;
  settings.tolerance = enhancedTolerance;
  CheckEnhancedSettings(settings);

  // Frames 0 .. N: the enhanced method uses the last registered frame too.
  const int frameCount = p.lrCount + 1;
  std::vector<ColorGrayImage> frames(1);
  FrameSource source(p.lrPattern, p.startIndex);
  source.Read(0, frames[0]);
  const int w0 = frames[0].channels[0].Width();
  const int h0 = frames[0].channels[0].Height();
  CheckRoiInsideFrame(p.roi, w0, h0);
  const HrGeometry grid = MakeHrGeometry(p.roi, p.scale);
  // Every frame and homography file the loop reads is there before the work starts.
  source.CheckFrames(1, frameCount, w0, h0, [&](int found) {
    return "the enhanced method reconstructs from frames 0 .. " + std::to_string(p.lrCount) + " (--lr-count " +
           std::to_string(p.lrCount) + " plus frame 0), but only " + std::to_string(found) +
           " frames were found from " + source.Name(0) +
           (found >= 2 ? ": use --lr-count " + std::to_string(found - 1) : std::string());
  });
  for (int k = 1; k < frameCount; ++k) {
    const std::string path = FormatFrameName(p.homographyPattern, k);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
      throw Error("the homography file " + path + " of frame " + std::to_string(k) +
                  " is missing: the enhanced method uses frames 0 .. " + std::to_string(p.lrCount) +
                  "; run the registration first with --lr-count " + std::to_string(p.lrCount) + " or more");
    }
  }
  const std::string firstFramePath = FirstFramePath(resultFormat);
  const std::string resultPath = ResultPath(p, resultFormat);

  if (!ui.ViewerExists(Viewer::Reference))
    ui.CreateViewer(Viewer::Reference, "Reconstructed Image", ScreenRect{0, 0, 300, 300});
  if (!ui.ViewerExists(Viewer::Frame)) ui.CreateViewer(Viewer::Frame, "First Frame", ScreenRect{300, 0, 300, 300});
  ui.FitViewer(Viewer::Reference, grid.width, grid.height);
  ui.FitViewer(Viewer::Frame, grid.width, grid.height);
  ui.SetViewerMode(Viewer::Reference, kModeDisplay);
  ui.SetViewerMode(Viewer::Frame, kModeDisplay);

  std::vector<Matrix> homographies;
  ColorGrayImage display;
  ColorDoubleImage layer0;
  for (int k = 0; k < frameCount; ++k) {
    CheckCancel(ui);
    ui.ReportProgress("Reading frames", k + 1, frameCount);
    if (k == 0) {
      homographies.push_back(IdentityHomography());
      EnlargeByReplication(frames[0], p.roi, grid, display);
      ui.ShowPicture(Viewer::Frame, PictureOf(display));
      WriteImageFile(firstFramePath, display, resultFormat);
      filesWritten.push_back(firstFramePath);
    } else {
      frames.emplace_back();
      source.Read(k, frames.back());
      homographies.push_back(ReadHomographyFile(FormatFrameName(p.homographyPattern, k)));
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

  for (int k = 0; k < frameCount; ++k) {
    const size_t i = static_cast<size_t>(k);
    const double weight = i < outcome.weights.size() ? outcome.weights[i] : 0.0;
    ui.AppendLog(Format("Residual(%d) = %f%s\r\n", k, outcome.residuals[i],
                        weight > 0.0 ? (weight < 1.0 ? Format(" weight %.3f", weight).c_str() : "") : " rejected"));
  }
  ui.AppendLog(Format("Enhanced = %d iterations, %d/%d frames\r\n", outcome.iterations, outcome.framesUsed, frameCount));

  const DibRaster result = PictureOf(x, display);
  ui.ShowPicture(Viewer::Reference, result);
  if (resultFormat == ImageFormat::Tiff) {
    WriteEstimateTiff(resultPath, x);
  } else {
    WriteImageFile(resultPath, display, resultFormat);
  }
  filesWritten.push_back(resultPath);
  ui.SetComparePicture(Viewer::Frame, result);
  ui.SetViewerMode(Viewer::Frame, kModeComparison);
}

}  // namespace lumet
