// The still module's entry point: PNG, JPEG and TIFF through their own small libraries, so
// that a job on such frames maps a few libraries instead of the whole imaging stack.

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "codecs/codec_failure.h"
#include "codecs/still_formats.h"
#include "imageio/codec_interface.h"

namespace lumet::codec {

namespace {

bool StartsWith(const uint8_t* bytes, size_t size, const char* magic, size_t length) {
  return size >= length && std::memcmp(bytes, magic, length) == 0;
}

// The format is told by the file's first bytes, whatever its name says.
Status ReadStillEntry(const char* name, const uint8_t* bytes, size_t size, const FrameLimits* limits,
                      StillSamples* out, std::string* message) noexcept {
  return Guard(message, [&] {
    if (StartsWith(bytes, size, "\x89PNG\r\n\x1a\n", 8)) {
      ReadPng(name, bytes, size, *limits, *out);
    } else if (StartsWith(bytes, size, "\xff\xd8\xff", 3)) {
      ReadJpeg(name, bytes, size, *limits, *out);
    } else if (StartsWith(bytes, size, "II*\0", 4) || StartsWith(bytes, size, "MM\0*", 4)) {
      ReadTiff(name, bytes, size, *limits, *out);
    } else {
      FailUnsupported("not a PNG, JPEG or TIFF file");
    }
    return Status::kOk;
  });
}

Status EncodeStillEntry(const char* path, int width, int height, int bitsPerSample, bool half, const void* samples,
                        const StillMetadata* metadata, std::string* bytes, std::string* message) noexcept {
  return Guard(message, [&] {
    if (half) Fail(std::string("cannot write ") + path + ": half floats are written to OpenEXR files alone");
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".png") {
      if (bitsPerSample > 16) Fail(std::string("cannot write ") + path + ": a PNG file holds at most 16 bits a sample");
      *bytes = EncodePng(path, width, height, bitsPerSample, samples, metadata);
    } else if (ext == ".tif" || ext == ".tiff") {
      *bytes = EncodeTiff(path, width, height, bitsPerSample, samples, metadata);
    } else {
      Fail(std::string("cannot write ") + path + ": only PNG and TIFF files are written besides BMP");
    }
    return Status::kOk;
  });
}

constexpr ModuleTable kTable = {
    kModuleVersion, sizeof(ModuleTable), ReadStillEntry, EncodeStillEntry, nullptr, nullptr, nullptr,
    nullptr,        nullptr,             nullptr,        nullptr,          nullptr,
};

}  // namespace

}  // namespace lumet::codec

extern "C" __attribute__((visibility("default"))) const lumet::codec::ModuleTable* lumet_codec_module(int version) {
  return version == lumet::codec::kModuleVersion ? &lumet::codec::kTable : nullptr;
}
