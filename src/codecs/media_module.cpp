// The media module's entry point and the guarded functions of its table: still formats
// through the imaging library, video through FFmpeg's libraries.

#include "codecs/codec_failure.h"
#include "codecs/oiio_still.h"
#include "codecs/raw_still.h"
#include "codecs/video_codec.h"

namespace lumet::codec {

namespace {

Status ReadStillEntry(const char* name, const uint8_t* bytes, size_t size, const FrameLimits* limits,
                      StillSamples* out, std::string* message) noexcept {
  return Guard(message, [&] {
    if (!ReadCameraRaw(name, bytes, size, *limits, *out)) ReadStill(name, bytes, size, *limits, *out);
    return Status::kOk;
  });
}

// The writers of this module keep no metadata.
Status EncodeStillEntry(const char* path, int width, int height, int bitsPerSample, bool half, const void* samples,
                        const StillMetadata*, std::string* bytes, std::string* message) noexcept {
  return Guard(message, [&] {
    *bytes = EncodeStill(path, width, height, bitsPerSample, half, samples);
    return Status::kOk;
  });
}

Status OpenVideoEntry(const char* path, int fd, const FrameLimits* limits, Video** video, VideoTiming* timing,
                      std::string* message) noexcept {
  return Guard(message, [&] {
    *video = OpenVideo(path, fd, *limits, *timing);
    return Status::kOk;
  });
}

Status ReadVideoFrameEntry(Video* video, int index, const FrameLimits* limits, std::vector<uint8_t>* rgb,
                           std::vector<uint16_t>* rgb16, int* width, int* height, int64_t* pts,
                           std::string* message) noexcept {
  return Guard(message, [&] {
    return ReadVideoFrame(*video, index, *limits, rgb, rgb16, *width, *height, *pts) ? Status::kOk : Status::kEnd;
  });
}

Status CheckVideoOutputEntry(const char* path, int audioFd, const char* audioPath, std::string* audioCodec,
                             std::string* message) noexcept {
  return Guard(message, [&] {
    CheckVideoOutput(path, audioFd, audioPath != nullptr ? audioPath : "", *audioCodec);
    return Status::kOk;
  });
}

Status OpenVideoOutputEntry(const char* path, int fd, const VideoOutputSettings* settings, VideoEncoder** encoder,
                            std::string* message) noexcept {
  return Guard(message, [&] {
    *encoder = OpenVideoOutput(path, fd, *settings);
    return Status::kOk;
  });
}

Status WriteVideoFrameEntry(VideoEncoder* encoder, const void* rgb, int64_t pts, std::string* message) noexcept {
  return Guard(message, [&] {
    WriteVideoFrame(*encoder, rgb, pts);
    return Status::kOk;
  });
}

Status FinishVideoOutputEntry(VideoEncoder* encoder, std::string* message) noexcept {
  return Guard(message, [&] {
    FinishVideoOutput(*encoder);
    return Status::kOk;
  });
}

constexpr ModuleTable kTable = {
    kModuleVersion,       sizeof(ModuleTable),  ReadStillEntry,         EncodeStillEntry,
    OpenVideoEntry,       ReadVideoFrameEntry,  CloseVideo,             CheckVideoOutputEntry,
    OpenVideoOutputEntry, WriteVideoFrameEntry, FinishVideoOutputEntry, CloseVideoOutput,
};

}  // namespace

}  // namespace lumet::codec

extern "C" __attribute__((visibility("default"))) const lumet::codec::ModuleTable* lumet_codec_module(int version) {
  return version == lumet::codec::kModuleVersion ? &lumet::codec::kTable : nullptr;
}
