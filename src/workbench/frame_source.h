#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "params/param_set.h"
#include "util/error.h"

namespace lumet {

class VideoFile;

// The frames of one sequence, frame k (0 = the reference) being file number startIndex + k
// of a numbered pattern, or frame startIndex + k (counted from 0) of a video file named by
// a pattern without "%". Each frame is decoded once: decoded frames are kept while they fit
// in a memory budget, and a video is otherwise read forward again from its start.
// Frames given in memory (the Python module's arrays) are frame k = images[startIndex + k],
// named "frames[i]" in messages; they are converted (or copied) when read and never decoded.
using FrameImages = std::vector<ColorGrayImage>;

// Frames held in memory by whoever gave them (a caller's arrays or pixel buffers), each
// turned into the engine's image only when a stage reads it, so that no second copy of
// the whole sequence is ever made. Read from one thread at a time.
class MemoryFrames {
 public:
  virtual ~MemoryFrames() = default;
  virtual int Count() const = 0;
  virtual int Width(int index) const = 0;
  virtual int Height(int index) const = 0;
  // Frame `index`'s three channels (the mask plane need not be made: no stage reads it).
  virtual void Read(int index, ColorGrayImage& image) const = 0;
  // Channel c (0 red, 1 green, 2 blue) of frame `index` alone. By default through Read.
  virtual void ReadChannel(int index, int c, GrayImage& plane) const;
};

// Frames held as engine images already (a caller's images, a window of decoded frames):
// each read is a copy of At(index).
class HeldImages : public MemoryFrames {
 public:
  int Width(int index) const override;
  int Height(int index) const override;
  void Read(int index, ColorGrayImage& image) const override;
  void ReadChannel(int index, int c, GrayImage& plane) const override;

 protected:
  // Frame `index`'s image (lumet::Error when it is not held).
  virtual const ColorGrayImage& At(int index) const = 0;
};

// Engine images in memory, copied when read.
std::shared_ptr<const MemoryFrames> FramesOfImages(std::shared_ptr<const FrameImages> images);

class FrameSource {
 public:
  // Decoded frames kept, in bytes of pixels.
  static constexpr size_t kDefaultBudget = size_t{1} << 30;

  FrameSource(std::string pattern, int startIndex, size_t budget = kDefaultBudget);
  // The images when given (not null), the pattern otherwise.
  FrameSource(std::string pattern, int startIndex, std::shared_ptr<const FrameImages> images);
  FrameSource(std::string pattern, int startIndex, std::shared_ptr<const MemoryFrames> frames);
  ~FrameSource();
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;

  // A pattern without "%" naming a file with a video container's extension.
  static bool IsVideoPattern(const std::string& pattern);

  bool IsVideo() const { return isVideo_; }
  int StartIndex() const { return start_; }

  // Frame k's file name, or "clip.mkv frame 12" for a video (the frame counted from 0).
  std::string Name(int k) const;

  // When frame 0's file is missing, the smallest number K whose file the pattern names
  // (in frame 0's folder), found by listing that folder: the --start-index to propose.
  // -1 when there is none, when frame 0 is there, or for a video or frames in memory.
  int FirstNumberPresent() const;
  // ": frames/shot_0001.png is there: --start-index 1 starts from it", or "".
  std::string StartIndexHint() const;

  // Reads frame k. lumet::Error naming the file when it is missing or unreadable. A kept
  // frame is handed over and no longer kept: the commands read each frame once.
  void Read(int k, ColorGrayImage& image);
  // Channel c of frame k alone (a stage that needs no other), with Read's errors. From
  // frames in memory only that channel is converted; a file is decoded whole.
  void ReadChannel(int k, int c, GrayImage& plane);

  // Takes frames decoded elsewhere from this same sequence (and checked there against
  // frame 0's size) as if checked here, as far as the budget goes.
  void Adopt(std::map<int, ColorGrayImage>&& frames);

  // The number of consecutive frames present from frame 0 on (files that exist; a video's
  // decodable frames), counting at most limit. A pattern without a frame number names one.
  int CountFrames(int limit);

  // Before a command starts: frames 0 .. needed - 1 must exist, be readable and have
  // width x height pixels (frame 0's size). The first frame that is unreadable or of
  // another size is refused naming it; when frames run out, the error is
  // shortage(found), which explains the count to the user.
  // Frames before first are taken as checked (frame 0, read by the caller already, is
  // not decoded again). Checked frames are kept for Read while they fit in the budget.
  template <typename Shortage>
  void CheckFrames(int first, int needed, int width, int height, Shortage shortage) {
    keepFrom_ = first;
    const int found = CheckFramesUpTo(first, needed, width, height);
    if (found < needed) throw Error(shortage(found));
  }

 private:
  int CheckFramesUpTo(int first, int needed, int width, int height);
  // Decodes frame k into image; false when it does not exist (no such file, or the video
  // ends before it), lumet::Error when it exists but cannot be read.
  bool Decode(int k, ColorGrayImage& image);
  [[noreturn]] void ThrowMissing(int k) const;
  // Frames in memory: index start + k when it is given, else -1.
  long MemoryIndex(int k) const;
  void Keep(int k, ColorGrayImage&& image);

  std::string pattern_;
  int start_ = 0;
  bool isVideo_ = false;
  size_t budget_ = 0;
  size_t kept_ = 0;
  int keepFrom_ = 0;
  std::map<int, ColorGrayImage> frames_;
  std::unique_ptr<VideoFile> video_;
  std::shared_ptr<const MemoryFrames> memory_;
};

// The count explained when frames run out: registration of lrCount frames needs frames
// 0 .. lrCount, reconstruction frames 0 .. frameCount - 1 (lrCount, or more for a method that
// reads the last registered frame too); found frames were present.
std::string RegistrationShortage(const FrameSource& source, int lrCount, int found);
std::string ReconstructionShortage(const FrameSource& source, int lrCount, int frameCount, int found);

// Throws when the ROI does not lie inside a width x height frame, proposing one that does:
// centred, of the standard ROI's size or as much of it as fits.
void CheckRoiFitsFrame(const RoiRect& roi, int width, int height);

// The number of consecutive frames found from the start index, minus one: the largest
// count registration can run with. lumet::Error when fewer than two frames are found.
int AutoLrCount(const ParamSet& params);

}  // namespace lumet
