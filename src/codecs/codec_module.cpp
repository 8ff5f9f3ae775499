// The module's single entry point and the guarded functions of its table.

#include "imageio/codec_module.h"

#include "codecs/codec_failure.h"
#include "codecs/still_codec.h"
#include "codecs/video_codec.h"

namespace lumet::codec {

namespace {

Status ReadStillEntry(const char* path, const FrameLimits* limits, StillSamples* out, std::string* message) noexcept {
  return Guard(message, [&] {
    ReadStill(path, *limits, *out);
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

Status OpenVideoEntry(const char* path, Video** video, std::string* message) noexcept {
  return Guard(message, [&] {
    *video = OpenVideo(path);
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
