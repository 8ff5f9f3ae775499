#include "imageio/bmp_file.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "util/atomic_file.h"
#include "util/error.h"
#include "util/input_file.h"

namespace lumet {

namespace {

// Blue, green, red (and a fourth byte) per pixel into the three planes; the pixel size
// fixed at compile time lets the loop run on vectors.
template <size_t kBytes>
void SplitPixels(const uint8_t* in, int width, uint8_t* red, uint8_t* green, uint8_t* blue) {
  for (int i = 0; i < width; ++i) {
    const uint8_t* px = in + static_cast<size_t>(i) * kBytes;
    blue[i] = px[0];
    green[i] = px[1];
    red[i] = px[2];
  }
}

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr uint32_t kWrittenPelsPerMeter = 11811;  // 300 dots per inch

uint16_t ReadU16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t ReadU32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
int32_t ReadS32(const std::string& b, size_t at) { return static_cast<int32_t>(ReadU32(b, at)); }

void PutU16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}
void PutU32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

[[noreturn]] void Refuse(const std::string& name, const std::string& reason) { throw Error(name + ": " + reason); }

const char* CompressionName(uint32_t compression) {
  switch (compression) {
    case 1: return "RLE8";
    case 2: return "RLE4";
    case 3: return "bit fields";
    case 4: return "JPEG";
    case 5: return "PNG";
    case 6: return "alpha bit fields";
    default: return "unknown";
  }
}

// The rectangle to write must lie inside three created channels of the image and be a
// size that the reader accepts back.
void CheckWritable(const std::string& name, const ColorGrayImage& image, int x, int y, int width, int height) {
  if (width <= 0 || height <= 0) {
    Refuse(name, "cannot write an image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  }
  if (width > BmpFile::kMaxDimension || height > BmpFile::kMaxDimension ||
      static_cast<long long>(width) * height > BmpFile::kMaxPixels) {
    Refuse(name, "cannot write an image of " + std::to_string(width) + " x " + std::to_string(height) +
                     " pixels: larger than a frame may be");
  }
  if (image.channels.size() != 3) Refuse(name, "the image to write does not have three colour channels");
  for (const auto& channel : image.channels) {
    if (x < 0 || y < 0 || static_cast<long long>(x) + width > channel.Width() ||
        static_cast<long long>(y) + height > channel.Height()) {
      Refuse(name, "the rectangle " + std::to_string(width) + " x " + std::to_string(height) + " at (" + std::to_string(x) +
                       ", " + std::to_string(y) + ") is not inside the " + std::to_string(channel.Width()) + " x " +
                       std::to_string(channel.Height()) + " image");
    }
  }
}

std::string Encode(const std::string& name, const ColorGrayImage& image, int x, int y, int width, int height) {
  CheckWritable(name, image, x, y, width, height);
  const size_t stride = static_cast<size_t>(BmpFile::RowStride(width));
  const size_t pixelBytes = stride * static_cast<size_t>(height);
  const size_t offBits = kFileHeaderSize + kInfoHeaderSize;
  std::string out(offBits + pixelBytes, '\0');  // padding bytes stay zero

  PutU16(out, 0, 0x4D42);
  PutU32(out, 2, static_cast<uint32_t>(offBits + pixelBytes));
  PutU16(out, 6, 0);
  PutU16(out, 8, 0);
  PutU32(out, 10, static_cast<uint32_t>(offBits));

  const size_t h = kFileHeaderSize;
  PutU32(out, h + 0, kInfoHeaderSize);
  PutU32(out, h + 4, static_cast<uint32_t>(width));
  PutU32(out, h + 8, static_cast<uint32_t>(height));
  PutU16(out, h + 12, 1);
  PutU16(out, h + 14, 24);
  PutU32(out, h + 16, 0);
  PutU32(out, h + 20, static_cast<uint32_t>(pixelBytes));
  PutU32(out, h + 24, kWrittenPelsPerMeter);
  PutU32(out, h + 28, kWrittenPelsPerMeter);
  PutU32(out, h + 32, 0);
  PutU32(out, h + 36, 0);

  // Bottom image row first.
  for (int k = 0; k < height; ++k) {
    const int r = y + height - 1 - k;
    const uint8_t* red = image.channels[0].Row(r) + x;
    const uint8_t* green = image.channels[1].Row(r) + x;
    const uint8_t* blue = image.channels[2].Row(r) + x;
    char* row = out.data() + offBits + static_cast<size_t>(k) * stride;
    for (int i = 0; i < width; ++i) {
      row[3 * i] = static_cast<char>(blue[i]);
      row[3 * i + 1] = static_cast<char>(green[i]);
      row[3 * i + 2] = static_cast<char>(red[i]);
    }
  }
  return out;
}

// Palette of an 8-bit file: right after the info header, 4 bytes (blue, green, red,
// unused) per colour, kept as red, green, blue. Indices beyond the colours present read as
// black.
using Palette = std::array<uint8_t, 256 * 3>;
Palette ReadPalette(const std::string& bytes, const std::string& name, size_t headersEnd, uint32_t colorsUsed) {
  Palette palette{};
  const uint32_t colors = colorsUsed == 0 ? 256 : colorsUsed;
  if (colors > 256) Refuse(name, "palette of " + std::to_string(colors) + " colours is larger than 8 bits can index");
  if (bytes.size() < headersEnd + 4 * static_cast<size_t>(colors)) {
    Refuse(name, "file of " + std::to_string(bytes.size()) + " bytes is shorter than its palette of " + std::to_string(colors) +
                     " colours");
  }
  for (uint32_t c = 0; c < colors; ++c) {
    const size_t at = headersEnd + 4 * static_cast<size_t>(c);
    palette[3 * c] = static_cast<uint8_t>(bytes[at + 2]);      // red
    palette[3 * c + 1] = static_cast<uint8_t>(bytes[at + 1]);  // green
    palette[3 * c + 2] = static_cast<uint8_t>(bytes[at]);      // blue
  }
  return palette;
}

// One stored row of 8 (through the palette), 24 or 32 bits a pixel into row r of image.
void DecodeRow(const uint8_t* in, int bitCount, const Palette& palette, ColorGrayImage& image, int r) {
  const int width = image.channels[0].Width();
  uint8_t* red = image.channels[0].Row(r);
  uint8_t* green = image.channels[1].Row(r);
  uint8_t* blue = image.channels[2].Row(r);
  if (bitCount == 8) {
    for (int i = 0; i < width; ++i) {
      const uint8_t* colour = palette.data() + 3 * static_cast<size_t>(in[i]);
      red[i] = colour[0];
      green[i] = colour[1];
      blue[i] = colour[2];
    }
  } else if (bitCount == 24) {
    SplitPixels<3>(in, width, red, green, blue);
  } else {
    SplitPixels<4>(in, width, red, green, blue);
  }
}

}  // namespace

void BmpFile::DecodeImage(const std::string& bytes, const std::string& name, ColorGrayImage& image) {
  if (bytes.size() < 2 || bytes[0] != 'B' || bytes[1] != 'M') Refuse(name, "not a BMP file (it does not start with \"BM\")");
  if (bytes.size() < kFileHeaderSize + 4) Refuse(name, "file of " + std::to_string(bytes.size()) + " bytes is shorter than its headers");
  const uint32_t offBits = ReadU32(bytes, 10);
  const uint32_t infoSize = ReadU32(bytes, kFileHeaderSize);
  if (infoSize != 40 && infoSize != 108 && infoSize != 124) {
    Refuse(name, "info header of " + std::to_string(infoSize) + " bytes is not supported (40, 108 or 124 are)");
  }
  const size_t headersEnd = kFileHeaderSize + infoSize;
  if (bytes.size() < headersEnd) {
    Refuse(name, "file of " + std::to_string(bytes.size()) + " bytes is shorter than its headers (" + std::to_string(headersEnd) +
                     " bytes)");
  }
  const size_t h = kFileHeaderSize;
  const int32_t width = ReadS32(bytes, h + 4);
  const int32_t heightField = ReadS32(bytes, h + 8);
  const uint16_t planes = ReadU16(bytes, h + 12);
  const uint16_t bitCount = ReadU16(bytes, h + 14);
  const uint32_t compression = ReadU32(bytes, h + 16);
  const uint32_t colorsUsed = ReadU32(bytes, h + 32);

  // A negative height marks a top-down file: its first stored row is the top row.
  const bool topDown = heightField < 0;
  const long long height = topDown ? -static_cast<long long>(heightField) : heightField;
  if (width <= 0 || height == 0) {
    Refuse(name, "width " + std::to_string(width) + " and height " + std::to_string(heightField) + " do not make a picture");
  }
  if (width > kMaxDimension || height > kMaxDimension || static_cast<long long>(width) * height > kMaxPixels) {
    Refuse(name, "claims " + std::to_string(width) + " x " + std::to_string(height) + " pixels, more than a frame may have (" +
                     std::to_string(kMaxDimension) + " each way, " + std::to_string(kMaxPixels) + " in all)");
  }
  if (planes != 1) Refuse(name, "has " + std::to_string(planes) + " colour planes; BMP files have 1");
  if (compression != 0) {
    Refuse(name, "compression " + std::to_string(compression) + " (" + CompressionName(compression) +
                     ") is not supported; only uncompressed files are read");
  }
  if (bitCount != 8 && bitCount != 24 && bitCount != 32) {
    Refuse(name, std::to_string(bitCount) + " bits per pixel are not supported (8 with a palette, 24 and 32 are)");
  }

  const Palette palette = bitCount == 8 ? ReadPalette(bytes, name, headersEnd, colorsUsed) : Palette{};

  const size_t bytesPerPixel = bitCount / 8u;
  const size_t stride = (static_cast<size_t>(width) * bytesPerPixel + 3) & ~size_t{3};
  const size_t rows = static_cast<size_t>(height);
  if (offBits < headersEnd) {
    Refuse(name, "pixel data offset " + std::to_string(offBits) + " lies inside the headers (" + std::to_string(headersEnd) +
                     " bytes)");
  }
  const size_t needed = static_cast<size_t>(offBits) + stride * rows;
  if (bytes.size() < needed) {
    Refuse(name, "file of " + std::to_string(bytes.size()) + " bytes is shorter than its pixel array (" + std::to_string(needed) +
                     " bytes needed)");
  }

  ColorGrayImage decoded;
  if (!decoded.Create(width, static_cast<int>(height)) || decoded.channels[0].Empty() || decoded.channels[1].Empty() ||
      decoded.channels[2].Empty()) {
    Refuse(name, "not enough memory for a " + std::to_string(width) + " x " + std::to_string(height) + " image");
  }
  decoded.mask.Fill(0);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + offBits;
  for (size_t k = 0; k < rows; ++k) {
    DecodeRow(data + k * stride, bitCount, palette, decoded, static_cast<int>(topDown ? k : rows - 1 - k));
  }

  // Only a fully decoded picture replaces the caller's image.
  if (image.channels.size() != 3) image.channels.resize(3);
  for (size_t c = 0; c < 3; ++c) image.channels[c] = std::move(decoded.channels[c]);
  image.mask = std::move(decoded.mask);
}

void BmpFile::ReadFrame(const std::string& path, ColorGrayImage& image) {
  DecodeImage(ReadWholeFile(path, kMaxFileBytes), path, image);
}

std::string BmpFile::EncodeImage(const ColorGrayImage& image, int x, int y, int width, int height) {
  return Encode("BMP image", image, x, y, width, height);
}

void BmpFile::WriteImage(const std::string& path, const ColorGrayImage& image, int x, int y, int width, int height) {
  WriteFileAtomically(path, Encode(path, image, x, y, width, height));
}

}  // namespace lumet
