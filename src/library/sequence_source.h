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
  // Frames held by the caller, converted when read.
  Source(const std::string& pattern, int startIndex, std::shared_ptr<const MemoryFrames> memory)
      : frames(pattern, startIndex, std::move(memory)) {}
  // Frame k, refusing a negative index by name.
  void ReadChecked(int k, ColorGrayImage& image);
  // Channel c of frame k alone, likewise.
  void ReadChannelChecked(int k, int c, GrayImage& plane);

  FrameSource frames;
};

}  // namespace lumet
