// BMP frames: any bytes are decoded or refused with lumet::Error; a decoded picture
// written back and read again gives the same pixels.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "imageio/bmp_file.h"
#include "util/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumet;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ColorGrayImage image;
  try {
    BmpFile::DecodeImage(bytes, "fuzz.bmp", image);
  } catch (const Error&) {
    return 0;
  }
  const int width = image.Width();
  const int height = image.Height();
  if (width <= 0 || height <= 0) fuzz::Broken("a decoded image is empty");
  ColorGrayImage again;
  BmpFile::DecodeImage(BmpFile::EncodeImage(image, 0, 0, width, height), "again.bmp", again);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (image.channels[c].Row(y)[x] != again.channels[c].Row(y)[x]) fuzz::Broken("BMP round trip changed a pixel");
      }
    }
  }
  return 0;
}
