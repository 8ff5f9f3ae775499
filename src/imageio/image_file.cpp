#include "imageio/image_file.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <vector>

#include "imageio/bmp_file.h"
#include "util/atomic_file.h"
#include "util/error.h"

namespace lumet {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool HasBmpExtension(const std::string& path) {
  return Lower(std::filesystem::path(path).extension().string()) == ".bmp";
}

// The library's own message, or a plain one when it gave none.
std::string LibraryError(const std::string& text, const char* fallback) {
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  const size_t newline = s.find('\n');
  if (newline != std::string::npos) s.erase(newline);
  return s.empty() ? std::string(fallback) : s;
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

// Copies w x h pixels of n interleaved channels into the three planes.
template <typename T, typename Convert>
void Deinterleave(const std::vector<T>& pixels, int w, int h, int n, Convert convert, ColorGrayImage& image) {
  image.Create(w, h);
  // Grey (and grey with alpha) fills all three channels; alpha is ignored.
  const int source[3] = {0, n >= 3 ? 1 : 0, n >= 3 ? 2 : 0};
  for (int y = 0; y < h; ++y) {
    const T* row = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * static_cast<size_t>(n);
    for (int c = 0; c < 3; ++c) {
      uint8_t* out = image.channels[static_cast<size_t>(c)].Row(y);
      for (int x = 0; x < w; ++x) out[x] = convert(row[static_cast<size_t>(x) * static_cast<size_t>(n) + source[c]]);
    }
  }
}

void ReadThroughLibrary(const std::string& path, ColorGrayImage& image) {
  CheckExists(path);
  auto input = OIIO::ImageInput::open(path);
  if (!input) RefuseUnreadable(path, LibraryError(OIIO::geterror(), "not an image file of a supported format"));
  const OIIO::ImageSpec& info = input->spec();
  const int w = info.width;
  const int h = info.height;
  const int n = info.nchannels;
  if (w <= 0 || h <= 0 || w > BmpFile::kMaxDimension || h > BmpFile::kMaxDimension ||
      static_cast<long long>(w) * h > BmpFile::kMaxPixels) {
    throw Error("cannot read " + path + ": " + std::to_string(w) + " x " + std::to_string(h) +
                " pixels is not a size a frame may have");
  }
  if (n < 1) throw Error("cannot read " + path + ": the file has no colour channels");
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(n);
  ColorGrayImage decoded;
  // 8-bit files are taken as they are; everything deeper (16-bit, float) as 16-bit samples,
  // the library's own conversion, then rounded to the nearest 8-bit value.
  if (info.format == OIIO::TypeDesc::UINT8) {
    std::vector<uint8_t> pixels(count);
    if (!input->read_image(0, 0, 0, n, OIIO::TypeDesc::UINT8, pixels.data())) {
      RefuseUnreadable(path, LibraryError(input->geterror(), "the pixel data cannot be decoded"));
    }
    Deinterleave(pixels, w, h, n, [](uint8_t v) { return v; }, decoded);
  } else {
    std::vector<uint16_t> pixels(count);
    if (!input->read_image(0, 0, 0, n, OIIO::TypeDesc::UINT16, pixels.data())) {
      RefuseUnreadable(path, LibraryError(input->geterror(), "the pixel data cannot be decoded"));
    }
    Deinterleave(pixels, w, h, n, To8Bit, decoded);
  }
  input->close();
  image = std::move(decoded);
}

// Encodes interleaved RGB samples of type T with the imaging library into memory.
template <typename T>
std::string EncodeThroughLibrary(const std::string& path, int w, int h, OIIO::TypeDesc type,
                                 const std::vector<T>& pixels) {
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput proxy(bytes);
  auto output = OIIO::ImageOutput::create(path);
  if (!output) throw Error("cannot write " + path + ": " + LibraryError(OIIO::geterror(), "no writer for this format"));
  OIIO::ImageSpec info(w, h, 3, type);
  if (!output->supports("ioproxy") || !output->set_ioproxy(&proxy) || !output->open(path, info) ||
      !output->write_image(type, pixels.data()) || !output->close()) {
    throw Error("cannot write " + path + ": " + LibraryError(output->geterror(), "the encoder failed"));
  }
  return std::string(bytes.begin(), bytes.end());
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

const char* ImageFormatExtension(ImageFormat format) {
  switch (format) {
    case ImageFormat::Png: return ".png";
    case ImageFormat::Tiff: return ".tif";
    case ImageFormat::Bmp: break;
  }
  return ".bmp";
}

std::string SupportedStillFormats() {
  return "BMP, PNG, JPEG, TIFF (8 or 16 bits), WebP, GIF, PNM, TGA, PSD, OpenEXR, HDR, DPX, SGI or JPEG 2000";
}

uint16_t EstimateTo16Bit(double v) {
  if (!(v > 0.0)) return 0;  // also not a number
  const double scaled = std::floor(v * 257.0);
  return scaled >= 65535.0 ? uint16_t{65535} : static_cast<uint16_t>(scaled);
}

void ReadImageFile(const std::string& path, ColorGrayImage& image) {
  if (HasBmpExtension(path)) {
    BmpFile::ReadFrame(path, image);
    return;
  }
  ReadThroughLibrary(path, image);
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
    bytes = EncodeThroughLibrary(path, w, h, OIIO::TypeDesc::UINT8, pixels);
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
    bytes = EncodeThroughLibrary(path, w, h, OIIO::TypeDesc::UINT16, pixels);
  }
  WriteFileAtomically(path, bytes);
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
  WriteFileAtomically(path, EncodeThroughLibrary(path, w, h, OIIO::TypeDesc::UINT16, pixels));
}

}  // namespace lumet
