#pragma once

#include <memory>
#include <string>

#include "lumet/sequence.h"
#include "workbench/frame_source.h"

namespace lumet {

// The engine's frame source behind a Sequence.
struct Sequence::Source {
  Source(const std::string& pattern, int startIndex, std::shared_ptr<const FrameImages> images)
      : frames(pattern, startIndex, std::move(images)) {}
  // Frame k, refusing a negative index by name.
  void ReadChecked(int k, ColorGrayImage& image);

  FrameSource frames;
};

}  // namespace lumet
