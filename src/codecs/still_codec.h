#pragma once

#include <string>

#include "imageio/codec_module.h"

namespace lumet::codec {

// The still-image side of the module, through the imaging library. Both throw Failure.
void ReadStill(const std::string& path, const FrameLimits& limits, StillSamples& out);
std::string EncodeStill(const std::string& path, int width, int height, int bitsPerSample, const void* samples);

}  // namespace lumet::codec
