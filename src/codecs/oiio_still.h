#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imageio/codec_interface.h"

namespace lumet::codec {

// The media module's still side, through the imaging library: the formats the still module
// does not read (and its rare variants of PNG, JPEG and TIFF). Both throw Failure.
void ReadStill(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
               StillSamples& out);
// half: float samples (bitsPerSample 32) stored as 16-bit half floats (OpenEXR).
std::string EncodeStill(const std::string& path, int width, int height, int bitsPerSample, bool half,
                        const void* samples);

}  // namespace lumet::codec
