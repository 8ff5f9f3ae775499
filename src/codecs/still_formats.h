#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imageio/codec_interface.h"

namespace lumet::codec {

// The still module's formats, each through its own library. The readers decode the bytes
// of a whole file (name names it in messages) into grey or RGB samples, dropping alpha and
// any further channel; they check the decoded size against the limits before allocating it
// and refuse a file that is cut short or damaged. All throw Failure; FailUnsupported for a
// variant left to the media module (a CMYK JPEG, a tiled or palette TIFF, ...).
void ReadPng(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
             StillSamples& out);
void ReadJpeg(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
              StillSamples& out);
void ReadTiff(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
              StillSamples& out);

// Interleaved RGB samples (uint8_t for 8 bits, uint16_t for 16; for TIFF also float for 32),
// encoded with metadata (null: none; PNG keeps the ICC profile and the EXIF block, TIFF the
// profile and, of the EXIF block, what exif::TiffDrops does not name); path names the file in
// messages.
std::string EncodePng(const std::string& path, int width, int height, int bitsPerSample, const void* samples,
                      const StillMetadata* metadata);
std::string EncodeTiff(const std::string& path, int width, int height, int bitsPerSample, const void* samples,
                       const StillMetadata* metadata);

// The most channels a frame file may have (grey, grey + alpha, RGB, RGBA); files with more
// are refused rather than decoded.
inline constexpr int kMaxFileChannels = 4;

}  // namespace lumet::codec
