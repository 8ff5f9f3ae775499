#pragma once

#include <cstddef>
#include <string>

#include "numeric/image_plane.h"

namespace lumet {

// The only image file reader and writer: uncompressed BMP files with a 14-byte file header
// and a 40-byte (or longer) info header. Row 0 of an image is the top row of the picture.
class BmpFile {
 public:
  // Largest width or height, and pixel count, that a file may claim.
  static constexpr int kMaxDimension = 32768;
  static constexpr long long kMaxPixels = 1LL << 27;
  // Largest file a frame can be: file header, the longest info header, a full palette and
  // the largest pixel array (32 bits per pixel). Longer files are refused unread.
  static constexpr size_t kMaxFileBytes = 14 + 124 + 4 * 256 + 4 * static_cast<size_t>(kMaxPixels);

  // Reads the file at path into image (channel 0 red, 1 green, 2 blue). Accepted:
  // uncompressed 24-bit, 8-bit with a palette and 32-bit; bottom-up and top-down row
  // order. Anything else, a truncated file or implausible dimensions: lumet::Error naming
  // the file and the reason, and image is left unchanged. Only regular files of at most
  // kMaxFileBytes are read: a FIFO or a device is refused at once.
  static void ReadFrame(const std::string& path, ColorGrayImage& image);

  // Writes the rectangle (x, y, width, height) of image as a 24-bit bottom-up BMP file
  // through the atomic writer. lumet::Error naming the file on failure.
  static void WriteImage(const std::string& path, const ColorGrayImage& image, int x, int y, int width, int height);

  // The bytes WriteImage writes.
  static std::string EncodeImage(const ColorGrayImage& image, int x, int y, int width, int height);
  // Decodes BMP bytes; name is used in error messages.
  static void DecodeImage(const std::string& bytes, const std::string& name, ColorGrayImage& image);

  // (width * 3 + 3) rounded down to a multiple of 4.
  static int RowStride(int width) { return (width * 3 + 3) & ~3; }
};

}  // namespace lumet
