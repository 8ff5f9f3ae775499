#pragma once

#include <memory>
#include <string>

#include "imageio/codec_interface.h"
#include "numeric/image_plane.h"
#include "util/non_copyable.h"

namespace lumet {

// A video stream's clock (time base and frame rate).
using VideoTiming = codec::VideoTiming;

// A video file read frame by frame, in presentation order, each frame converted to RGB with
// the bit-exact, accurately rounded colour conversion so that one file gives the same pixels
// on every machine: 8-bit RGB, and for a stream of more than 8 bits a sample (10-bit,
// 12-bit, 16-bit) also the deep planes of its 16-bit RGB conversion, as a 16-bit still
// frame has them. Frames are numbered from 0 in the order they are decoded.
class VideoFile : NonCopyable {
 public:
  // Opens the file and its best video stream. lumet::Error naming the file when it is
  // missing, not a video, or its codec cannot be decoded.
  explicit VideoFile(const std::string& path);
  ~VideoFile();

  // Decodes the next frame into image (converted when image is non-null). False at the
  // end of the stream; lumet::Error when the stream is damaged.
  bool ReadNext(ColorGrayImage* image);

  // Number of the frame ReadNext returns next.
  int NextIndex() const { return next_; }

  // The stream's time base and frame rate.
  const VideoTiming& Timing() const { return timing_; }
  // The presentation time of the frame ReadNext gave last, in the time base (codec::kNoTime
  // when the stream gives none).
  int64_t Pts() const { return pts_; }

  const std::string& Path() const { return path_; }

  // True for names whose extension is a video container's (.mkv, .mp4, .avi, ...).
  static bool HasVideoExtension(const std::string& path);

 private:
  struct Decoder;
  std::string path_;
  std::unique_ptr<Decoder> decoder_;
  int next_ = 0;
  VideoTiming timing_;
  int64_t pts_ = codec::kNoTime;
};

}  // namespace lumet
