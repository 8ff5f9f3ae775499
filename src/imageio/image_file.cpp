#include "imageio/image_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <type_traits>
#include <vector>

#include "imageio/bmp_file.h"
#include "imageio/codec_library.h"
#include "imageio/codec_interface.h"
#include "imageio/exif_layout.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/input_file.h"

namespace lumet {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool HasBmpExtension(const std::string& path) {
  return Lower(std::filesystem::path(path).extension().string()) == ".bmp";
}

[[noreturn]] void RefuseUnreadable(const std::string& path, const std::string& reason) {
  throw Error("cannot read " + path + ": " + reason + " (frames may be " + SupportedStillFormats() +
              " files, or a video named by a pattern without %)");
}

void CheckExists(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) throw Error("cannot read " + path + ": no such file");
  if (!std::filesystem::is_regular_file(status)) throw Error("cannot read " + path + ": not a regular file");
}

// Copies w x h pixels of n interleaved channels (1: grey, 3: RGB) into the three planes.
template <typename T, typename Convert>
void Deinterleave(const std::vector<T>& pixels, int w, int h, int n, Convert convert, ColorGrayImage& image) {
  image.Create(w, h);
  const int source[3] = {0, n >= 3 ? 1 : 0, n >= 3 ? 2 : 0};
  for (int y = 0; y < h; ++y) {
    const T* row = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * static_cast<size_t>(n);
    for (int c = 0; c < 3; ++c) {
      uint8_t* out = image.channels[static_cast<size_t>(c)].Row(y);
      for (int x = 0; x < w; ++x) out[x] = convert(row[static_cast<size_t>(x) * static_cast<size_t>(n) + source[c]]);
    }
  }
}

// The deep planes of w x h pixels of n interleaved 16-bit or floating-point channels (as
// Deinterleave); linear: the file says they are linear light.
template <typename T, typename Convert>
std::shared_ptr<const DeepPlanes> DeepPlanesOf(const std::vector<T>& pixels, int w, int h, int n, Convert convert,
                                               bool linear) {
  auto deep = std::make_shared<DeepPlanes>();
  deep->floatSamples = std::is_floating_point_v<T>;
  deep->linearSamples = linear;
  const int source[3] = {0, n >= 3 ? 1 : 0, n >= 3 ? 2 : 0};
  for (int c = 0; c < 3; ++c) {
    FloatImage& plane = deep->channels[c];
    plane.Create(w, h);
    for (int y = 0; y < h; ++y) {
      const T* row = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * static_cast<size_t>(n);
      float* out = plane.Row(y);
      for (int x = 0; x < w; ++x) out[x] = convert(row[static_cast<size_t>(x) * static_cast<size_t>(n) + source[c]]);
    }
  }
  return deep;
}

// A sample that is not a number or infinite would spread through every estimate it reaches.
void CheckFinite(const std::string& path, const codec::StillSamples& samples) {
  const auto bad = std::find_if(samples.samplesFloat.begin(), samples.samplesFloat.end(),
                                [](float v) { return !std::isfinite(v); });
  if (bad == samples.samplesFloat.end()) return;
  const size_t at = static_cast<size_t>(bad - samples.samplesFloat.begin()) / static_cast<size_t>(samples.channels);
  const size_t w = static_cast<size_t>(samples.width);
  throw Error("cannot read " + path + ": the sample at x " + std::to_string(at % w) + ", y " + std::to_string(at / w) +
              " is " + (std::isnan(*bad) ? "not a number" : "infinite") +
              "; frames hold finite values (replace such samples, e.g. by 0, before the reconstruction)");
}

// The three 8-bit channels and, for deeper files, the deep planes of decoded samples.
ColorGrayImage FrameOf(const codec::StillSamples& samples) {
  ColorGrayImage decoded;
  const int w = samples.width;
  const int h = samples.height;
  const int n = samples.channels;
  if (!samples.samplesFloat.empty()) {
    Deinterleave(samples.samplesFloat, w, h, n, FloatTo8Bit, decoded);
    decoded.deep = DeepPlanesOf(samples.samplesFloat, w, h, n, FloatDeepValue, samples.linear);
  } else if (!samples.samples16.empty()) {
    Deinterleave(samples.samples16, w, h, n, To8Bit, decoded);
    decoded.deep = DeepPlanesOf(samples.samples16, w, h, n, DeepValue, samples.linear);
  } else {
    Deinterleave(samples.samples8, w, h, n, [](uint8_t v) { return v; }, decoded);
  }
  return decoded;
}

}  // namespace

ColorGrayImage FrameOf16BitRgb(const std::vector<uint16_t>& rgb, int width, int height) {
  ColorGrayImage frame;
  Deinterleave(rgb, width, height, 3, To8Bit, frame);
  frame.deep = DeepPlanesOf(rgb, width, height, 3, DeepValue, false);  // video samples are encoded, not linear
  return frame;
}

namespace {

// PNG, JPEG and TIFF go to the small still module first (its first bytes tell), everything
// else, and the rare variants it leaves, to the media module.
bool StillModuleFormat(const std::string& bytes) {
  return bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0 || bytes.rfind("\xff\xd8\xff", 0) == 0 ||
         bytes.rfind(std::string("II*\0", 4), 0) == 0 || bytes.rfind(std::string("MM\0*", 4), 0) == 0;
}

codec::Status Decode(const std::string& path, const std::string& bytes, codec::StillSamples& samples,
                     std::string& message) {
  const codec::FrameLimits limits = FrameFileLimits();
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  codec::Status status = codec::Status::kUnsupported;
  if (StillModuleFormat(bytes)) {
    const codec::ModuleTable& still = CodecModule(codec::ModuleKind::kStill, "cannot read " + path);
    status = still.readStill(path.c_str(), data, bytes.size(), &limits, &samples, &message);
  }
  if (status == codec::Status::kUnsupported) {
    message.clear();
    const codec::ModuleTable& media = CodecModule(codec::ModuleKind::kMedia, "cannot read " + path);
    status = media.readStill(path.c_str(), data, bytes.size(), &limits, &samples, &message);
  }
  return status;
}

// Every still format but BMP: decoded by a codec module, loaded on this first need, from
// the bytes read here (so that only a regular file of a frame's size is ever read).
void ReadThroughLibrary(const std::string& path, ColorGrayImage& image) {
  CheckExists(path);
  codec::StillSamples samples;
  std::string message;
  {
    const std::string bytes = ReadWholeFile(path, BmpFile::kMaxFileBytes);
    const codec::Status status = Decode(path, bytes, samples, message);
    if (status == codec::Status::kUnreadable) RefuseUnreadable(path, message);
    if (status == codec::Status::kOutOfMemory && !message.empty()) throw Error(message);
    if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
  }
  CheckFinite(path, samples);
  ColorGrayImage decoded;
  // 8-bit files are taken as they are; deeper ones are rounded here to the nearest 8-bit
  // value and kept beside it as they are.
  const bool deep = samples.samples8.empty();
  try {
    decoded = FrameOf(samples);
    if (!samples.metadata.iccProfile.empty() || !samples.metadata.exif.empty()) {
      decoded.metadata = std::make_shared<const FileMetadata>(
          FileMetadata{std::move(samples.metadata.iccProfile), std::move(samples.metadata.exif)});
    }
  } catch (const std::bad_alloc&) {
    // Three colour planes and the mask, one byte a pixel each, and the deep planes' floats.
    const long long bytes = (deep ? 16LL : 4LL) * samples.width * samples.height;
    throw Error("out of memory reading " + path + " (needs about " + std::to_string((bytes + (1 << 20) - 1) >> 20) +
                " MB)");
  }
  image = std::move(decoded);
}

// OpenEXR is written through the imaging library, PNG and TIFF through their own.
codec::ModuleKind WriterModule(ImageFormat format) {
  return format == ImageFormat::Exr ? codec::ModuleKind::kMedia : codec::ModuleKind::kStill;
}

// Encodes interleaved RGB samples (8 or 16 bits, or floats) in the format path's extension
// selects, with metadata (null: none) where that format's writer keeps it.
template <typename T>
std::string EncodeThroughLibrary(const std::string& path, int w, int h, const std::vector<T>& pixels,
                                 const FileMetadata* metadata, bool half = false) {
  const bool exr = Lower(std::filesystem::path(path).extension().string()) == ".exr";
  const codec::ModuleTable& module =
      CodecModule(WriterModule(exr ? ImageFormat::Exr : ImageFormat::Png), "cannot write " + path);
  codec::StillMetadata kept;
  // A profile that cannot describe the RGB result is left out (MetadataDroppedBy says so).
  if (metadata != nullptr && IccProfileProblem(metadata->iccProfile).empty()) kept.iccProfile = metadata->iccProfile;
  if (metadata != nullptr) kept.exif = metadata->exif;
  std::string bytes;
  std::string message;
  const codec::Status status = module.encodeStill(path.c_str(), w, h, static_cast<int>(8 * sizeof(T)), half,
                                                  pixels.data(), metadata != nullptr ? &kept : nullptr, &bytes,
                                                  &message);
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
  return bytes;
}

// The samples of an image's three channels interleaved, each convert(v) as a T.
template <typename T, typename Image, typename Convert>
std::vector<T> Interleaved(const Image& image, Convert convert) {
  const size_t w = static_cast<size_t>(image.Width());
  const size_t h = static_cast<size_t>(image.Height());
  std::vector<T> pixels(w * h * 3);
  for (size_t y = 0; y < h; ++y) {
    for (size_t c = 0; c < 3; ++c) {
      const auto* row = image.channels[c].Row(static_cast<int>(y));
      for (size_t x = 0; x < w; ++x) pixels[(y * w + x) * 3 + c] = static_cast<T>(convert(row[x]));
    }
  }
  return pixels;
}

void CheckFloatFormat(const std::string& path, ImageFormat format) {
  if (format == ImageFormat::Bmp || format == ImageFormat::Png) {
    throw Error("cannot write " + path + " as floats: " + (format == ImageFormat::Bmp ? "BMP" : "PNG") +
                " holds integers; write .exr or .tif");
  }
}

void CheckHalfFormat(const std::string& path, ImageFormat format) {
  if (format != ImageFormat::Exr) throw Error("cannot write " + path + " as half floats: write .exr");
}

void Check16BitFormat(const std::string& path, ImageFormat format) {
  if (format == ImageFormat::Bmp) throw Error("cannot write " + path + " at 16 bits: BMP holds 8 bits a sample");
  if (format == ImageFormat::Exr) throw Error("cannot write " + path + " at 16 bits: write OpenEXR files as floats");
}

void CheckWholeImage(const std::string& path, int w, int h) {
  if (w <= 0 || h <= 0) {
    throw Error("cannot write " + path + ": an image of " + std::to_string(w) + " x " + std::to_string(h) + " pixels");
  }
}

}  // namespace

std::optional<ImageFormat> ImageFormatOf(const std::string& word) {
  const std::string w = Lower(word);
  if (w == "bmp") return ImageFormat::Bmp;
  if (w == "png") return ImageFormat::Png;
  if (w == "tiff" || w == "tif") return ImageFormat::Tiff;
  if (w == "exr") return ImageFormat::Exr;
  return std::nullopt;
}

ImageFormat ParseImageFormat(const std::string& word) {
  if (const std::optional<ImageFormat> format = ImageFormatOf(word)) return *format;
  throw Error("format '" + word + "' is not one of bmp, png, tiff, exr");
}

std::optional<ImageFormat> FrameFileFormat(const std::string& extension) {
  const std::optional<ImageFormat> format = ImageFormatOf(extension);
  // A frame holds 8-bit levels: OpenEXR files are for results at depth.
  if (format == ImageFormat::Exr) return std::nullopt;
  return format;
}

void CheckImageWriter(ImageFormat format, const std::string& context) {
  if (format != ImageFormat::Bmp) CodecModule(WriterModule(format), context);
}

const char* ImageFormatExtension(ImageFormat format) {
  switch (format) {
    case ImageFormat::Png: return ".png";
    case ImageFormat::Tiff: return ".tif";
    case ImageFormat::Exr: return ".exr";
    case ImageFormat::Bmp: break;
  }
  return ".bmp";
}

std::string SupportedStillFormats() {
  return "BMP, PNG, JPEG, TIFF (8 or 16 bits, or 32-bit float), WebP, GIF, PNM, TGA, PSD, OpenEXR, HDR, DPX, SGI, JPEG 2000 "
         "or camera raw (DNG and the raw files of cameras)";
}

uint8_t FloatTo8Bit(float v) {
  const double scaled = static_cast<double>(v) * 255.0;
  if (!(scaled > 0.0)) return 0;
  return scaled >= 255.0 ? uint8_t{255} : static_cast<uint8_t>(std::floor(scaled + 0.5));
}

uint16_t EstimateTo16Bit(double v) {
  if (!(v > 0.0)) return 0;  // also not a number
  const double scaled = std::floor(v * 257.0);
  return scaled >= 65535.0 ? uint16_t{65535} : static_cast<uint16_t>(scaled);
}

void ReadImageFile(const std::string& path, ColorGrayImage& image) {
  try {
    if (HasBmpExtension(path)) {
      BmpFile::ReadFrame(path, image);
      return;
    }
    ReadThroughLibrary(path, image);
  } catch (const std::bad_alloc&) {
    throw Error("out of memory reading " + path);
  }
}

void WriteImageFile(const std::string& path, const ColorGrayImage& image, ImageFormat format) {
  const int w = image.Width();
  const int h = image.Height();
  if (format == ImageFormat::Bmp) {
    BmpFile::WriteImage(path, image, 0, 0, w, h);
    return;
  }
  CheckWholeImage(path, w, h);
  std::string bytes;
  const FileMetadata* metadata = image.metadata.get();
  if (format == ImageFormat::Png) {
    bytes = EncodeThroughLibrary(path, w, h, Interleaved<uint8_t>(image, [](uint8_t v) { return v; }), metadata);
  } else if (format == ImageFormat::Tiff) {
    bytes = EncodeThroughLibrary(path, w, h, Interleaved<uint16_t>(image, [](uint8_t v) { return v * 257; }), metadata);
  } else {
    bytes = EncodeThroughLibrary(path, w, h, Interleaved<float>(image, [](uint8_t v) { return v / 255.0; }), metadata);
  }
  WriteFileAtomically(path, bytes);
}

namespace {

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

// The header and tag table a PNG writer insists on, so that a profile kept is never one the
// file cannot take.
bool WellFormedIccProfile(const std::string& p) {
  constexpr size_t kHeader = 128;
  if (p.size() < kHeader + 4 || BigEndian32(p, 0) != p.size() || p.compare(36, 4, "acsp") != 0) return false;
  if (p.compare(20, 4, "XYZ ") != 0 && p.compare(20, 4, "Lab ") != 0) return false;
  const uint64_t tags = BigEndian32(p, kHeader);
  if (tags > (p.size() - kHeader - 4) / 12) return false;
  for (uint64_t t = 0; t < tags; ++t) {
    const size_t entry = kHeader + 4 + static_cast<size_t>(t) * 12;
    if (uint64_t{BigEndian32(p, entry + 4)} + BigEndian32(p, entry + 8) > p.size()) return false;
  }
  return true;
}

}  // namespace

std::string IccProfileProblem(const std::string& profile) {
  if (!WellFormedIccProfile(profile)) return "it is not a well-formed ICC profile";
  if (profile.compare(12, 4, "abst") == 0 || profile.compare(12, 4, "link") == 0) {
    return "an abstract or device link profile describes no image's colours";
  }
  if (profile.compare(16, 4, "RGB ") != 0) {
    return "a profile of " + (profile.compare(16, 4, "GRAY") == 0 ? std::string("grey") : profile.substr(16, 4)) +
           " samples does not describe the RGB result";
  }
  return {};
}

namespace {

// The parts of an EXIF block a TIFF result leaves out, as words of a warning ("" when none):
// "EXIF" when it is not a block at all, else e.g. "EXIF thumbnail and tags 0xC4A5, 0x9C9B".
std::string ExifDroppedByTiff(const std::string& block) {
  const std::optional<std::vector<std::string>> drops = exif::TiffDrops(block);
  if (!drops) return "EXIF";
  if (drops->empty()) return {};
  const bool thumbnail = drops->front() == "thumbnail";
  const size_t tags = drops->size() - (thumbnail ? 1 : 0);
  std::string words = thumbnail ? "EXIF thumbnail" : "EXIF";
  if (tags == 0) return words;
  words += thumbnail ? " and " : " ";
  words += tags == 1 ? "tag " : "tags ";
  for (size_t i = thumbnail ? 1 : 0, k = 0; i < drops->size(); ++i, ++k) {
    // "tag 0x9C9B" as given, less its first word; the last of several joined by "and".
    words += (k == 0 ? "" : k + 1 == tags && !thumbnail ? " and " : ", ") + (*drops)[i].substr(4);
  }
  return words;
}

}  // namespace

DroppedMetadata MetadataDroppedBy(ImageFormat format, const FileMetadata& metadata) {
  const bool icc = !metadata.iccProfile.empty();
  const bool exif = !metadata.exif.empty();
  const bool keepsIcc = format == ImageFormat::Png || format == ImageFormat::Tiff;
  const bool keepsExif = format == ImageFormat::Png || format == ImageFormat::Tiff;
  const std::string problem = icc && keepsIcc ? IccProfileProblem(metadata.iccProfile) : std::string();
  const bool iccLost = icc && (!keepsIcc || !problem.empty());
  const std::string exifLost =
      !exif ? std::string() : !keepsExif ? std::string("EXIF")
                            : format == ImageFormat::Tiff ? ExifDroppedByTiff(metadata.exif) : std::string();
  DroppedMetadata dropped;
  if (!iccLost && exifLost.empty()) return dropped;
  dropped.parts = iccLost && !exifLost.empty() ? "ICC profile and " + exifLost : iccLost ? "ICC profile" : exifLost;
  const bool plural = dropped.parts.find(" and ") != std::string::npos || dropped.parts.find("tags") != std::string::npos;
  if (format == ImageFormat::Bmp || format == ImageFormat::Exr) {
    const std::string holder = format == ImageFormat::Bmp ? "BMP holds" : "OpenEXR results keep";
    dropped.reason = holder + (iccLost && !exifLost.empty() ? " neither" : " no " + dropped.parts);
    dropped.remedy = std::string("write PNG or TIFF to keep ") + (plural ? "them" : "it");
    return dropped;
  }
  if (exifLost == "EXIF") {
    dropped.reason = "it is not a well-formed EXIF block";
  } else if (!exifLost.empty()) {
    dropped.reason = "a TIFF result keeps the EXIF, GPS and interoperability directories and the description, "
                     "camera, date and resolution tags of the first";
  }
  if (iccLost) dropped.reason += (dropped.reason.empty() ? "" : "; ") + problem;
  dropped.remedy = !iccLost ? std::string("write PNG to keep ") + (plural ? "them" : "it")
                            : "the result is written without it";
  if (iccLost && !exifLost.empty()) dropped.remedy = "write PNG to keep the " + exifLost;
  return dropped;
}

ResultDepth ParseResultDepth(const std::string& word) {
  if (word == "auto") return ResultDepth::Auto;
  if (word == "8") return ResultDepth::Bits8;
  if (word == "16") return ResultDepth::Bits16;
  if (word == "half") return ResultDepth::Half;
  if (word == "float") return ResultDepth::Float;
  throw Error("depth '" + word + "' is not one of auto, 8, 16, half, float");
}

InputDepth InputDepthOf(const ColorGrayImage& frame) {
  if (frame.deep == nullptr) return InputDepth::Bits8;
  return frame.deep->floatSamples ? InputDepth::Float : InputDepth::Bits16;
}

ResultSamples ResultSamplesFor(ImageFormat format, ResultDepth depth, InputDepth input) {
  if (depth == ResultDepth::Half && format != ImageFormat::Exr) {
    throw Error(std::string(format == ImageFormat::Bmp ? "a BMP" : format == ImageFormat::Png ? "a PNG" : "a TIFF") +
                " result holds no half floats: write exr for half");
  }
  switch (format) {
    case ImageFormat::Bmp:
      if (depth == ResultDepth::Bits16 || depth == ResultDepth::Float) {
        throw Error("a BMP result holds 8 bits a sample: write png or tiff for 16, tiff or exr for float");
      }
      return ResultSamples::Bits8;
    case ImageFormat::Tiff:
      if (depth == ResultDepth::Bits8) throw Error("a TIFF result holds 16 bits or floats a sample: write png or bmp for 8");
      if (depth == ResultDepth::Float || (depth == ResultDepth::Auto && input == InputDepth::Float)) {
        return ResultSamples::Float;
      }
      return ResultSamples::Bits16;
    case ImageFormat::Exr:
      if (depth == ResultDepth::Bits8 || depth == ResultDepth::Bits16) {
        throw Error("an OpenEXR result holds floats (half or float): write png for 8 or 16 bits, tiff for 16");
      }
      return depth == ResultDepth::Half ? ResultSamples::Half : ResultSamples::Float;
    case ImageFormat::Png: break;
  }
  if (depth == ResultDepth::Float) throw Error("a PNG result holds at most 16 bits a sample: write tiff or exr for float");
  const bool sixteen = depth == ResultDepth::Bits16 || (depth == ResultDepth::Auto && input != InputDepth::Bits8);
  return sixteen ? ResultSamples::Bits16 : ResultSamples::Bits8;
}

namespace {

// width x height interleaved RGB samples as they are, in the format path's extension selects.
template <typename T>
void WriteSamples(const std::string& path, int width, int height, const std::vector<T>& rgb,
                  const FileMetadata* metadata, bool half = false) {
  CheckWholeImage(path, width, height);
  WriteFileAtomically(path, EncodeThroughLibrary(path, width, height, rgb, metadata, half));
}

// An estimate's samples, each convert(v) as a T, with the estimate's metadata.
template <typename T, typename Convert>
void WriteEstimateSamples(const std::string& path, const ColorDoubleImage& estimate, Convert convert,
                          bool half = false) {
  CheckWholeImage(path, estimate.Width(), estimate.Height());
  const std::vector<T> pixels = Interleaved<T>(estimate, convert);
  WriteFileAtomically(path, EncodeThroughLibrary(path, estimate.Width(), estimate.Height(), pixels,
                                                 estimate.metadata.get(), half));
}

// 1.0 the nominal white, values beyond 0 .. 1 kept.
double UnitFloat(double v) { return v / 255.0; }

}  // namespace

void WriteEstimate16Bit(const std::string& path, const ColorDoubleImage& estimate, ImageFormat format) {
  Check16BitFormat(path, format);
  WriteEstimateTiff(path, estimate);  // the extension chooses the encoder
}

void WriteSamples16Bit(const std::string& path, int width, int height, const std::vector<uint16_t>& rgb,
                       ImageFormat format, const FileMetadata* metadata) {
  Check16BitFormat(path, format);
  WriteSamples(path, width, height, rgb, metadata);
}

void WriteEstimateTiff(const std::string& path, const ColorDoubleImage& estimate) {
  WriteEstimateSamples<uint16_t>(path, estimate, EstimateTo16Bit);
}

void WriteEstimateFloat(const std::string& path, const ColorDoubleImage& estimate, ImageFormat format) {
  CheckFloatFormat(path, format);
  WriteEstimateSamples<float>(path, estimate, UnitFloat);
}

void WriteEstimateHalf(const std::string& path, const ColorDoubleImage& estimate, ImageFormat format) {
  CheckHalfFormat(path, format);
  WriteEstimateSamples<float>(path, estimate, UnitFloat, true);
}

void WriteSamplesFloat(const std::string& path, int width, int height, const std::vector<float>& rgb,
                       ImageFormat format, const FileMetadata* metadata) {
  CheckFloatFormat(path, format);
  WriteSamples(path, width, height, rgb, metadata);
}

void WriteSamplesHalf(const std::string& path, int width, int height, const std::vector<float>& rgb,
                      ImageFormat format, const FileMetadata* metadata) {
  CheckHalfFormat(path, format);
  WriteSamples(path, width, height, rgb, metadata, true);
}

}  // namespace lumet
