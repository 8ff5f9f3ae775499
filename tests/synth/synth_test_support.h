#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "numeric/image_plane.h"
#include "support/temp_folder.h"

namespace lumet::testing {

using SynthTempFolder = TempFolder;

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A colour image with every channel filled by f(channel, x, y).
template <typename F>
ColorGrayImage MakeImage(int width, int height, F f) {
  ColorGrayImage image;
  image.Create(width, height);
  image.mask.Fill(0);
  for (int ch = 0; ch < 3; ++ch) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) image.channels[ch][y][x] = static_cast<uint8_t>(f(ch, x, y));
    }
  }
  return image;
}

inline bool SamePixels(const ColorGrayImage& a, const ColorGrayImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int ch = 0; ch < 3; ++ch) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) {
        if (a.channels[ch][y][x] != b.channels[ch][y][x]) return false;
      }
    }
  }
  return true;
}

}  // namespace lumet::testing
