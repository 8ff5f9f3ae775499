#include "codecs/still_codec.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <vector>

#include "codecs/codec_failure.h"

namespace lumet::codec {

namespace {

// The library's own message, or a plain one when it gave none.
std::string LibraryError(const std::string& text, const char* fallback) {
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  const size_t newline = s.find('\n');
  if (newline != std::string::npos) s.erase(newline);
  return s.empty() ? std::string(fallback) : s;
}

}  // namespace

void ReadStill(const std::string& path, const FrameLimits& limits, StillSamples& out) {
  auto input = OIIO::ImageInput::open(path);
  if (!input) FailUnreadable(LibraryError(OIIO::geterror(), "not an image file of a supported format"));
  // Sizes and sample type of the first image are all that is read here.
  const OIIO::ImageSpec info = input->spec_dimensions(0);
  const int w = info.width;
  const int h = info.height;
  const int n = info.nchannels;
  if (w <= 0 || h <= 0 || w > limits.maxDimension || h > limits.maxDimension ||
      static_cast<long long>(w) * h > limits.maxPixels) {
    Fail("cannot read " + path + ": " + std::to_string(w) + " x " + std::to_string(h) +
         " pixels is not a size a frame may have");
  }
  if (n < 1) Fail("cannot read " + path + ": the file has no colour channels");
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(n);
  StillSamples decoded;
  decoded.width = w;
  decoded.height = h;
  decoded.channels = n;
  // 8-bit files are taken as they are; everything deeper (16-bit, float) as 16-bit samples,
  // the library's own conversion (the program rounds them to 8 bits).
  if (info.format == OIIO::TypeDesc::UINT8) {
    decoded.samples8.resize(count);
    if (!input->read_image(0, 0, 0, n, OIIO::TypeDesc::UINT8, decoded.samples8.data())) {
      FailUnreadable(LibraryError(input->geterror(), "the pixel data cannot be decoded"));
    }
  } else {
    decoded.samples16.resize(count);
    if (!input->read_image(0, 0, 0, n, OIIO::TypeDesc::UINT16, decoded.samples16.data())) {
      FailUnreadable(LibraryError(input->geterror(), "the pixel data cannot be decoded"));
    }
  }
  input->close();
  out = std::move(decoded);
}

std::string EncodeStill(const std::string& path, int width, int height, int bitsPerSample, const void* samples) {
  const OIIO::TypeDesc type = bitsPerSample == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput proxy(bytes);
  auto output = OIIO::ImageOutput::create(path);
  if (!output) Fail("cannot write " + path + ": " + LibraryError(OIIO::geterror(), "no writer for this format"));
  OIIO::ImageSpec info(width, height, 3, type);
  if (!output->supports("ioproxy") || !output->set_ioproxy(&proxy) || !output->open(path, info) ||
      !output->write_image(type, samples) || !output->close()) {
    Fail("cannot write " + path + ": " + LibraryError(output->geterror(), "the encoder failed"));
  }
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace lumet::codec
