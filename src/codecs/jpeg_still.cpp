// JPEG through libjpeg. Errors arrive by longjmp, as in the PNG reader; every warning of
// the decoder (a premature end of the data, corrupt entropy data, ...) is taken as an error,
// since each means pixels the file does not really hold.

#include <cstdio>
// clang-format off: jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/codec_failure.h"
#include "codecs/still_formats.h"

namespace lumet::codec {

namespace {

struct JpegErrors {
  jpeg_error_mgr manager{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void OnError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  errors->manager.format_message(info, errors->message);
  std::longjmp(errors->jump, 1);
}

void OnMessage(j_common_ptr info, int level) {
  if (level < 0) OnError(info);  // a warning: the data is damaged
}

struct JpegHeader {
  JDIMENSION width = 0;
  JDIMENSION height = 0;
  int components = 0;
  J_COLOR_SPACE space = JCS_UNKNOWN;
};

bool ReadHeader(jpeg_decompress_struct* info, JpegErrors* errors, const uint8_t* bytes, size_t size,
                long maxMemory, JpegHeader* header) {
  if (setjmp(errors->jump)) return false;
  jpeg_create_decompress(info);
  // A progressive file keeps its coefficients for the whole picture; beyond this the
  // library refuses (it has no backing store) instead of taking the memory.
  info->mem->max_memory_to_use = maxMemory;
  jpeg_mem_src(info, bytes, static_cast<unsigned long>(size));
  // Kept for the frame's metadata: APP1 (EXIF) and APP2 (the ICC profile's chunks).
  jpeg_save_markers(info, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(info, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(info, TRUE);
  header->width = info->image_width;
  header->height = info->image_height;
  header->components = info->num_components;
  header->space = info->jpeg_color_space;
  return true;
}

bool Decode(jpeg_decompress_struct* info, JpegErrors* errors, uint8_t* samples, size_t rowBytes) {
  if (setjmp(errors->jump)) return false;
  jpeg_start_decompress(info);
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = samples + rowBytes * info->output_scanline;
    jpeg_read_scanlines(info, &row, 1);
  }
  jpeg_finish_decompress(info);
  return true;
}

class JpegHandle {
 public:
  JpegHandle() {
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = OnError;
    errors.manager.emit_message = OnMessage;
  }
  ~JpegHandle() { jpeg_destroy_decompress(&info); }
  JpegHandle(const JpegHandle&) = delete;
  JpegHandle& operator=(const JpegHandle&) = delete;

  jpeg_decompress_struct info{};
  JpegErrors errors;
};

bool MarkerStartsWith(const jpeg_marker_struct& marker, const char* tag, size_t length) {
  return marker.data_length >= length && std::memcmp(marker.data, tag, length) == 0;
}

// A profile too large for one APP2 segment is split into chunks, each "ICC_PROFILE\0", its
// number (from 1) and the count, then its bytes. Put together in their numbers' order; a
// set with a chunk missing, repeated or counted otherwise is no profile.
std::string IccProfileOf(const jpeg_decompress_struct& info) {
  constexpr size_t kHeader = 14;
  std::vector<const jpeg_marker_struct*> chunks;
  for (const jpeg_marker_struct* m = info.marker_list; m != nullptr; m = m->next) {
    if (m->marker != JPEG_APP0 + 2 || !MarkerStartsWith(*m, "ICC_PROFILE\0", 12) || m->data_length < kHeader) continue;
    const size_t number = m->data[12];
    const size_t count = m->data[13];
    if (count == 0 || number == 0 || number > count) return {};
    if (chunks.empty()) chunks.assign(count, nullptr);
    if (count != chunks.size() || chunks[number - 1] != nullptr) return {};
    chunks[number - 1] = m;
  }
  std::string profile;
  for (const jpeg_marker_struct* m : chunks) {
    if (m == nullptr) return {};
    profile.append(reinterpret_cast<const char*>(m->data) + kHeader, m->data_length - kHeader);
  }
  return profile;
}

// The first APP1 segment holding EXIF, without its "Exif\0\0" header (APP1 also holds XMP).
std::string ExifOf(const jpeg_decompress_struct& info) {
  constexpr size_t kHeader = 6;
  for (const jpeg_marker_struct* m = info.marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && MarkerStartsWith(*m, "Exif\0\0", kHeader) && m->data_length > kHeader) {
      return std::string(reinterpret_cast<const char*>(m->data) + kHeader, m->data_length - kHeader);
    }
  }
  return {};
}

}  // namespace

void ReadJpeg(const std::string& name, const uint8_t* bytes, size_t size, const FrameLimits& limits,
              StillSamples& out) {
  JpegHandle handle;
  JpegHeader header;
  if (!ReadHeader(&handle.info, &handle.errors, bytes, size, static_cast<long>(limits.maxSampleBytes), &header)) {
    FailUnreadable(handle.errors.message);
  }
  const bool grey = header.space == JCS_GRAYSCALE;
  if (!grey && header.space != JCS_YCbCr && header.space != JCS_RGB) {
    FailUnsupported("a JPEG file in CMYK or another colour space");
  }
  const int channels = grey ? 1 : 3;
  CheckFrameSize(name, header.width, header.height, channels, 1, limits);
  handle.info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  StillSamples decoded;
  decoded.metadata = {.iccProfile = IccProfileOf(handle.info), .exif = ExifOf(handle.info)};
  decoded.width = static_cast<int>(header.width);
  decoded.height = static_cast<int>(header.height);
  decoded.channels = channels;
  const size_t rowBytes = static_cast<size_t>(header.width) * static_cast<size_t>(channels);
  AllocateSamples(decoded.samples8, rowBytes * header.height, name);
  if (!Decode(&handle.info, &handle.errors, decoded.samples8.data(), rowBytes)) FailUnreadable(handle.errors.message);
  out = std::move(decoded);
}

}  // namespace lumet::codec
