#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "numeric/image_plane.h"

namespace lumet {

// The display raster of the viewer windows: a packed 24-bit device-independent bitmap in
// memory: a 40-byte info header followed by the pixel rows, row 0 being the bottom row of
// the picture, each pixel blue, green, red, rows padded to whole 4-byte words.
class DibRaster {
 public:
  static constexpr int kHeaderSize = 40;

  explicit DibRaster(uint32_t formatTag = 0);
  virtual ~DibRaster();
  DibRaster(const DibRaster& other);
  DibRaster& operator=(const DibRaster& other);

  // Releases any held block, then builds a new one; returns the block, or nullptr (with
  // LastError() set and the raster empty) for a zero dimension or exhausted memory.
  const uint8_t* Create(uint32_t width, uint32_t height, uint32_t bitsPerPixel, uint32_t formatTag);
  // colour = red | green << 8 | blue << 16. Ignored outside the raster or when empty.
  void SetPixelColor(int x, int y, uint32_t color);
  // The colour at (x, y) in the same encoding; 0 outside the raster.
  uint32_t GetPixelColor(int x, int y) const;
  bool Destroy();

  bool Empty() const { return block_.empty(); }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return stride_; }
  uint32_t FormatTag() const { return formatTag_; }
  const std::string& LastError() const { return lastError_; }

  // The packed block (header then rows) that a window paints unscaled at its origin.
  const uint8_t* Block() const { return block_.empty() ? nullptr : block_.data(); }
  size_t BlockSize() const { return block_.size(); }
  // The first (bottom) pixel row.
  const uint8_t* Bits() const { return block_.empty() ? nullptr : block_.data() + kHeaderSize; }

 private:
  std::vector<uint8_t> block_;
  uint8_t header_[kHeaderSize] = {};
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  uint32_t formatTag_ = 0;
  int transparentIndex_ = -1;
  bool enabled_ = true;
  std::string lastError_;
};

// Fills raster (already created at width x height) from image, upright: raster row y takes
// image row height - 1 - y.
void CopyToRaster(DibRaster& raster, const ColorGrayImage& image, int width, int height);

// Creates raster at the image's size (format tag 1) and fills it with CopyToRaster.
void ImageToRaster(const ColorGrayImage& image, DibRaster& raster);

// The picture of a raster as a colour image (row 0 at the top), e.g. for saving it.
void RasterToImage(const DibRaster& raster, ColorGrayImage& image);

}  // namespace lumet
