#include "codecs/raw_still.h"

#include <libraw/libraw.h>

#include <cstring>
#include <memory>

#include "codecs/codec_failure.h"

namespace lumet::codec {

namespace {

bool Magic(const uint8_t* bytes, size_t size, size_t at, const char* magic, size_t length) {
  return size >= at + length && std::memcmp(bytes + at, magic, length) == 0;
}

// The containers camera raw files come in; anything else never reaches LibRaw, which would
// otherwise guess at arbitrary bytes.
bool MayBeCameraRaw(const uint8_t* bytes, size_t size) {
  return Magic(bytes, size, 0, "II*\0", 4) || Magic(bytes, size, 0, "MM\0*", 4) ||  // DNG, NEF, CR2, ARW, PEF, ...
         Magic(bytes, size, 0, "IIRO", 4) || Magic(bytes, size, 0, "IIRS", 4) ||  // ORF
         Magic(bytes, size, 0, "IIU\0", 4) ||                                       // RW2
         Magic(bytes, size, 0, "FUJIFILM", 8) ||                                    // RAF
         Magic(bytes, size, 4, "ftypcrx ", 8);                                      // CR3
}

uint32_t Read(const uint8_t* p, int bytes, bool little) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[little ? i : bytes - 1 - i]) << (8 * i);
  return v;
}

std::string RawError(int code) { return libraw_strerror(code); }

}  // namespace

bool IsDng(const uint8_t* bytes, size_t size) {
  if (size < 8) return false;
  const bool little = bytes[0] == 'I';
  if (!(Magic(bytes, size, 0, "II*\0", 4) || Magic(bytes, size, 0, "MM\0*", 4))) return false;
  const uint32_t ifd = Read(bytes + 4, 4, little);
  if (ifd > size || size - ifd < 2) return false;
  const uint32_t entries = Read(bytes + ifd, 2, little);
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t at = ifd + 2 + static_cast<size_t>(i) * 12;
    if (at + 12 > size) return false;
    constexpr uint32_t kDngVersionTag = 50706;
    if (Read(bytes + at, 2, little) == kDngVersionTag) return true;
  }
  return false;
}

bool ReadCameraRaw(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
                   StillSamples& out) {
  if (!MayBeCameraRaw(bytes, size)) return false;
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
  int code = raw->open_buffer(const_cast<uint8_t*>(bytes), size);
  if (code == LIBRAW_FILE_UNSUPPORTED || (code == LIBRAW_SUCCESS && raw->imgdata.idata.raw_count == 0)) {
    // A DNG is a TIFF by its first bytes, and its first picture is commonly a small preview:
    // never let that pass for the frame.
    if (IsDng(bytes, size)) {
      Fail("cannot read " + name + ": the DNG file holds no raw image that can be decoded (" +
           (code == LIBRAW_SUCCESS ? std::string("none found") : RawError(code)) + ")");
    }
    return false;
  }
  if (code != LIBRAW_SUCCESS) FailUnreadable("the camera raw file cannot be read: " + RawError(code));
  const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
  CheckFrameSize(name, sizes.width, sizes.height, 3, 2, limits);
  // The sensor data, and LibRaw's own working image (four 16-bit samples a pixel).
  CheckFrameSize(name, sizes.raw_width, sizes.raw_height, 4, 2, limits);
  if ((code = raw->unpack()) != LIBRAW_SUCCESS) FailUnreadable("its raw image cannot be unpacked: " + RawError(code));
  libraw_output_params_t& params = raw->imgdata.params;
  params.output_bps = 16;
  params.gamm[0] = 1.0;  // linear: no transfer curve
  params.gamm[1] = 1.0;
  params.no_auto_bright = 1;
  params.use_camera_wb = 1;
  params.output_color = 1;  // sRGB primaries
  if ((code = raw->dcraw_process()) != LIBRAW_SUCCESS) {
    FailUnreadable("its raw image cannot be developed: " + RawError(code));
  }
  int made = LIBRAW_SUCCESS;
  std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> image(
      raw->dcraw_make_mem_image(&made), [](libraw_processed_image_t* p) { LibRaw::dcraw_clear_mem(p); });
  if (!image || made != LIBRAW_SUCCESS) FailUnreadable("its developed image cannot be made: " + RawError(made));
  if (image->type != LIBRAW_IMAGE_BITMAP || image->colors != 3 || image->bits != 16) {
    FailUnreadable("LibRaw developed it into an unexpected layout");
  }
  CheckFrameSize(name, image->width, image->height, 3, 2, limits);
  StillSamples decoded;
  decoded.width = image->width;
  decoded.height = image->height;
  decoded.channels = 3;
  const size_t count = static_cast<size_t>(image->width) * image->height * 3;
  if (image->data_size < count * sizeof(uint16_t)) FailUnreadable("LibRaw's developed image is cut short");
  AllocateSamples(decoded.samples16, count, name);
  std::memcpy(decoded.samples16.data(), image->data, count * sizeof(uint16_t));
  decoded.linear = true;
  out = std::move(decoded);
  return true;
}

}  // namespace lumet::codec
