#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <memory>
#include <set>
#include <vector>

#include "codecs/codec_failure.h"
#include "codecs/oiio_still.h"
#include "codecs/still_formats.h"

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

// The readers a frame may come through; anything else the library has (its "null" reader
// that makes up pictures from a file name, raw camera files, ...) is refused.
bool AllowedFormat(const std::string& format) {
  static const std::set<std::string> kAllowed = {"png",  "jpeg", "tiff",    "bmp", "webp", "gif",      "pnm",
                                                 "targa", "psd", "openexr", "hdr", "dpx",  "jpeg2000", "sgi"};
  return kAllowed.count(format) != 0;
}

// header receives the first image's header as open gives it (its attributes are read from
// it; the sizes and sample type later).
std::unique_ptr<OIIO::ImageInput> OpenInput(const std::string& name, OIIO::Filesystem::IOProxy* proxy,
                                            OIIO::ImageSpec& header) {
  OIIO::ImageSpec config;
  // Alpha stays out of the colours (it is dropped below), as the frame file holds them.
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto input = OIIO::ImageInput::create(name, false, &config, proxy);
  // A reader that cannot take the bytes from memory opens the file itself (the program has
  // checked that it is a regular file).
  if (!input || !input->supports("ioproxy")) {
    (void)OIIO::geterror();
    input = OIIO::ImageInput::create(name, false, &config);
    proxy = nullptr;
  }
  if (!input) FailUnreadable(LibraryError(OIIO::geterror(), "not an image file of a supported format"));
  if (!AllowedFormat(input->format_name())) {
    FailUnreadable(std::string("its format (") + input->format_name() + ") is not one frames may have");
  }
  if (proxy != nullptr) input->set_ioproxy(proxy);
  if (!input->open(name, header, config)) {
    FailUnreadable(LibraryError(input->geterror(), "not an image file of a supported format"));
  }
  return input;
}

// The profile the library gives every reader's files as the "ICCProfile" attribute; EXIF it
// gives as separate values, not as the file's block, so that is not kept.
std::string IccProfileOf(const OIIO::ImageSpec& header) {
  const OIIO::ParamValue* profile = header.find_attribute("ICCProfile");
  if (profile == nullptr || profile->type().basetype != OIIO::TypeDesc::UINT8) return {};
  return std::string(static_cast<const char*>(profile->data()), static_cast<size_t>(profile->datasize()));
}

}  // namespace

void ReadStill(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
               StillSamples& out) {
  OIIO::Filesystem::IOMemReader memory(bytes, size);
  OIIO::ImageSpec header;
  auto input = OpenInput(name, &memory, header);
  // Sizes and sample type of the first image are all that is read here.
  const OIIO::ImageSpec info = input->spec_dimensions(0);
  const int n = info.nchannels;
  if (n < 1) Fail("cannot read " + name + ": the file has no colour channels");
  if (n > kMaxFileChannels) {
    Fail("cannot read " + name + ": it has " + std::to_string(n) + " channels; a frame has 1 to " +
         std::to_string(kMaxFileChannels) + " (grey or RGB, with or without alpha)");
  }
  if (std::string(input->format_name()) == "tiff") {
    if (input->seek_subimage(1, 0)) {
      Fail("cannot read " + name + ": it holds several pages; a frame file holds one picture (save each page as its own file)");
    }
    // The failed seek leaves its error behind, which would fail the read below.
    (void)input->geterror();
    if (!input->seek_subimage(0, 0)) FailUnreadable(LibraryError(input->geterror(), "its first page cannot be read"));
  }
  // The library decodes all channels at the file's own sample size.
  CheckFrameSize(name, info.width, info.height, n, static_cast<int>(info.format.size()), limits);
  const int colours = n >= 3 ? 3 : 1;
  const size_t count = static_cast<size_t>(info.width) * static_cast<size_t>(info.height) * static_cast<size_t>(colours);
  StillSamples decoded;
  decoded.width = info.width;
  decoded.height = info.height;
  decoded.channels = colours;
  // 8-bit files are taken as they are, floating-point ones (half, float, double) as floats,
  // unclamped; every other deeper one as 16-bit samples, the library's own conversion (the
  // program rounds them to 8 bits).
  bool read = false;
  const OIIO::TypeDesc::BASETYPE base = static_cast<OIIO::TypeDesc::BASETYPE>(info.format.basetype);
  if (info.format == OIIO::TypeDesc::UINT8) {
    AllocateSamples(decoded.samples8, count, name);
    read = input->read_image(0, 0, 0, colours, OIIO::TypeDesc::UINT8, decoded.samples8.data());
  } else if (base == OIIO::TypeDesc::HALF || base == OIIO::TypeDesc::FLOAT || base == OIIO::TypeDesc::DOUBLE) {
    AllocateSamples(decoded.samplesFloat, count, name);
    read = input->read_image(0, 0, 0, colours, OIIO::TypeDesc::FLOAT, decoded.samplesFloat.data());
  } else {
    AllocateSamples(decoded.samples16, count, name);
    read = input->read_image(0, 0, 0, colours, OIIO::TypeDesc::UINT16, decoded.samples16.data());
  }
  if (!read || input->has_error()) FailUnreadable(LibraryError(input->geterror(), "the pixel data cannot be decoded"));
  decoded.metadata.iccProfile = IccProfileOf(header);
  input->close();
  out = std::move(decoded);
}

std::string EncodeStill(const std::string& path, int width, int height, int bitsPerSample, bool half,
                        const void* samples) {
  const OIIO::TypeDesc type = bitsPerSample == 8    ? OIIO::TypeDesc::UINT8
                              : bitsPerSample == 16 ? OIIO::TypeDesc::UINT16
                                                    : OIIO::TypeDesc::FLOAT;
  if (half && type != OIIO::TypeDesc::FLOAT) Fail("cannot write " + path + ": half floats are made of float samples");
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput proxy(bytes);
  auto output = OIIO::ImageOutput::create(path);
  if (!output) Fail("cannot write " + path + ": " + LibraryError(OIIO::geterror(), "no writer for this format"));
  // The file's samples; the library converts the floats handed over (half: rounded to nearest).
  OIIO::ImageSpec info(width, height, 3, half ? OIIO::TypeDesc::HALF : type);
  if (!output->supports("ioproxy") || !output->set_ioproxy(&proxy) || !output->open(path, info) ||
      !output->write_image(type, samples) || !output->close()) {
    Fail("cannot write " + path + ": " + LibraryError(output->geterror(), "the encoder failed"));
  }
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace lumet::codec
