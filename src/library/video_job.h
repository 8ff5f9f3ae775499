#pragma once

#include <functional>
#include <string>

#include "lumet/settings.h"
#include "lumet/video.h"

namespace lumet {

// A video job, as `lumet-cli video` and the window's Export Video run it: every output frame k is the ROI of input frame k
// reconstructed with frame k as the reference of frames k - radius .. k + radius (clipped
// to the sequence).
struct VideoJob {
  std::string input;         // a frame pattern ("./images/lr-%d.bmp") or a video file
  std::string output;        // a frame pattern ("./sr/sr-%d.png"): frame k is file number startIndex + k;
                             // or a video (.mkv lossless FFV1, .mp4 H.264), made from parts (below)
  int startIndex = 0;        // input frame k is file startIndex + k (a video's frame startIndex + k)
  int radius = 2;
  int first = 0;             // the output frames first .. last (-1: to the last input frame)
  int last = -1;
  bool wholeFrame = true;    // no ROI given: the whole frame
  Settings settings;         // threads included
  bool warmStart = false;    // VideoSuperResolver::SetWarmStart (the enhanced method's; the command line's default)
  // A video output only. Its frames are first kept as lossless PNG parts in OUTPUT.parts/
  // (named by input frame number), which runs over other ranges may share; once the parts
  // of every frame of the run's range are there, it encodes them and removes them.
  int fpsNum = 0;            // a frame-pattern input's frame rate fpsNum / fpsDen (0: not given, 25)
  int fpsDen = 1;
  int quality = -1;          // H.264's constant rate factor (-1: not given, VideoWriter's default)
  bool noAudio = false;      // leave out the input video's audio
  bool keepParts = false;    // keep the parts after encoding
  bool partsOnly = false;    // make the parts of the range and stop (a range job of a split run)
};

// Where the parts of a video output are kept: OUTPUT.parts/, frame-N.png for input frame N.
std::string VideoPartsFolder(const std::string& output);

// What a video job tells whoever runs it. Calls arrive on the thread running the job.
class VideoJobEvents {
 public:
  virtual ~VideoJobEvents() = default;
  // A line of its report: a frame written and the time left, the parts kept, the encoding.
  virtual void Line(const std::string& line) = 0;
  // A warning about output frame k ("frames 3, 4 (2 frames): left out of …").
  virtual void Warn(int k, const std::string& text) = 0;
  // After each output frame: done of the total the run makes (those kept are not counted).
  virtual void Progress(int /*done*/, int /*total*/) {}
  // Asked between frames and while one is made: true stops the job with lumet::Cancelled;
  // every frame finished is kept, so a later run resumes from there.
  virtual bool CancelRequested() { return false; }
};

// The output frames first .. last a run of the job would make, after the checks the run
// makes before it writes anything (lumet::Error naming what is wrong); reads only the
// input's frame count.
struct VideoFrameRange {
  int first = 0;
  int last = 0;
};
VideoFrameRange CheckVideoJobRange(const VideoJob& job);

// Runs the job in the current folder (the caller holds its lock): outputs that exist already are kept (every output is written atomically,
// so one that exists is complete), so a run that was stopped resumes where it stopped;
// with a video output, the parts are kept, and a video that exists is kept whole.
// Each input frame is decoded once into a ring that holds one window; a line per frame
// goes to events (with the time a frame took and the time left). Returns the number of
// frames written.
int RunVideoJob(const VideoJob& job, VideoJobEvents& events);

}  // namespace lumet
