#pragma once

// Baseline JPEGs made in memory for the still reader's tests.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

namespace lumet::testing {

// A JPEG of w x h pixels of `components` samples in `space` (JCS_RGB, JCS_CMYK, ...),
// sample c of pixel (x, y) = sample(x, y, c), with the marker segments (code, payload)
// written in order right after its header.
inline std::string EncodeJpeg(int w, int h, int components, J_COLOR_SPACE space,
                              const std::function<uint8_t(int x, int y, int c)>& sample,
                              const std::vector<std::pair<int, std::string>>& markers = {}) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(w);
  info.image_height = static_cast<JDIMENSION>(h);
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  for (const auto& [code, payload] : markers) {
    jpeg_write_marker(&info, code, reinterpret_cast<const JOCTET*>(payload.data()),
                      static_cast<unsigned int>(payload.size()));
  }
  std::vector<uint8_t> row(static_cast<size_t>(w) * static_cast<size_t>(components));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < components; ++c) row[static_cast<size_t>(x * components + c)] = sample(x, y, c);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string bytes(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return bytes;
}

}  // namespace lumet::testing
