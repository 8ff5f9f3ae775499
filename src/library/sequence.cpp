#include "lumet/sequence.h"

#include <cstdint>

#include "library/conversions.h"
#include "library/sequence_source.h"

namespace lumet {

namespace {

// A program's frames, each checked when given and turned into the engine's image only
// when a stage reads it: the sequence holds the pixels once, as the program gave them.
class ProgramFrames final : public MemoryFrames {
 public:
  explicit ProgramFrames(std::vector<Frame> frames) : frames_(std::move(frames)) {
    for (size_t i = 0; i < frames_.size(); ++i) CheckFrame(frames_[i], Name(i));
  }
  int Count() const override { return static_cast<int>(frames_.size()); }
  int Width(int index) const override { return At(index).width; }
  int Height(int index) const override { return At(index).height; }
  void Read(int index, ColorGrayImage& image) const override {
    image = ToColorImage(At(index), Name(static_cast<size_t>(index)));
    image.mask.Free();  // no stage reads it
  }
  void ReadChannel(int index, int c, GrayImage& plane) const override {
    const Frame& frame = At(index);
    plane.Create(frame.width, frame.height);
    for (int y = 0; y < frame.height; ++y) {
      const std::uint8_t* in = frame.rgb.data() + 3 * static_cast<size_t>(y) * static_cast<size_t>(frame.width) +
                               static_cast<size_t>(c);
      std::uint8_t* out = plane.Row(y);
      for (int x = 0; x < frame.width; ++x) out[x] = in[3 * static_cast<size_t>(x)];
    }
  }

 private:
  static std::string Name(size_t i) { return "frames[" + std::to_string(i) + "]"; }
  const Frame& At(int index) const { return frames_[static_cast<size_t>(index)]; }
  std::vector<Frame> frames_;
};

}  // namespace

Sequence Sequence::FromPattern(const std::string& pattern, int startIndex) {
  UseModulesBesideLibrary();
  if (!FrameSource::IsVideoPattern(pattern)) {
    const std::string problem = LrPatternProblem(pattern);
    if (!problem.empty()) throw Error("frame pattern " + QuotedValue(pattern) + ": " + problem);
  }
  if (startIndex < 0) throw Error("the start index " + std::to_string(startIndex) + " is below 0");
  return Sequence(std::make_shared<Source>(pattern, startIndex, std::shared_ptr<const MemoryFrames>()));
}

Sequence Sequence::FromFrames(std::vector<Frame> frames) {
  std::shared_ptr<const MemoryFrames> memory = std::make_shared<ProgramFrames>(std::move(frames));
  return Sequence(std::make_shared<Source>(std::string(), 0, std::move(memory)));
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

void Sequence::Source::ReadChannelChecked(int k, int c, GrayImage& plane) {
  if (k < 0) throw Error("frame " + std::to_string(k) + " is not a frame of the sequence (frames count from 0)");
  frames.ReadChannel(k, c, plane);
}

}  // namespace lumet
