// The media module's entry point and the guarded functions of its table: still formats
// through the imaging library, video through FFmpeg's libraries.

#include "codecs/codec_failure.h"
#include "codecs/oiio_still.h"
#include "codecs/video_codec.h"

namespace lumet::codec {

namespace {

Status ReadStillEntry(const char* name, const uint8_t* bytes, size_t size, const FrameLimits* limits,
                      StillSamples* out, std::string* message) noexcept {
  return Guard(message, [&] {
    ReadStill(name, bytes, size, *limits, *out);
    return Status::kOk;
  });
}

Status EncodeStillEntry(const char* path, int width, int height, int bitsPerSample, const void* samples,
                        std::string* bytes, std::string* message) noexcept {
  return Guard(message, [&] {
    *bytes = EncodeStill(path, width, height, bitsPerSample, samples);
    return Status::kOk;
  });
}

Status OpenVideoEntry(const char* path, int fd, const FrameLimits* limits, Video** video,
                      std::string* message) noexcept {
  return Guard(message, [&] {
    *video = OpenVideo(path, fd, *limits);
    return Status::kOk;
  });
}

Status ReadVideoFrameEntry(Video* video, int index, const FrameLimits* limits, std::vector<uint8_t>* rgb, int* width,
                           int* height, std::string* message) noexcept {
  return Guard(message, [&] {
    return ReadVideoFrame(*video, index, *limits, rgb, *width, *height) ? Status::kOk : Status::kEnd;
  });
}

constexpr ModuleTable kTable = {
    kModuleVersion, sizeof(ModuleTable), ReadStillEntry, EncodeStillEntry, OpenVideoEntry, ReadVideoFrameEntry,
    CloseVideo,
};

}  // namespace

}  // namespace lumet::codec

extern "C" __attribute__((visibility("default"))) const lumet::codec::ModuleTable* lumet_codec_module(int version) {
  return version == lumet::codec::kModuleVersion ? &lumet::codec::kTable : nullptr;
}
