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
#include "reconstruction/enhanced_tiles.h"
#include "reconstruction/psf_kernel.h"
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

int Workbench::EnhancedTiles(const HrGeometry& grid, int w0, int h0, int frameCount) const {
  const ParamSet& p = params;
  const size_t pixels = static_cast<size_t>(grid.width) * static_cast<size_t>(grid.height);
  const size_t frames = 3 * static_cast<size_t>(w0) * static_cast<size_t>(h0) * static_cast<size_t>(frameCount);
  // Held beside the solve: the frames, the result (three channels of doubles) and two 8-bit
  // pictures; before it, two warped frames of three channels each instead of the result.
  const size_t around = kProgramBytes + frames + 6 * pixels;
  const std::string what = Format("The enhanced reconstruction of the %d x %d HR grid", grid.width, grid.height);
  const std::string advice = "give a larger limit, or a smaller ROI or scale";
  CheckMemoryNeed(what, around + 6 * sizeof(double) * pixels, memoryLimit, advice);
  const size_t held = around + 3 * sizeof(double) * pixels;
  const int taps = PsfKernelSize(p.psfSigma, p.scale);
  const int side = EnhancedTileSide(grid, taps, memoryLimit > held ? memoryLimit - held : 0);
  if (side == 0) {
    HrGeometry smallest = grid;
    smallest.width = std::min(grid.width, 64 + 2 * kEnhancedTileOverlap);
    smallest.height = std::min(grid.height, 64 + 2 * kEnhancedTileOverlap);
    CheckMemoryNeed(what, held + EnhancedSolveBytes(smallest, taps), memoryLimit, advice);
  }
  return side;
}

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

  const int tileSide = EnhancedTiles(grid, w0, h0, frameCount);
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
  layer0.Free();

  ColorDoubleImage x;
  EnhancedOutcome outcome;
  const int totalSteps = 3 * settings.maxIterations;
  const int bandOrder[3] = {1, 0, 2};  // green first
  if (tileSide < grid.width || tileSide < grid.height) {
    ui.AppendLog(Format("Tiles = %d x %d HR pixels, %d beyond each side\r\n", tileSide, tileSide, kEnhancedTileOverlap));
  }
  EnhancedReconstructTiled(
      frames, homographies, grid, settings, tileSide, x, outcome,
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

  Wrote(ShowAndWriteResult(ui, x, display, writeFiles ? ResultPath(p, resultFormat) : std::string(), resultFormat));
  if (!writeFiles) resultImage = display;
}

}  // namespace lumet
