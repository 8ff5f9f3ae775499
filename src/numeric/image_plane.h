#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace lumet {

// One channel of pixels of type P, row 0 at the top, pixel (x, y) = column x, row y,
// reached through a table of row pointers. Rows start on 4-byte boundaries: the stride is
// the row length in bytes rounded up to whole 4-byte words.
template <typename P>
class ImagePlane {
 public:
  using PixelType = P;

  ImagePlane() = default;
  virtual ~ImagePlane() = default;
  ImagePlane(const ImagePlane& other) { *this = other; }
  ImagePlane(ImagePlane&& other) noexcept { *this = std::move(other); }
  ImagePlane& operator=(const ImagePlane& other) {
    if (this == &other) return *this;
    if (CreateRows(other.width_, other.height_, other.firstRow_, other.heldRows_)) {
      std::copy(other.pixels_.get(), other.pixels_.get() + ElementCount(), pixels_.get());
    }
    return *this;
  }
  ImagePlane& operator=(ImagePlane&& other) noexcept {
    if (this == &other) return *this;
    pixels_ = std::move(other.pixels_);
    rowTable_ = std::move(other.rowTable_);
    width_ = other.width_;
    height_ = other.height_;
    stride_ = other.stride_;
    firstRow_ = other.firstRow_;
    heldRows_ = other.heldRows_;
    other.rowTable_.clear();
    other.width_ = other.height_ = other.stride_ = other.firstRow_ = other.heldRows_ = 0;
    return *this;
  }

  // Empties the plane; an empty plane is left unchanged.
  virtual void Free() {
    pixels_.reset();
    rowTable_.clear();
    width_ = height_ = stride_ = firstRow_ = heldRows_ = 0;
  }

  // Frees, then obtains width x height pixels (not initialised). False, with the plane
  // left empty, for a non-positive dimension; std::bad_alloc, with the plane left empty,
  // when no memory can be had (so that no caller goes on with an empty plane).
  virtual bool Create(int width, int height) { return CreateRows(width, height, 0, height); }

  // A plane of width x height that holds only rows first .. first + count - 1 (a frame of
  // which a computation reads a band alone); the other rows' pointers are null. False, with
  // the plane left empty, for a non-positive dimension or rows outside the plane.
  bool CreateRows(int width, int height, int first, int count) {
    Free();
    if (width <= 0 || height <= 0 || first < 0 || count <= 0 || count > height - first) return false;
    const int stride = static_cast<int>((static_cast<int64_t>(width) * static_cast<int64_t>(sizeof(P)) + 3) & ~int64_t{3});
    const size_t elements = static_cast<size_t>(stride) / sizeof(P) * static_cast<size_t>(count);
    pixels_.reset(new P[elements]);
    width_ = width;
    height_ = height;
    stride_ = stride;
    firstRow_ = first;
    heldRows_ = count;
    try {
      rowTable_.assign(static_cast<size_t>(height), nullptr);
    } catch (const std::bad_alloc&) {
      Free();
      throw;
    }
    for (int y = 0; y < count; ++y) {
      rowTable_[static_cast<size_t>(first + y)] = pixels_.get() + static_cast<size_t>(y) * RowElements();
    }
    return true;
  }

  // Keeps rows first .. first + count - 1 alone (clipped to the plane), releasing the rest.
  void KeepRows(int first, int count) {
    const int lo = std::max(first, firstRow_);
    const int hi = std::min(first + count, firstRow_ + heldRows_);
    if (Empty() || (lo == firstRow_ && hi == firstRow_ + heldRows_)) return;
    ImagePlane kept;
    if (hi > lo) {
      kept.CreateRows(width_, height_, lo, hi - lo);
      std::copy(Row(lo), Row(lo) + RowElements() * static_cast<size_t>(hi - lo), kept.Row(lo));
    }
    *this = std::move(kept);
  }

  // Sets every pixel (padding included) to value.
  void Fill(P value) {
    if (pixels_) std::fill(pixels_.get(), pixels_.get() + ElementCount(), value);
  }

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return stride_; }  // bytes per row
  bool Empty() const { return pixels_ == nullptr; }
  // The rows held: FirstRow() .. FirstRow() + HeldRows() - 1 (every row but after KeepRows
  // or CreateRows).
  int FirstRow() const { return firstRow_; }
  int HeldRows() const { return heldRows_; }
  bool HoldsAllRows() const { return firstRow_ == 0 && heldRows_ == height_; }

  P* Row(int y) { return rowTable_[static_cast<size_t>(y)]; }
  const P* Row(int y) const { return rowTable_[static_cast<size_t>(y)]; }
  P* operator[](int y) { return Row(y); }
  const P* operator[](int y) const { return Row(y); }
  // The first held row; rows follow at Stride() bytes.
  P* Pixels() { return pixels_.get(); }
  const P* Pixels() const { return pixels_.get(); }

 private:
  size_t RowElements() const { return static_cast<size_t>(stride_) / sizeof(P); }
  size_t ElementCount() const { return RowElements() * static_cast<size_t>(heldRows_); }

  std::unique_ptr<P[]> pixels_;
  std::vector<P*> rowTable_;
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  int firstRow_ = 0;
  int heldRows_ = 0;
};

// 8-bit plane: frames as read from BMP files, display buffers, counters.
class GrayImage : public ImagePlane<uint8_t> {
 public:
  // Bilinear sampling at (x, y), pixel centres at integer positions. The right and bottom
  // neighbours are clamped to the last column and row; the left and top indices are
  // |floor|. Callers sample only at 0 <= x < width and 0 <= y < height.
  double Sample(double x, double y) const;
  // The same value for 0 <= x, 0 <= y (floor is then truncation and |floor| the floor
  // itself), inline for the hot loops that only sample there.
  double SampleNonNegative(double x, double y) const {
    const int ix = static_cast<int>(x);
    const int iy = static_cast<int>(y);
    const double fx = x - ix;
    const double fy = y - iy;
    const int xr = ix + 1 >= Width() ? Width() - 1 : ix + 1;
    const int yb = iy + 1 >= Height() ? Height() - 1 : iy + 1;
    const uint8_t* top = Row(iy);
    const uint8_t* bottom = Row(yb);
    const double t = (1.0 - fx) * top[ix] + fx * top[xr];
    const double b = (1.0 - fx) * bottom[ix] + fx * bottom[xr];
    return (1.0 - fy) * t + fy * b;
  }
};

// Double plane: warped frames, the HR estimate and its gradients, filter responses.
class DoubleImage : public ImagePlane<double> {
 public:
  double& At(int x, int y) { return Row(y)[x]; }
  double At(int x, int y) const { return Row(y)[x]; }
};

// The fourth plane of a colour image.
class MaskImage : public ImagePlane<uint8_t> {};

// Float plane: a frame's samples as its file held them beyond 8 bits.
class FloatImage : public ImagePlane<float> {};

// A frame's three channels at the depth its file had, in 8-bit grey-level units (a 16-bit
// sample v is v / 257, so an 8-bit value a and its 16-bit form a * 257 are the same number;
// a floating-point sample v is v * 255, 1.0 the nominal white), holding the same rows as the
// 8-bit channels beside them, which are these values rounded (and clamped to 0 .. 255).
struct DeepPlanes {
  FloatImage channels[3];
  // The file held floating-point samples: values below 0 and above 255 are the scene's own
  // and are kept; integer samples lie in 0 .. 255.
  bool floatSamples = false;
  // The samples are linear light (a camera raw file's) although integers; floating-point
  // samples are linear light always, other integer samples sRGB encoded.
  bool linearSamples = false;
};

// What a frame's file said about its pixels, as the file held it: an ICC profile (the
// colours' meaning) and an EXIF block (the camera's record). Empty strings where it had none.
struct FileMetadata {
  std::string iccProfile;
  std::string exif;
  bool Empty() const { return iccProfile.empty() && exif.empty(); }
};

// The samples of a frame a computation reads: its 8-bit channels alone, or its deep planes
// where it has them (the same units, so frames of both kinds mix).
enum class SampleDepth { Bits8, Deep };

// Three channel planes (0 red, 1 green, 2 blue) of one pixel type plus a mask plane.
template <typename Plane>
class ColorImage {
 public:
  using PixelType = typename Plane::PixelType;

  ColorImage() : channels(3), levels(sizeof(PixelType) == 1 ? 256 : 65536) {}

  // Creates the three channels and the mask at width x height; the result is the mask's.
  // (A moved-from image gets its three channels back.) The deep planes and the metadata are
  // let go of: they would no longer be these pixels'.
  bool Create(int width, int height) {
    deep.reset();
    metadata.reset();
    if (channels.size() != 3) channels.resize(3);
    for (auto& channel : channels) channel.Create(width, height);
    return mask.Create(width, height);
  }
  void Free() {
    for (auto& channel : channels) channel.Free();
    mask.Free();
    deep.reset();
    metadata.reset();
  }
  int Width() const { return channels.empty() ? 0 : channels[0].Width(); }
  int Height() const { return channels.empty() ? 0 : channels[0].Height(); }
  bool Empty() const { return channels.empty() || channels[0].Empty(); }

  std::vector<Plane> channels;
  MaskImage mask;
  // A frame read from a file of more than 8 bits a sample: its samples at that depth (null
  // for 8-bit frames and for every image the engine makes). Shared and never changed: a
  // copy of the frame shares them; whatever changes the channels' pixels in place replaces
  // them with planes changed alike, or lets go of them.
  std::shared_ptr<const DeepPlanes> deep;
  // A frame read from a file holding an ICC profile or EXIF: those bytes (null otherwise).
  // An image written to a file takes its own along where the format holds them.
  std::shared_ptr<const FileMetadata> metadata;
  uint8_t flag = 0;
  int levels;
  PixelType channelValue[3] = {};
};

using ColorGrayImage = ColorImage<GrayImage>;
using ColorDoubleImage = ColorImage<DoubleImage>;

}  // namespace lumet
