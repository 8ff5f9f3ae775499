#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "imageio/video_file.h"
#include "numeric/image_plane.h"
#include "util/non_copyable.h"

namespace lumet {

// A video file written frame by frame: a .mkv name gets lossless FFV1 (RGB samples, so
// decoding gives back every value written), a .mp4 name H.264 at a constant rate factor.
// The file is written under a temporary name in its folder and renamed by Finish, so
// nothing half-written is ever under its name. The audio of another video file can be
// copied into it unchanged (no re-encoding), restricted to a span of time.
class VideoWriter : NonCopyable {
 public:
  // H.264's constant rate factor when none is given: 0 is the best, 51 the worst; about 18
  // looks like the frames themselves.
  static constexpr int kDefaultQuality = 18;

  struct Options {
    int quality = kDefaultQuality;  // H.264 only
    // Bits a sample the video stores: 8, or 10, 12 or 16 (a .mkv alone): then each frame's
    // deep planes are written (its 8-bit channels where it has none), rounded to 16 bits and
    // stored at that depth.
    int bitsPerSample = 8;
    std::string audioSource;        // a video file whose audio is copied; empty: none
    int64_t audioFrom = 0;          // the audio copied: presented in [audioFrom, audioTo) of
    int64_t audioTo = 0;            // the frames' time base
  };

  // Whether path names a video this program can write here (.mkv, or .mp4 when FFmpeg has
  // an H.264 encoder) and whether the audio of audioSource (when given) can be copied into
  // it: lumet::Error naming path and what is missing. Returns the audio's codec name, empty
  // when audioSource is not given or has no audio.
  static std::string Check(const std::string& path, const std::string& audioSource = std::string());

  // Starts the video of width x height frames whose times count timing's time base.
  VideoWriter(const std::string& path, int width, int height, const VideoTiming& timing, const Options& options);
  // Without Finish the temporary file is removed and path left as it was.
  ~VideoWriter();

  // Encodes the next frame (of the size given), presented at pts; times must increase.
  void Write(const ColorGrayImage& frame, int64_t pts);
  // Ends the video and puts it in place under its name.
  void Finish();

  const std::string& Path() const { return path_; }

 private:
  struct Encoder;
  std::string path_;
  std::unique_ptr<Encoder> encoder_;
};

}  // namespace lumet
