#pragma once

// The boundary between the program and the codec modules (src/codecs/, built as loadable
// modules so that the imaging and video libraries are mapped only when a file needs them).
// Both sides include this header and are built by the same compiler in one build, so plain
// standard-library values may cross it; exceptions never do: every function catches
// everything and answers with a status and a message.
//
// Two modules share this table: the still module (PNG, JPEG and TIFF through their own small
// libraries) and the media module (every other still format through OpenImageIO, and video
// through FFmpeg's libraries, read and written). Each fills the entries it has and leaves the
// others null.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumet::codec {

// Raised whenever the table or the meaning of an entry changes.
inline constexpr int kModuleVersion = 7;

// The entry point's name (extern "C"): const ModuleTable* lumet_codec_module(int version).
inline constexpr const char* kEntryPoint = "lumet_codec_module";

// The modules' file names; they live in <prefix>/lib/lumet/ (the build tree has the same layout).
enum class ModuleKind : int { kStill = 0, kMedia = 1 };
inline constexpr const char* kStillModuleFileName = "liblumet-stills.so";
inline constexpr const char* kMediaModuleFileName = "liblumet-codecs.so";

enum class Status : int {
  kOk = 0,
  kEnd = 1,          // a video has no further frame
  kFailed = 2,       // message is the whole user-facing message
  kUnreadable = 3,   // a still frame cannot be decoded; message is the reason only
  kOutOfMemory = 4,  // an allocation failed
  kInternal = 5,     // an unexpected exception inside the module; message is its text
  kUnsupported = 6,  // the still module does not read this variant of its formats; the media module may
};

// Largest frame the program accepts: each side, pixels, and bytes of decoded samples (the
// decoder's own buffers at the file's bit depth, checked before they are allocated).
struct FrameLimits {
  int maxDimension = 0;
  long long maxPixels = 0;
  long long maxSampleBytes = 0;
};

// What a still file says about its pixels beside them, as its bytes: an ICC profile (the
// whole profile, a JPEG's chunks put together in order) and an EXIF block (TIFF-structured,
// starting "II*\0" or "MM\0*": a JPEG's APP1 segment without its "Exif\0\0" header, a PNG's
// eXIf chunk, a TIFF's EXIF and GPS directories and camera tags made into one as
// exif::BlockOfTiff does). Empty when the file holds none, or when the reader does not take it.
struct StillMetadata {
  std::string iccProfile;
  std::string exif;
};

// A decoded still frame: width x height pixels of `channels` interleaved samples (1: grey,
// 3: red, green, blue; alpha and further channels are never delivered), row 0 at the top,
// in samples8 for 8-bit files, in samplesFloat for floating-point ones (OpenEXR half or
// float, 32-bit float TIFF: as the file holds them, 1.0 the nominal white, nothing clamped)
// and in samples16 for every other deeper one. Exactly one of them is filled.
struct StillSamples {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> samples8;
  std::vector<uint16_t> samples16;
  std::vector<float> samplesFloat;
  StillMetadata metadata;
  // The samples are linear light (a camera raw file's, developed without a transfer curve),
  // not sRGB encoded as other integer samples are.
  bool linear = false;
};

// An open video; only the module knows what it holds.
struct Video;

// A video stream's clock: presentation times count units of timeBaseNum / timeBaseDen
// seconds; the frame rate is frameRateNum / frameRateDen frames a second (0 / 1 when the
// stream does not say).
struct VideoTiming {
  int timeBaseNum = 1, timeBaseDen = 25;
  int frameRateNum = 25, frameRateDen = 1;
};

// A frame's presentation time when the stream gives none.
inline constexpr int64_t kNoTime = INT64_MIN;

// A video being written; only the module knows what it holds.
struct VideoEncoder;

// What a video output holds: frames of width x height packed RGB, time stamped in
// timing's time base, and optionally the audio of another file copied unchanged. Frames are
// handed over as RGB24 (bitsPerSample 8) or as RGB48 in native 16-bit words (any other
// depth); the stream stores bitsPerSample bits a sample: 8 for H.264, 8, 10, 12 or 16 for
// FFV1.
struct VideoOutputSettings {
  int width = 0;
  int height = 0;
  int bitsPerSample = 8;
  VideoTiming timing;
  int quality = 18;                  // H.264's constant rate factor (0 best .. 51); FFV1 is lossless
  int audioFd = -1;                  // a video file whose best audio stream is copied, or -1
  const char* audioPath = nullptr;   // that file's name, in messages
  int64_t audioFrom = 0;             // the audio packets copied: those presented in
  int64_t audioTo = 0;               // [audioFrom, audioTo) of timing's time base
};

struct ModuleTable {
  int version;       // kModuleVersion
  size_t tableSize;  // sizeof(ModuleTable)

  // Decodes the still frame held in bytes[0, size), the whole content of the file name
  // (which names it in messages and, in the media module, chooses the reader).
  Status (*readStill)(const char* name, const uint8_t* bytes, size_t size, const FrameLimits* limits,
                      StillSamples* out, std::string* message) noexcept;

  // Encodes width x height interleaved RGB samples (uint8_t for 8 bits, uint16_t for 16,
  // float for 32: floating point, 1.0 the nominal white; with half, float samples the file
  // stores as 16-bit half floats, which only the media module's OpenEXR writer does) in the
  // format path's extension selects, into bytes, with as much of metadata (null: none) as
  // that format's writer keeps
  // (the still module: PNG both, TIFF the ICC profile and what exif::TiffDrops does not name
  // of the EXIF block; the media module: none).
  Status (*encodeStill)(const char* path, int width, int height, int bitsPerSample, bool half, const void* samples,
                        const StillMetadata* metadata, std::string* bytes, std::string* message) noexcept;

  // Opens the best video stream of the regular file open on fd (named path in messages) into
  // *video, and gives its clock. The module reads fd and nothing else; the caller keeps it
  // open until closeVideo. Its container must be one of the video containers (no playlist,
  // no other files).
  Status (*openVideo)(const char* path, int fd, const FrameLimits* limits, Video** video, VideoTiming* timing,
                      std::string* message) noexcept;
  // Decodes the next frame, numbered index in messages, and gives its presentation time
  // (kNoTime when the stream has none). With rgb non-null, also converts it to packed RGB24
  // rows (width * 3 bytes each) and gives its size; a stream of more than 8 bits a sample
  // is converted to packed RGB48 rows in rgb16 instead, when rgb16 is non-null (rgb is then
  // left empty; 16-bit words, a 10-bit value v as the 16-bit value of the same brightness).
  // kEnd at the end.
  Status (*readVideoFrame)(Video* video, int index, const FrameLimits* limits, std::vector<uint8_t>* rgb,
                           std::vector<uint16_t>* rgb16, int* width, int* height, int64_t* pts,
                           std::string* message) noexcept;
  void (*closeVideo)(Video* video) noexcept;

  // Whether a video named path can be written (its extension chooses the container and the
  // codec: .mkv lossless FFV1, .mp4 H.264) and, with audioFd not -1, whether the best audio
  // stream of that file (named audioPath) can be copied into it. kOk, with *audioCodec the
  // audio's codec name (empty when that file has no audio), or kFailed with the reason.
  Status (*checkVideoOutput)(const char* path, int audioFd, const char* audioPath, std::string* audioCodec,
                             std::string* message) noexcept;
  // Starts writing the video named path (its extension as above) to the regular file open
  // for writing on fd; the module writes fd and nothing else, the caller keeps it open until
  // closeVideoOutput.
  Status (*openVideoOutput)(const char* path, int fd, const VideoOutputSettings* settings, VideoEncoder** encoder,
                            std::string* message) noexcept;
  // Encodes one frame of packed RGB24 rows (RGB48 words when the output's bitsPerSample is
  // not 8) presented at pts; times must increase.
  Status (*writeVideoFrame)(VideoEncoder* encoder, const void* rgb, int64_t pts, std::string* message) noexcept;
  // Flushes the encoder, copies the rest of the audio and ends the container.
  Status (*finishVideoOutput)(VideoEncoder* encoder, std::string* message) noexcept;
  void (*closeVideoOutput)(VideoEncoder* encoder) noexcept;
};

// The entry point's type: nullptr when the module was built for another version of the table.
using EntryPoint = const ModuleTable* (*)(int version);

}  // namespace lumet::codec
