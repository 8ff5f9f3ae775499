#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imageio/codec_interface.h"

namespace lumet::codec {

// Camera raw frames (DNG and the raw formats of cameras) through LibRaw: the first
// full-resolution raw image (never a preview), its black and white levels and the camera's
// white balance applied, demosaiced to linear 16-bit RGB in the sRGB primaries. Returns
// false, having read nothing, when the bytes are no camera raw file; throws Failure when
// they are one that cannot be decoded, or a DNG that holds no raw image.
bool ReadCameraRaw(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
                   StillSamples& out);

// Whether the TIFF's first directory says it is a DNG (it holds the DNGVersion tag).
bool IsDng(const uint8_t* bytes, size_t size);

}  // namespace lumet::codec
