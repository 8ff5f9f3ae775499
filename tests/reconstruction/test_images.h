#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/projection.h"
#include "util/error.h"

namespace lumet::testing {

// A colour frame whose channel c at (x, y) is value(c, x, y).
template <typename F>
ColorGrayImage MakeFrame(int width, int height, F value) {
  ColorGrayImage frame;
  frame.Create(width, height);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < height; ++y) {
      uint8_t* row = frame.channels[static_cast<size_t>(c)][y];
      for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(value(c, x, y));
    }
  }
  return frame;
}

// Runs f expecting a lumet::Error whose message holds every given text.
template <typename F>
void ExpectError(F f, const std::vector<std::string>& texts) {
  try {
    f();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    for (const auto& text : texts) EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
  }
}

}  // namespace lumet::testing
