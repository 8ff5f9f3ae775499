#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imageio/codec_interface.h"

struct AVFormatContext;
struct AVIOContext;

namespace lumet::codec {

// The video side of the module, through FFmpeg's libraries. OpenVideo and ReadVideoFrame
// throw Failure (or std::bad_alloc). The caller owns what OpenVideo returns (CloseVideo).
// path names the file in messages; fd is the file (regular, opened by the program).
Video* OpenVideo(const std::string& path, int fd, const FrameLimits& limits, VideoTiming& timing);
// False at the end of the stream. With rgb non-null the frame is converted to packed RGB24,
// or to packed RGB48 in rgb16 when the stream has more than 8 bits a sample and rgb16 is
// non-null. pts is the frame's presentation time in the stream's time base, or kNoTime.
bool ReadVideoFrame(Video& video, int index, const FrameLimits& limits, std::vector<uint8_t>* rgb,
                    std::vector<uint16_t>* rgb16, int& width, int& height, int64_t& pts);
void CloseVideo(Video* video) noexcept;

// The container of the file open on fd with its streams found, and no decoder (the source of
// the audio a video output copies). Throws Failure as OpenVideo.
Video* OpenDemuxer(const std::string& path, int fd);
AVFormatContext* Container(Video& video);

// FFmpeg's text for an error code.
std::string AvErrorText(int code);

// The libraries reach a video's bytes only through an I/O context on the descriptor the
// program opened, never by a name. NewIoContext gives one its own buffer (std::bad_alloc when
// there is no memory; opaque is what the callbacks receive); SeekDescriptor is their seek on
// fd (AVSEEK_SIZE: the file's size); UseOnlyIo makes format go through io and refuses every
// other file a container would open.
AVIOContext* NewIoContext(bool writable, void* opaque, int (*read)(void*, uint8_t*, int),
                          int (*write)(void*, uint8_t*, int), int64_t (*seek)(void*, int64_t, int));
int64_t SeekDescriptor(int fd, int64_t offset, int whence);
void UseOnlyIo(AVFormatContext* format, AVIOContext* io);

// The writing side (video_encoder.cpp), for the table's entries of the same names.
void CheckVideoOutput(const std::string& path, int audioFd, const std::string& audioPath, std::string& audioCodec);
VideoEncoder* OpenVideoOutput(const std::string& path, int fd, const VideoOutputSettings& settings);
void WriteVideoFrame(VideoEncoder& encoder, const void* rgb, int64_t pts);
void FinishVideoOutput(VideoEncoder& encoder);
void CloseVideoOutput(VideoEncoder* encoder) noexcept;

}  // namespace lumet::codec
