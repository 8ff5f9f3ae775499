#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "imageio/bmp_file.h"
#include "numeric/projection.h"
#include "raster/dib_raster.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/gray_conversion.h"
#include "imageio/homography_file.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/median_estimate.h"
#include "reconstruction/psf_kernel.h"
#include "reconstruction/robust_btv.h"
#include "util/error.h"
#include "util/text_format.h"
#include "workbench/workbench.h"

namespace lumet {

namespace {

// Hole filling needs a 5 x 5 window inside the grid.
constexpr int kMinHrSize = 5;

std::string RoiText(const RoiRect& roi) {
  return Format("roi (left %d, top %d, right %d, bottom %d)", roi.left, roi.top, roi.right, roi.bottom);
}

DibRaster PictureOf(const ColorGrayImage& image) {
  DibRaster raster(0);
  ImageToRaster(image, raster);
  return raster;
}

DibRaster PictureOf(const ColorDoubleImage& image, ColorGrayImage& display) {
  ConvertToGray(image, display);
  return PictureOf(display);
}

// The values that can be refused before any file is read.
void CheckReconstructionParams(const ParamSet& p) {
  if (p.lrCount < 1) {
    throw Error("lrCount " + std::to_string(p.lrCount) + " is below 1: the reconstruction needs frame 0 at least");
  }
  if (p.scale != 3.0 && p.scale != 4.0) throw Error("scale " + FormatG6(p.scale) + " is neither 3 nor 4");
  PsfKernelSize(p.psfSigma, p.scale);
  const int64_t width = static_cast<int64_t>(p.roi.right) - p.roi.left;
  const int64_t height = static_cast<int64_t>(p.roi.bottom) - p.roi.top;
  if (width <= 0 || height <= 0) throw Error(RoiText(p.roi) + " has zero width or height");
}

void CheckRoiInsideFrame(const RoiRect& roi, const std::string& path, int width, int height) {
  if (roi.left < 0 || roi.top < 0 || roi.right > width || roi.bottom > height) {
    throw Error(RoiText(roi) + " does not lie inside frame 0 " + path + " of " + std::to_string(width) + " x " +
                std::to_string(height) + " pixels");
  }
}

void CheckGridSize(const HrGeometry& grid, int kernelSize, const ParamSet& p) {
  // The mirror border of the PSF convolution reaches n - 1 pixels across.
  const int minimum = std::max(kernelSize - 1, kMinHrSize);
  if (grid.width < minimum || grid.height < minimum) {
    throw Error("HR grid of " + std::to_string(grid.width) + " x " + std::to_string(grid.height) + " pixels (" +
                RoiText(p.roi) + " at scale " + FormatG6(p.scale) + ") is smaller than the " + std::to_string(minimum) +
                " pixels each way that the " + std::to_string(kernelSize) + " x " + std::to_string(kernelSize) +
                " PSF kernel of psfSigma " + FormatG6(p.psfSigma) + " needs");
  }
}

}  // namespace

void Workbench::Reconstruction(UiPort& ui) {
  const ParamSet& p = params;
  CheckReconstructionParams(p);
  const int frameCount = p.lrCount;

  // The per-frame stores grow frame by frame, so a count far beyond the frames on disk
  // ends at the first missing file rather than in one huge allocation.
  std::vector<ColorGrayImage> frames(1);
  const std::string firstPath = FormatFrameName(p.lrPattern, 0);
  BmpFile::ReadFrame(firstPath, frames[0]);
  const int w0 = frames[0].channels[0].Width();
  const int h0 = frames[0].channels[0].Height();
  CheckRoiInsideFrame(p.roi, firstPath, w0, h0);
  const HrGeometry grid = MakeHrGeometry(p.roi, p.scale);
  const int kernelSize = PsfKernelSize(p.psfSigma, p.scale);
  CheckGridSize(grid, kernelSize, p);

  if (!ui.ViewerExists(Viewer::Reference))
    ui.CreateViewer(Viewer::Reference, "Reconstructed Image", ScreenRect{0, 0, 300, 300});
  if (!ui.ViewerExists(Viewer::Frame)) ui.CreateViewer(Viewer::Frame, "First Frame", ScreenRect{300, 0, 300, 300});
  ui.FitViewer(Viewer::Reference, grid.width, grid.height);
  ui.FitViewer(Viewer::Frame, grid.width, grid.height);
  ui.SetViewerMode(Viewer::Reference, kModeDisplay);
  ui.SetViewerMode(Viewer::Frame, kModeDisplay);

  // Per frame: read, warp onto the HR grid, measure against frame 0. Layer k belongs to
  // frame k; there are exactly as many layers as frames.
  std::vector<Matrix> hrForms;
  std::vector<ColorDoubleImage> layers;
  std::vector<double> mae;
  ColorGrayImage display;
  for (int k = 0; k < frameCount; ++k) {
    CheckCancel(ui);
    ui.ReportProgress("Reading frames", k + 1, frameCount);
    Matrix homography;
    if (k == 0) {
      homography = IdentityHomography();
      EnlargeByReplication(frames[0], p.roi, grid, display);
      ui.ShowPicture(Viewer::Frame, PictureOf(display));
      BmpFile::WriteImage(kFirstFramePath, display, 0, 0, grid.width, grid.height);
    } else {
      const std::string path = FormatFrameName(p.lrPattern, k);
      frames.emplace_back();
      BmpFile::ReadFrame(path, frames.back());
      const int w = frames.back().channels[0].Width();
      const int h = frames.back().channels[0].Height();
      if (w != w0 || h != h0) {
        throw Error("frame file " + path + " is " + std::to_string(w) + " x " + std::to_string(h) +
                    " pixels, frame 0 is " + std::to_string(w0) + " x " + std::to_string(h0));
      }
      homography = ReadHomographyFile(FormatFrameName(p.homographyPattern, k));
    }
    layers.emplace_back();
    WarpToHrGrid(frames.back(), LrFormOnHrInput(homography, grid.scale), grid, layers.back());
    hrForms.push_back(HrForm(homography, grid.scale));
    ConvertToGray(layers.back(), display);
    const double error = FrameMae(layers.front(), layers.back());
    mae.push_back(error);
    ui.AppendLog(Format("MAE(%d) = %f\r\n", k, error));
    ui.ShowPicture(Viewer::Reference, PictureOf(display));
  }

  const SelectionThreshold threshold = ComputeSelectionThreshold(mae);
  ui.AppendLog(Format("Threshold(%d/%d) = %f\r\n", threshold.index, frameCount, threshold.value));

  int n = 0;
  const FloatMatrix kernel = MakePsfKernel(p.psfSigma, p.scale, n);
  ColorDoubleImage x;
  CountImage count;
  MedianShiftAdd(frames, hrForms, SelectedFrameCount(mae, threshold.value), grid, w0, h0, layers, x, count);
  ui.ShowPicture(Viewer::Reference, PictureOf(x, display));
  const ColorDoubleImage z = x;
  FillHoles(x, count);
  // The samples, the warped layers and the frames are no longer needed.
  layers.clear();
  frames.clear();

  const int totalSteps = kBtvBands * kBtvStepsPerBand;
  RobustBtvIterate(
      x, z, count, kernel, n, p.alpha, p.beta, p.lambda,
      [&](int band, int step) {
        CheckCancel(ui);
        ui.ReportProgress("Reconstruction", band * kBtvStepsPerBand + step + 1, totalSteps);
        ui.SetViewerTitle(Viewer::Reference, Format("reconst.. %d band ---%d steps\n", band, step));
      },
      [&](const ColorDoubleImage& estimate) { ui.ShowPicture(Viewer::Reference, PictureOf(estimate, display)); });

  const DibRaster result = PictureOf(x, display);
  ui.ShowPicture(Viewer::Reference, result);
  BmpFile::WriteImage(p.resultFile, display, 0, 0, grid.width, grid.height);
  ui.SetComparePicture(Viewer::Frame, result);
  ui.SetViewerMode(Viewer::Frame, kModeComparison);
}

}  // namespace lumet
