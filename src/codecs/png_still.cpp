// PNG through libpng. Its errors arrive by longjmp, so each stretch of library calls runs
// in a function whose locals are all plain data, and the C++ work happens between them.

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/codec_failure.h"
#include "codecs/still_formats.h"

namespace lumet::codec {

namespace {

struct PngState {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t at = 0;
  char error[200] = {};
};

void OnError(png_structp png, png_const_charp text) {
  auto* state = static_cast<PngState*>(png_get_error_ptr(png));
  std::snprintf(state->error, sizeof state->error, "%s", text);
  png_longjmp(png, 1);
}

// Ancillary-chunk problems (a bad CRC in a text chunk, ...) leave the pixels intact.
void OnWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, size_t count) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (count > state->size - state->at) png_error(png, "the file ends before the image does");
  std::memcpy(out, state->data + state->at, count);
  state->at += count;
}

class PngReadHandle {
 public:
  explicit PngReadHandle(PngState& state) {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
    if (png_ == nullptr || info_ == nullptr) throw std::bad_alloc();
    png_set_read_fn(png_, &state, ReadFromMemory);
  }
  ~PngReadHandle() { png_destroy_read_struct(&png_, &info_, nullptr); }
  PngReadHandle(const PngReadHandle&) = delete;
  PngReadHandle& operator=(const PngReadHandle&) = delete;
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// What the IHDR chunk says.
struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int depth = 0;
  int colourType = 0;
};

// Reads the chunks up to the image data and sets the transformations: palette to RGB, low
// grey depths to 8 bits, alpha stripped (a tRNS chunk is not expanded into alpha either),
// 16-bit samples in the machine's order.
bool ReadHeader(png_structp png, png_infop info, int maxDimension, PngHeader* header) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, static_cast<png_uint_32>(maxDimension), static_cast<png_uint_32>(maxDimension));
  png_read_info(png, info);
  int interlace = 0;
  png_get_IHDR(png, info, &header->width, &header->height, &header->depth, &header->colourType, &interlace, nullptr,
               nullptr);
  if (header->colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (header->colourType == PNG_COLOR_TYPE_GRAY && header->depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if ((header->colourType & PNG_COLOR_MASK_ALPHA) != 0) png_set_strip_alpha(png);
  if (header->depth == 16) png_set_swap(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

// Decodes every row, then reads on to the end chunk so that a file cut after the image
// data, or a damaged chunk there, is noticed too.
bool ReadRows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

[[noreturn]] void Refuse(const PngState& state) {
  FailUnreadable(state.error[0] != '\0' ? std::string(state.error) : std::string("the PNG data cannot be decoded"));
}

template <typename T>
void DecodeRows(const PngReadHandle& handle, const PngState& state, std::vector<T>& samples, size_t rowSamples,
                png_uint_32 height, const std::string& name) {
  AllocateSamples(samples, rowSamples * height, name);
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = reinterpret_cast<png_bytep>(samples.data() + rowSamples * y);
  if (!ReadRows(handle.png(), handle.info(), rows.data())) Refuse(state);
}

// The iCCP chunk's profile (libpng has checked its header and tag table against the image)
// and the eXIf chunk, which may come before or after the image data.
StillMetadata MetadataOf(const PngReadHandle& handle) {
  StillMetadata metadata;
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileBytes = 0;
  if (png_get_iCCP(handle.png(), handle.info(), &name, &compression, &profile, &profileBytes) != 0 &&
      profile != nullptr) {
    metadata.iccProfile.assign(reinterpret_cast<const char*>(profile), profileBytes);
  }
  png_bytep exif = nullptr;
  png_uint_32 exifBytes = 0;
  if (png_get_eXIf_1(handle.png(), handle.info(), &exifBytes, &exif) != 0 && exif != nullptr) {
    metadata.exif.assign(reinterpret_cast<const char*>(exif), exifBytes);
  }
  return metadata;
}

}  // namespace

void ReadPng(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
             StillSamples& out) {
  PngState state{.data = bytes, .size = size};
  PngReadHandle handle(state);
  PngHeader header;
  if (!ReadHeader(handle.png(), handle.info(), limits.maxDimension, &header)) Refuse(state);
  const int channels = (header.colourType & PNG_COLOR_MASK_COLOR) != 0 ? 3 : 1;
  const int sampleBytes = header.depth == 16 ? 2 : 1;
  CheckFrameSize(name, header.width, header.height, channels, sampleBytes, limits);
  if (png_get_channels(handle.png(), handle.info()) != channels) FailUnreadable("unexpected PNG channel layout");
  StillSamples decoded;
  decoded.width = static_cast<int>(header.width);
  decoded.height = static_cast<int>(header.height);
  decoded.channels = channels;
  const size_t rowSamples = static_cast<size_t>(header.width) * static_cast<size_t>(channels);
  if (sampleBytes == 1) {
    DecodeRows(handle, state, decoded.samples8, rowSamples, header.height, name);
  } else {
    DecodeRows(handle, state, decoded.samples16, rowSamples, header.height, name);
  }
  decoded.metadata = MetadataOf(handle);
  out = std::move(decoded);
}

namespace {

struct PngOutput {
  char* data = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  char error[200] = {};
  ~PngOutput() { std::free(data); }
};

void OnWriteError(png_structp png, png_const_charp text) {
  auto* output = static_cast<PngOutput*>(png_get_error_ptr(png));
  std::snprintf(output->error, sizeof output->error, "%s", text);
  png_longjmp(png, 1);
}

void WriteToMemory(png_structp png, png_bytep in, size_t count) {
  auto* output = static_cast<PngOutput*>(png_get_io_ptr(png));
  if (count > output->capacity - output->size) {
    size_t capacity = output->capacity < 4096 ? 4096 : output->capacity;
    while (capacity - output->size < count) capacity *= 2;
    char* grown = static_cast<char*>(std::realloc(output->data, capacity));
    if (grown == nullptr) png_error(png, "out of memory");
    output->data = grown;
    output->capacity = capacity;
  }
  std::memcpy(output->data + output->size, in, count);
  output->size += count;
}

void FlushMemory(png_structp) {}

// The profile goes into an iCCP chunk (libpng compresses it), the EXIF block into an eXIf
// chunk, both before the image data. A profile libpng refuses for an RGB image is left out
// (a warning, not an error that would lose the image).
void SetMetadata(png_structp png, png_infop info, const StillMetadata& metadata) {
  if (!metadata.iccProfile.empty()) {
    png_set_benign_errors(png, 1);
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE,
                 reinterpret_cast<png_const_bytep>(metadata.iccProfile.data()),
                 static_cast<png_uint_32>(metadata.iccProfile.size()));
  }
  if (!metadata.exif.empty()) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(metadata.exif.size()),
                   reinterpret_cast<png_bytep>(const_cast<char*>(metadata.exif.data())));
  }
}

bool WriteAll(png_structp png, png_infop info, int width, int height, int depth, png_bytepp rows,
              const StillMetadata* metadata) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (metadata != nullptr) SetMetadata(png, info, *metadata);
  png_write_info(png, info);
  // Written once: this libpng would write the eXIf chunk again at the end.
  if (metadata != nullptr && !metadata->exif.empty()) png_free_data(png, info, PNG_FREE_EXIF, -1);
  if (depth == 16) png_set_swap(png);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

}  // namespace

std::string EncodePng(const std::string& path, int width, int height, int bitsPerSample, const void* samples,
                      const StillMetadata* metadata) {
  PngOutput output;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &output, OnWriteError, OnWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    throw std::bad_alloc();
  }
  png_set_write_fn(png, &output, WriteToMemory, FlushMemory);
  const size_t rowBytes = static_cast<size_t>(width) * 3 * static_cast<size_t>(bitsPerSample / 8);
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (size_t y = 0; y < rows.size(); ++y) {
    rows[y] = const_cast<png_bytep>(static_cast<const uint8_t*>(samples) + rowBytes * y);
  }
  const bool written = WriteAll(png, info, width, height, bitsPerSample, rows.data(), metadata);
  png_destroy_write_struct(&png, &info);
  if (!written) Fail("cannot write " + path + ": " + output.error);
  return std::string(output.data, output.size);
}

}  // namespace lumet::codec
