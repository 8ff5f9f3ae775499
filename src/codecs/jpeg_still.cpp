// JPEG through libjpeg. Errors arrive by longjmp, as in the PNG reader; every warning of
// the decoder (a premature end of the data, corrupt entropy data, ...) is taken as an error,
// since each means pixels the file does not really hold.

#include <cstdio>
// clang-format off: jpeglib.h needs FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <csetjmp>
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
  decoded.width = static_cast<int>(header.width);
  decoded.height = static_cast<int>(header.height);
  decoded.channels = channels;
  const size_t rowBytes = static_cast<size_t>(header.width) * static_cast<size_t>(channels);
  AllocateSamples(decoded.samples8, rowBytes * header.height, name);
  if (!Decode(&handle.info, &handle.errors, decoded.samples8.data(), rowBytes)) FailUnreadable(handle.errors.message);
  out = std::move(decoded);
}

}  // namespace lumet::codec
