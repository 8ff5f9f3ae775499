#pragma once

#include <functional>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "numeric/roi_rect.h"
#include "raster/dib_raster.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/reconstruction_method.h"
#include "workbench/ui_port.h"

namespace lumet {

// The steps the classic and the enhanced reconstruction share: what the viewers show and
// which files are written around the estimate, which is all that differs between them.

DibRaster PictureOf(const ColorGrayImage& image);
// The estimate rounded to grey levels into display, as a picture.
DibRaster PictureOf(const ColorDoubleImage& image, ColorGrayImage& display);

// Throws when the homography file of a frame 1 .. frameCount - 1 is missing; the message
// ends with what advice(k) says to do about frame k.
void CheckHomographyFiles(const std::string& pattern, int frameCount, const std::function<std::string(int)>& advice);

// The result viewer and the first-frame viewer, opened when absent and fitted to the grid.
void OpenReconstructionViewers(UiPort& ui, const HrGeometry& grid);

// Frame 0 enlarged onto the grid into display: shown, and written to FirstFramePath(format),
// which is returned.
std::string ShowFirstFrame(UiPort& ui, const ColorGrayImage& frame, const RoiRect& roi, const HrGeometry& grid,
                           ColorGrayImage& display, ImageFormat format);

// The final estimate, rounded to grey levels into display (which takes the estimate's
// metadata, so the file carries it where its format can): shown, written to path with
// samples (Bits16: the estimate itself at 16 bits, EstimateTo16Bit; Float: unquantised,
// WriteEstimateFloat; Bits8: display; ResultSamplesFor chooses) unless path is "", and set as
// the first-frame viewer's comparison picture. Returns path.
std::string ShowAndWriteResult(UiPort& ui, const ColorDoubleImage& estimate, ColorGrayImage& display,
                               const std::string& path, ImageFormat format, ResultSamples samples);
// The same for an estimate already cut to grey levels (any format but TIFF and OpenEXR; "":
// not written).
std::string ShowAndWriteResult(UiPort& ui, const ColorGrayImage& result, const std::string& path, ImageFormat format);

// When the files written in format leave out some of frame 0's metadata (null: it had
// none), one warning about frame 0 naming what is lost, the files and why, also kept among
// the outcome's warnings given.
void WarnMetadataDropped(UiPort& ui, const FileMetadata* metadata, ImageFormat format,
                         const std::vector<std::string>& files, std::vector<ReconstructionWarning>& given);

}  // namespace lumet
