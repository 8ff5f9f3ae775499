#pragma once

#include <memory>
#include <string>
#include <vector>

#include "lumet/frame.h"

#include "lumet/export.h"

namespace lumet {

// The frames of one scene, addressed by index: frame k of a numbered file pattern is file
// number startIndex + k, of a video its frame startIndex + k (counted from 0), of frames in
// memory frames[k]. Any frame can be the reference of a registration, with frames before
// and after it. A Sequence decodes each frame on demand; it is not safe to use one Sequence
// from several threads at once. Copies share the same frames.
class LUMET_API Sequence {
 public:
  // "./images/lr-%d.bmp" (one integer conversion), or a video file's name.
  static Sequence FromPattern(const std::string& pattern, int startIndex = 0);
  // The frames are kept as given (each checked here) and turned into the engine's image
  // one at a time, when a stage reads it: no second copy of the sequence is made.
  static Sequence FromFrames(std::vector<Frame> frames);

  // Frame k's file name ("clip.mkv frame 12" for a video, "frames[3]" in memory).
  std::string Name(int k) const;
  // Frame k; lumet::Error naming it when it is missing or unreadable.
  Frame Read(int k) const;
  // The number of consecutive frames present from frame 0 on, counting at most limit.
  int Count(int limit = 100000) const;

  // The engine's side, for the engine's own front ends (the Python module hands its arrays
  // over without a copy); a program has no use for it.
  struct Source;
  static Sequence FromSource(std::shared_ptr<Source> source) { return Sequence(std::move(source)); }
  const std::shared_ptr<Source>& source() const { return source_; }

 private:
  explicit Sequence(std::shared_ptr<Source> source) : source_(std::move(source)) {}
  std::shared_ptr<Source> source_;
};

}  // namespace lumet
