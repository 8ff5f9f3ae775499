#include "lumet/sequence.h"

#include "library/conversions.h"
#include "library/sequence_source.h"

namespace lumet {

Sequence Sequence::FromPattern(const std::string& pattern, int startIndex) {
  UseModulesBesideLibrary();
  if (!FrameSource::IsVideoPattern(pattern)) {
    const std::string problem = LrPatternProblem(pattern);
    if (!problem.empty()) throw Error("frame pattern " + QuotedValue(pattern) + ": " + problem);
  }
  if (startIndex < 0) throw Error("the start index " + std::to_string(startIndex) + " is below 0");
  return Sequence(std::make_shared<Source>(pattern, startIndex, nullptr));
}

Sequence Sequence::FromFrames(std::vector<Frame> frames) {
  auto images = std::make_shared<FrameImages>();
  images->reserve(frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    images->push_back(ToColorImage(frames[i], "frames[" + std::to_string(i) + "]"));
    frames[i] = Frame{};  // each frame is held once
  }
  return Sequence(std::make_shared<Source>(std::string(), 0, std::move(images)));
}

std::string Sequence::Name(int k) const { return source_->frames.Name(k); }

Frame Sequence::Read(int k) const {
  ColorGrayImage image;
  source_->ReadChecked(k, image);
  return ToFrame(image);
}

int Sequence::Count(int limit) const { return source_->frames.CountFrames(limit); }

void Sequence::Source::ReadChecked(int k, ColorGrayImage& image) {
  if (k < 0) throw Error("frame " + std::to_string(k) + " is not a frame of the sequence (frames count from 0)");
  frames.Read(k, image);
}

}  // namespace lumet
