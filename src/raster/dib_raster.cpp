#include "raster/dib_raster.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "util/error.h"

namespace lumet {

namespace {

constexpr const char* kZeroSizeError = "DibRaster::Create : width and height must be greater than zero";
constexpr const char* kNoMemoryError = "DibRaster::Create can't allocate memory";
constexpr double kDotsPerInch = 96.0;
constexpr double kInchesPerMeter = 39.37007874015748;

void PutU16(uint8_t* b, uint16_t v) {
  b[0] = static_cast<uint8_t>(v & 0xFF);
  b[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

}  // namespace

DibRaster::DibRaster(uint32_t formatTag) : formatTag_(formatTag) {}

DibRaster::~DibRaster() { Destroy(); }

DibRaster::DibRaster(const DibRaster& other) : formatTag_(other.formatTag_) { *this = other; }

DibRaster& DibRaster::operator=(const DibRaster& other) {
  if (this == &other) return *this;
  transparentIndex_ = other.transparentIndex_;
  enabled_ = other.enabled_;
  if (other.Empty()) {
    Destroy();
    formatTag_ = other.formatTag_;
    return *this;
  }
  if (Create(static_cast<uint32_t>(other.width_), static_cast<uint32_t>(other.height_), 24, other.formatTag_) != nullptr) {
    std::memcpy(block_.data(), other.block_.data(), other.block_.size());
  }
  return *this;
}

const uint8_t* DibRaster::Create(uint32_t width, uint32_t height, uint32_t bitsPerPixel, uint32_t formatTag) {
  Destroy();
  if (width == 0 || height == 0) {
    lastError_ = kZeroSizeError;
    return nullptr;
  }
  if (bitsPerPixel != 24) {
    lastError_ = "DibRaster::Create : only 24 bits per pixel are supported";
    return nullptr;
  }
  // The header holds signed 32-bit sizes; anything beyond cannot be a picture in memory.
  const uint64_t stride = (static_cast<uint64_t>(width) * 24 + 31) / 32 * 4;
  const uint64_t pixelBytes = stride * height;
  if (width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
      height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
      pixelBytes > std::numeric_limits<uint32_t>::max() - static_cast<uint64_t>(kHeaderSize)) {
    lastError_ = kNoMemoryError;
    return nullptr;
  }
  try {
    block_.resize(static_cast<size_t>(kHeaderSize + pixelBytes));
  } catch (const std::bad_alloc&) {
    block_.clear();
    lastError_ = kNoMemoryError;
    return nullptr;
  } catch (const std::length_error&) {
    block_.clear();
    lastError_ = kNoMemoryError;
    return nullptr;
  }

  formatTag_ = formatTag;
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  stride_ = static_cast<int>(stride);
  const auto pelsPerMeter = static_cast<uint32_t>(std::floor(kDotsPerInch * kInchesPerMeter + 0.5));
  std::memset(header_, 0, sizeof header_);
  PutU32(header_ + 0, kHeaderSize);
  PutU32(header_ + 4, width);
  PutU32(header_ + 8, height);
  PutU16(header_ + 12, 1);
  PutU16(header_ + 14, 24);
  PutU32(header_ + 16, 0);
  PutU32(header_ + 20, static_cast<uint32_t>(pixelBytes));
  PutU32(header_ + 24, pelsPerMeter);
  PutU32(header_ + 28, pelsPerMeter);
  PutU32(header_ + 32, 0);
  PutU32(header_ + 36, 0);
  std::memcpy(block_.data(), header_, kHeaderSize);
  return block_.data();
}

void DibRaster::SetPixelColor(int x, int y, uint32_t color) {
  if (block_.empty() || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* p = block_.data() + kHeaderSize + static_cast<size_t>(y) * static_cast<size_t>(stride_) + 3 * static_cast<size_t>(x);
  p[0] = static_cast<uint8_t>((color >> 16) & 0xFF);  // blue
  p[1] = static_cast<uint8_t>((color >> 8) & 0xFF);   // green
  p[2] = static_cast<uint8_t>(color & 0xFF);          // red
}

uint32_t DibRaster::GetPixelColor(int x, int y) const {
  if (block_.empty() || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const uint8_t* p =
      block_.data() + kHeaderSize + static_cast<size_t>(y) * static_cast<size_t>(stride_) + 3 * static_cast<size_t>(x);
  return static_cast<uint32_t>(p[2]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[0]) << 16;
}

bool DibRaster::Destroy() {
  block_.clear();
  block_.shrink_to_fit();
  std::memset(header_, 0, sizeof header_);
  width_ = height_ = stride_ = 0;
  return true;
}

void CopyToRaster(DibRaster& raster, const ColorGrayImage& image, int width, int height) {
  if (width <= 0 || height <= 0) return;
  if (image.channels.size() != 3) throw Error("CopyToRaster: the image does not have three colour channels");
  for (const auto& channel : image.channels) {
    if (channel.Width() < width || channel.Height() < height) {
      throw Error("CopyToRaster: a " + std::to_string(channel.Width()) + " x " + std::to_string(channel.Height()) +
                  " image cannot fill " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    }
  }
  for (int y = 0; y < height; ++y) {
    const int r = height - 1 - y;
    const uint8_t* red = image.channels[0].Row(r);
    const uint8_t* green = image.channels[1].Row(r);
    const uint8_t* blue = image.channels[2].Row(r);
    for (int x = 0; x < width; ++x) {
      raster.SetPixelColor(x, y, static_cast<uint32_t>(red[x]) | static_cast<uint32_t>(green[x]) << 8 |
                                     static_cast<uint32_t>(blue[x]) << 16);
    }
  }
}

void ImageToRaster(const ColorGrayImage& image, DibRaster& raster) {
  if (image.Empty()) {
    raster.Destroy();
    return;
  }
  if (raster.Create(static_cast<uint32_t>(image.Width()), static_cast<uint32_t>(image.Height()), 24, 1) == nullptr) return;
  CopyToRaster(raster, image, image.Width(), image.Height());
}

void RasterToImage(const DibRaster& raster, ColorGrayImage& image) {
  if (raster.Empty()) {
    image.Free();
    return;
  }
  ColorGrayImage picture;
  if (!picture.Create(raster.Width(), raster.Height())) {
    throw Error("not enough memory for a " + std::to_string(raster.Width()) + " x " + std::to_string(raster.Height()) + " image");
  }
  picture.mask.Fill(0);
  const int h = raster.Height();
  for (int i = 0; i < h; ++i) {
    uint8_t* red = picture.channels[0].Row(i);
    uint8_t* green = picture.channels[1].Row(i);
    uint8_t* blue = picture.channels[2].Row(i);
    for (int x = 0; x < raster.Width(); ++x) {
      const uint32_t c = raster.GetPixelColor(x, h - 1 - i);
      red[x] = static_cast<uint8_t>(c & 0xFF);
      green[x] = static_cast<uint8_t>((c >> 8) & 0xFF);
      blue[x] = static_cast<uint8_t>((c >> 16) & 0xFF);
    }
  }
  if (image.channels.size() != 3) image.channels.resize(3);
  for (size_t c = 0; c < 3; ++c) image.channels[c] = std::move(picture.channels[c]);
  image.mask = std::move(picture.mask);
}

}  // namespace lumet
