#pragma once

#include <memory>
#include <string>

#include "lumet/observer.h"
#include "lumet/sequence.h"
#include "lumet/settings.h"
#include "lumet/stages.h"

#include "lumet/export.h"

namespace lumet {

// The frames one output frame of a video is made from: first .. last, inclusive.
struct FrameWindow {
  int first = 0;
  int last = 0;
};

// Frames k - radius .. k + radius of a clip of count frames, clipped to it.
LUMET_API FrameWindow WindowOf(int k, int radius, int count);

// A clip super-resolved frame by frame: output frame k is the ROI of frame k reconstructed
// with frame k as the reference of the other frames of WindowOf(k, radius, Count()).
//  - Frames are decoded once, forward, into a ring that holds one window: memory is bounded
//    by the window, not by the clip, and a video is read from its start once as long as
//    output frames are asked for in ascending order.
//  - Each frame is registered once against the radius frames after it; a window's frames
//    before its reference come through the inverse of their own registration against it.
//    Every pair is registered once and directly (no chain of consecutive motions), and a
//    window's homographies depend on its frames alone: output frame k is the same whichever
//    output frames were made before it, so a resumed run equals an uninterrupted one.
// Not safe to use from several threads at once.
class LUMET_API VideoSuperResolver {
 public:
  // input: a frame pattern or a video file, as Sequence::FromPattern takes them. With
  // wholeFrame the ROI is the whole frame (settings.roi is not read); else settings.roi.
  VideoSuperResolver(const std::string& input, int startIndex, int radius, const Settings& settings,
                     bool wholeFrame);
  // Frames the caller holds (Sequence::FromFrames), read as windows need them.
  VideoSuperResolver(const Sequence& frames, int radius, const Settings& settings, bool wholeFrame);
  ~VideoSuperResolver();
  VideoSuperResolver(const VideoSuperResolver&) = delete;
  VideoSuperResolver& operator=(const VideoSuperResolver&) = delete;

  // The number of frames in the clip (counted when constructed; at least 2).
  int Count() const;
  std::string Name(int k) const;
  FrameWindow Window(int k) const;
  // The homographies of window k's other frames against frame k, registering the pairs not
  // registered yet. A frame that does not line up with frame k (its error after registration
  // far above the window's best pair's: a scene cut between them) or whose homography cannot
  // be inverted is left out, with one warning naming the frames left out of the window.
  Registration Registered(int k, Observer* observer = nullptr);
  // Output frame k, from the frames Registered(k) holds. lumet::Error for a frame outside the clip, a frame of another size than
  // the first one read, or an unreadable one (naming it); lumet::Cancelled when the observer
  // asks.
  Result Frame(int k, Observer* observer = nullptr);

  // Warm start (off until set): output frame k starts the enhanced method's descent from
  // output frame k - 1's estimate carried onto frame k's grid through their homography,
  // where it reaches, instead of from the frames' median; every kWarmKeyEvery-th frame (a
  // key frame, k a multiple of it) and a frame whose window leaves out frame k - 1 start
  // from the median. Frame k is then made from the frames of the windows from its key
  // frame to k: Frame(k) first makes those not made yet (without reporting them), so an
  // output frame is the same whichever frames were asked for before it, at the cost of up
  // to kWarmKeyEvery - 1 frames more where a run starts between key frames.
  static constexpr int kWarmKeyEvery = 16;
  void SetWarmStart(bool on);

 private:
  Result Made(int k, Observer* observer);

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace lumet
