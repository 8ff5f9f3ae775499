#pragma once

// The boundary between the program and the codec module (src/codecs/, built as a loadable
// module so that the imaging and video libraries are mapped only when a file needs them).
// Both sides include this header and are built by the same compiler in one build, so plain
// standard-library values may cross it; exceptions never do: every function catches
// everything and answers with a status and a message.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumet::codec {

// Raised whenever the table or the meaning of an entry changes.
inline constexpr int kModuleVersion = 1;

// The entry point's name (extern "C"): const ModuleTable* lumet_codec_module(int version).
inline constexpr const char* kEntryPoint = "lumet_codec_module";
// The module's file name; it lives in <prefix>/lib/lumet/ (the build tree has the same layout).
inline constexpr const char* kModuleFileName = "liblumet-codecs.so";

enum class Status : int {
  kOk = 0,
  kEnd = 1,          // a video has no further frame
  kFailed = 2,       // message is the whole user-facing message
  kUnreadable = 3,   // a still frame cannot be decoded; message is the reason only
  kOutOfMemory = 4,  // an allocation failed
  kInternal = 5,     // an unexpected exception inside the module; message is its text
};

// Largest frame the program accepts.
struct FrameLimits {
  int maxDimension = 0;
  long long maxPixels = 0;
};

// A decoded still frame: width x height pixels of `channels` interleaved samples, row 0 at
// the top, in samples8 for 8-bit files and in samples16 for everything deeper.
struct StillSamples {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> samples8;
  std::vector<uint16_t> samples16;
};

// An open video; only the module knows what it holds.
struct Video;

struct ModuleTable {
  int version;       // kModuleVersion
  size_t tableSize;  // sizeof(ModuleTable)

  // Decodes the still frame at path (an existing regular file).
  Status (*readStill)(const char* path, const FrameLimits* limits, StillSamples* out, std::string* message) noexcept;

  // Encodes width x height interleaved RGB samples (uint8_t for 8 bits, uint16_t for 16) in
  // the format path's extension selects, into bytes.
  Status (*encodeStill)(const char* path, int width, int height, int bitsPerSample, const void* samples,
                        std::string* bytes, std::string* message) noexcept;

  // Opens the best video stream of path (an existing regular file) into *video.
  Status (*openVideo)(const char* path, Video** video, std::string* message) noexcept;
  // Decodes the next frame, numbered index in messages. With rgb non-null, also converts it
  // to packed RGB24 rows (width * 3 bytes each) and gives its size. kEnd at the end.
  Status (*readVideoFrame)(Video* video, int index, const FrameLimits* limits, std::vector<uint8_t>* rgb,
                           int* width, int* height, std::string* message) noexcept;
  void (*closeVideo)(Video* video) noexcept;
};

// The entry point's type: nullptr when the module was built for another version of the table.
using EntryPoint = const ModuleTable* (*)(int version);

}  // namespace lumet::codec
