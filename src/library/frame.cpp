#include "lumet/frame.h"

#include <algorithm>
#include <optional>

#include "imageio/image_file.h"
#include "library/conversions.h"
#include "reconstruction/gray_conversion.h"
#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

ColorGrayImage ToColorImage(const Estimate& estimate) {
  const size_t pixels = static_cast<size_t>(std::max(0, estimate.width)) * static_cast<size_t>(std::max(0, estimate.height));
  ColorGrayImage image;
  image.Create(estimate.width, estimate.height);
  DoubleImage band;
  for (size_t c = 0; c < 3; ++c) {
    if (estimate.band[c].size() != pixels) {
      throw Error(Format("band %zu of the %d x %d estimate holds %zu values", c, estimate.width, estimate.height,
                         estimate.band[c].size()));
    }
    band.Create(estimate.width, estimate.height);
    for (int y = 0; y < estimate.height; ++y) {
      const double* in = estimate.band[c].data() + static_cast<size_t>(y) * static_cast<size_t>(estimate.width);
      std::copy(in, in + estimate.width, band.Row(y));
    }
    ConvertToGray(band, image.channels[c], 0, 1.0);
  }
  return image;
}

Frame ToFrame(const Estimate& estimate) { return ToFrame(ToColorImage(estimate)); }

Frame ReadFrame(const std::string& path) {
  UseModulesBesideLibrary();
  ColorGrayImage image;
  ReadImageFile(path, image);
  return ToFrame(image);
}

namespace {

ImageFormat FrameFormat(const std::string& path) {
  const std::string::size_type dot = path.find_last_of('.');
  const std::string extension = dot == std::string::npos ? std::string() : path.substr(dot + 1);
  const std::optional<ImageFormat> format = FrameFileFormat(extension);
  if (!format) throw Error("cannot write " + path + ": its extension must be .bmp, .png, .tif or .tiff");
  return *format;
}

}  // namespace

void WriteFrame(const std::string& path, const Frame& frame) {
  UseModulesBesideLibrary();
  WriteImageFile(path, ToColorImage(frame, path), FrameFormat(path));
}

FrameMetadata ReadFrameMetadata(const std::string& path) {
  UseModulesBesideLibrary();
  ColorGrayImage image;
  ReadImageFile(path, image);
  FrameMetadata metadata;
  if (image.metadata != nullptr) {
    metadata.iccProfile = image.metadata->iccProfile;
    metadata.exif = image.metadata->exif;
  }
  return metadata;
}

void WriteFrame(const std::string& path, const Frame& frame, const FrameMetadata& metadata) {
  UseModulesBesideLibrary();
  const ImageFormat format = FrameFormat(path);
  ColorGrayImage image = ToColorImage(frame, path);
  FileMetadata kept{metadata.iccProfile, metadata.exif};
  if (!kept.Empty()) {
    // Nothing is dropped silently: the caller asked for it to be kept.
    const DroppedMetadata dropped = MetadataDroppedBy(format, kept);
    if (!dropped.parts.empty()) {
      throw Error("cannot write " + path + " with its " + dropped.parts + ": " + dropped.reason + "; " + dropped.remedy);
    }
    image.metadata = std::make_shared<const FileMetadata>(std::move(kept));
  }
  WriteImageFile(path, image, format);
}

}  // namespace lumet
