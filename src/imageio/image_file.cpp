#include "imageio/image_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "imageio/bmp_file.h"
#include "imageio/codec_library.h"
#include "imageio/codec_interface.h"
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

// The deep planes of w x h pixels of n interleaved 16-bit channels (as Deinterleave).
std::shared_ptr<const DeepPlanes> DeepPlanesOf(const std::vector<uint16_t>& pixels, int w, int h, int n) {
  auto deep = std::make_shared<DeepPlanes>();
  const int source[3] = {0, n >= 3 ? 1 : 0, n >= 3 ? 2 : 0};
  for (int c = 0; c < 3; ++c) {
    FloatImage& plane = deep->channels[c];
    plane.Create(w, h);
    for (int y = 0; y < h; ++y) {
      const uint16_t* row = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * static_cast<size_t>(n);
      float* out = plane.Row(y);
      for (int x = 0; x < w; ++x) out[x] = DeepValue(row[static_cast<size_t>(x) * static_cast<size_t>(n) + source[c]]);
    }
  }
  return deep;
}

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
  ColorGrayImage decoded;
  // 8-bit files are taken as they are; everything deeper comes as 16-bit samples, rounded
  // here to the nearest 8-bit value and kept beside it as they are.
  const bool deep = !samples.samples16.empty();
  try {
    if (!deep) {
      Deinterleave(samples.samples8, samples.width, samples.height, samples.channels, [](uint8_t v) { return v; }, decoded);
    } else {
      Deinterleave(samples.samples16, samples.width, samples.height, samples.channels, To8Bit, decoded);
      decoded.deep = DeepPlanesOf(samples.samples16, samples.width, samples.height, samples.channels);
    }
  } catch (const std::bad_alloc&) {
    // Three colour planes and the mask, one byte a pixel each, and the deep planes' floats.
    const long long bytes = (deep ? 16LL : 4LL) * samples.width * samples.height;
    throw Error("out of memory reading " + path + " (needs about " + std::to_string((bytes + (1 << 20) - 1) >> 20) +
                " MB)");
  }
  image = std::move(decoded);
}

// Encodes interleaved RGB samples (8 or 16 bits) in the format path's extension selects.
template <typename T>
std::string EncodeThroughLibrary(const std::string& path, int w, int h, const std::vector<T>& pixels) {
  const codec::ModuleTable& module = CodecModule(codec::ModuleKind::kStill, "cannot write " + path);
  std::string bytes;
  std::string message;
  const codec::Status status =
      module.encodeStill(path.c_str(), w, h, static_cast<int>(8 * sizeof(T)), pixels.data(), &bytes, &message);
  if (status != codec::Status::kOk) ThrowCodecFailure(status, message);
  return bytes;
}

void CheckWholeImage(const std::string& path, int w, int h) {
  if (w <= 0 || h <= 0) {
    throw Error("cannot write " + path + ": an image of " + std::to_string(w) + " x " + std::to_string(h) + " pixels");
  }
}

}  // namespace

ImageFormat ParseImageFormat(const std::string& word) {
  const std::string w = Lower(word);
  if (w == "bmp") return ImageFormat::Bmp;
  if (w == "png") return ImageFormat::Png;
  if (w == "tiff" || w == "tif") return ImageFormat::Tiff;
  throw Error("format '" + word + "' is not one of bmp, png, tiff");
}

void CheckImageWriter(ImageFormat format, const std::string& context) {
  if (format != ImageFormat::Bmp) CodecModule(codec::ModuleKind::kStill, context);
}

const char* ImageFormatExtension(ImageFormat format) {
  switch (format) {
    case ImageFormat::Png: return ".png";
    case ImageFormat::Tiff: return ".tif";
    case ImageFormat::Bmp: break;
  }
  return ".bmp";
}

std::string SupportedStillFormats() {
  return "BMP, PNG, JPEG, TIFF (8 or 16 bits), WebP, GIF, PNM, TGA, PSD, OpenEXR, HDR, DPX, SGI, JPEG 2000 or camera raw (DNG and the raw files of cameras)";
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
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h) * 3;
  std::string bytes;
  if (format == ImageFormat::Png) {
    std::vector<uint8_t> pixels(count);
    for (int y = 0; y < h; ++y) {
      for (int c = 0; c < 3; ++c) {
        const uint8_t* row = image.channels[static_cast<size_t>(c)].Row(y);
        for (int x = 0; x < w; ++x) pixels[(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3 + static_cast<size_t>(c)] = row[x];
      }
    }
    bytes = EncodeThroughLibrary(path, w, h, pixels);
  } else {
    std::vector<uint16_t> pixels(count);
    for (int y = 0; y < h; ++y) {
      for (int c = 0; c < 3; ++c) {
        const uint8_t* row = image.channels[static_cast<size_t>(c)].Row(y);
        for (int x = 0; x < w; ++x) {
          pixels[(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3 + static_cast<size_t>(c)] =
              static_cast<uint16_t>(row[x] * 257);
        }
      }
    }
    bytes = EncodeThroughLibrary(path, w, h, pixels);
  }
  WriteFileAtomically(path, bytes);
}

ResultDepth ParseResultDepth(const std::string& word) {
  if (word == "auto") return ResultDepth::Auto;
  if (word == "8") return ResultDepth::Bits8;
  if (word == "16") return ResultDepth::Bits16;
  throw Error("depth '" + word + "' is not one of auto, 8, 16");
}

bool WritesSixteenBits(ImageFormat format, ResultDepth depth, bool deepInput) {
  switch (format) {
    case ImageFormat::Bmp:
      if (depth == ResultDepth::Bits16) throw Error("a BMP result holds 8 bits a sample: write png or tiff for 16");
      return false;
    case ImageFormat::Tiff:
      if (depth == ResultDepth::Bits8) throw Error("a TIFF result holds 16 bits a sample: write png or bmp for 8");
      return true;
    case ImageFormat::Png: break;
  }
  return depth == ResultDepth::Bits16 || (depth == ResultDepth::Auto && deepInput);
}

void WriteEstimate16Bit(const std::string& path, const ColorDoubleImage& estimate, ImageFormat format) {
  if (format == ImageFormat::Bmp) throw Error("cannot write " + path + " at 16 bits: BMP holds 8 bits a sample");
  WriteEstimateTiff(path, estimate);  // the extension chooses the encoder
}

void WriteSamples16Bit(const std::string& path, int width, int height, const std::vector<uint16_t>& rgb,
                       ImageFormat format) {
  if (format == ImageFormat::Bmp) throw Error("cannot write " + path + " at 16 bits: BMP holds 8 bits a sample");
  CheckWholeImage(path, width, height);
  WriteFileAtomically(path, EncodeThroughLibrary(path, width, height, rgb));
}

void WriteEstimateTiff(const std::string& path, const ColorDoubleImage& estimate) {
  const int w = estimate.Width();
  const int h = estimate.Height();
  CheckWholeImage(path, w, h);
  std::vector<uint16_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
  for (int y = 0; y < h; ++y) {
    for (int c = 0; c < 3; ++c) {
      const double* row = estimate.channels[static_cast<size_t>(c)].Row(y);
      for (int x = 0; x < w; ++x) {
        pixels[(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3 + static_cast<size_t>(c)] =
            EstimateTo16Bit(row[x]);
      }
    }
  }
  WriteFileAtomically(path, EncodeThroughLibrary(path, w, h, pixels));
}

}  // namespace lumet
