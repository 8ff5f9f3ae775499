#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "lumet/export.h"

namespace lumet {

// A colour frame: width x height pixels, 8-bit red, green, blue interleaved, row 0 at the
// top, pixel (x, y) at rgb[3 * (y * width + x)].
struct Frame {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;

  bool Empty() const { return width <= 0 || height <= 0; }
};

// The HR estimate as the reconstruction computes it: three planes (red, green, blue) of
// width x height grey levels, unrounded and unclamped, value (x, y) at band[c][y * width + x].
struct Estimate {
  int width = 0;
  int height = 0;
  std::array<std::vector<double>, 3> band;
};

// The estimate cut to 8 bits as the result files hold it: each value truncated toward zero
// and clamped to 0 .. 255.
LUMET_API Frame ToFrame(const Estimate& estimate);

// Reads a still frame (BMP, PNG, JPEG, TIFF, or any other format the codec modules read).
// lumet::Error naming the file when it cannot be read.
LUMET_API Frame ReadFrame(const std::string& path);

// Writes a frame as BMP, PNG or TIFF, as its extension says (.bmp, .png, .tif, .tiff). The file is
// written to a temporary name and renamed, so a failure leaves no truncated file.
LUMET_API void WriteFrame(const std::string& path, const Frame& frame);

// What a still file says about its pixels beside them, as its bytes: its ICC profile (the
// colours' meaning) and its EXIF block (the camera's record, TIFF-structured: "II*\0" or
// "MM\0*" first). Empty where the file has none.
struct FrameMetadata {
  std::string iccProfile;
  std::string exif;
};

// The ICC profile and EXIF of a still file (PNG, JPEG, TIFF, and the other formats whose
// reader gives a profile). lumet::Error naming the file when it cannot be read.
LUMET_API FrameMetadata ReadFrameMetadata(const std::string& path);

// WriteFrame with metadata (a result carrying frame 0's): PNG keeps the profile and the
// EXIF, TIFF the profile; lumet::Error naming the file and what its format would drop
// (BMP keeps neither), and for a profile that cannot describe RGB samples.
LUMET_API void WriteFrame(const std::string& path, const Frame& frame, const FrameMetadata& metadata);

}  // namespace lumet
