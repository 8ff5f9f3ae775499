#pragma once

#include <string>
#include <vector>

#include "imageio/codec_interface.h"

namespace lumet::codec {

// The video side of the module, through FFmpeg's libraries. OpenVideo and ReadVideoFrame
// throw Failure (or std::bad_alloc). The caller owns what OpenVideo returns (CloseVideo).
// path names the file in messages; fd is the file (regular, opened by the program).
Video* OpenVideo(const std::string& path, int fd, const FrameLimits& limits);
// False at the end of the stream. With rgb non-null the frame is converted to packed RGB24.
bool ReadVideoFrame(Video& video, int index, const FrameLimits& limits, std::vector<uint8_t>* rgb, int& width,
                    int& height);
void CloseVideo(Video* video) noexcept;

}  // namespace lumet::codec
