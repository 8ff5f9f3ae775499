#include "workbench/reconstruction_steps.h"

#include <filesystem>
#include <system_error>

#include "imageio/homography_file.h"
#include "params/param_set.h"
#include "reconstruction/gray_conversion.h"
#include "util/error.h"
#include "util/text_format.h"
#include "workbench/output_files.h"
#include "workbench/workbench.h"

namespace lumet {

DibRaster PictureOf(const ColorGrayImage& image) {
  DibRaster raster(0);
  ImageToRaster(image, raster);
  return raster;
}

DibRaster PictureOf(const ColorDoubleImage& image, ColorGrayImage& display) {
  ConvertToGray(image, display);
  return PictureOf(display);
}

void CheckHomographyFiles(const std::string& pattern, int frameCount, const std::function<std::string(int)>& advice) {
  for (int k = 1; k < frameCount; ++k) {
    const std::string path = FormatFrameName(pattern, k);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
      throw Error("the homography file " + path + " of frame " + std::to_string(k) + " is missing: " + advice(k));
    }
  }
}

void OpenReconstructionViewers(UiPort& ui, const HrGeometry& grid) {
  if (!ui.ViewerExists(Viewer::Reference))
    ui.CreateViewer(Viewer::Reference, "Reconstructed Image", StartingRect(Viewer::Reference));
  if (!ui.ViewerExists(Viewer::Frame)) ui.CreateViewer(Viewer::Frame, "First Frame", StartingRect(Viewer::Frame));
  ui.FitViewer(Viewer::Reference, grid.width, grid.height);
  ui.FitViewer(Viewer::Frame, grid.width, grid.height);
  ui.SetViewerMode(Viewer::Reference, kModeDisplay);
  ui.SetViewerMode(Viewer::Frame, kModeDisplay);
}

std::string ShowFirstFrame(UiPort& ui, const ColorGrayImage& frame, const RoiRect& roi, const HrGeometry& grid,
                           ColorGrayImage& display, ImageFormat format) {
  EnlargeByReplication(frame, roi, grid, display);
  display.metadata = frame.metadata;  // the same colours as frame 0's file
  ui.ShowPicture(Viewer::Frame, PictureOf(display));
  const std::string path = FirstFramePath(format);
  WriteImageFile(path, display, format);
  return path;
}

namespace {

void CompareWithResult(UiPort& ui, const DibRaster& result) {
  ui.SetComparePicture(Viewer::Frame, result);
  ui.SetViewerMode(Viewer::Frame, kModeComparison);
}

}  // namespace

std::string ShowAndWriteResult(UiPort& ui, const ColorDoubleImage& estimate, ColorGrayImage& display,
                               const std::string& path, ImageFormat format, ResultSamples samples) {
  const DibRaster result = PictureOf(estimate, display);
  display.metadata = estimate.metadata;
  ui.ShowPicture(Viewer::Reference, result);
  // A 16-bit result holds the estimate itself; its samples divided by 257 are the 8-bit
  // result the other formats hold. A float result holds it unquantised (over 255).
  if (path.empty()) {
    // Kept in memory by the caller.
  } else if (samples == ResultSamples::Float) {
    WriteEstimateFloat(path, estimate, format);
  } else if (samples == ResultSamples::Half) {
    WriteEstimateHalf(path, estimate, format);
  } else if (samples == ResultSamples::Bits16 || format == ImageFormat::Tiff) {
    WriteEstimate16Bit(path, estimate, format);
  } else {
    WriteImageFile(path, display, format);
  }
  CompareWithResult(ui, result);
  return path;
}

void WarnMetadataDropped(UiPort& ui, const FileMetadata* metadata, ImageFormat format,
                         const std::vector<std::string>& files, std::vector<ReconstructionWarning>& given) {
  if (metadata == nullptr) return;
  const DroppedMetadata dropped = MetadataDroppedBy(format, *metadata);
  if (dropped.parts.empty() || files.empty()) return;
  std::string names;
  for (size_t i = 0; i < files.size(); ++i) names += (i == 0 ? "" : i + 1 == files.size() ? " and " : ", ") + files[i];
  const bool both = dropped.parts.find(" and ") != std::string::npos;
  const FrameWarning w{0, "its " + dropped.parts + (both ? " are" : " is") + " not kept in " + names, dropped.reason,
                       dropped.remedy};
  ui.Warn(w);
  given.push_back({w.frame, w.kind, w.detail, w.remedy});
}

std::string ShowAndWriteResult(UiPort& ui, const ColorGrayImage& result, const std::string& path, ImageFormat format) {
  const DibRaster picture = PictureOf(result);
  ui.ShowPicture(Viewer::Reference, picture);
  if (!path.empty()) WriteImageFile(path, result, format);
  CompareWithResult(ui, picture);
  return path;
}

Matrix Workbench::FrameHomography(int k) const {
  return ReadHomographyFile(FormatFrameName(params.homographyPattern, k));
}

void Workbench::CheckHomographies(int frameCount, const std::function<std::string(int)>& advice) const {
  CheckHomographyFiles(params.homographyPattern, frameCount, advice);
}

}  // namespace lumet
