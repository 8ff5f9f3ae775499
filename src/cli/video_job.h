#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "lumet/settings.h"
#include "lumet/video.h"

namespace lumet::cli {

// What `lumet-cli video` was told: every output frame k is the ROI of input frame k
// reconstructed with frame k as the reference of frames k - radius .. k + radius (clipped
// to the sequence).
struct VideoJob {
  std::string input;         // a frame pattern ("./images/lr-%d.bmp") or a video file
  std::string output;        // a frame pattern ("./sr/sr-%d.png"): frame k is file number startIndex + k
  int startIndex = 0;        // input frame k is file startIndex + k (a video's frame startIndex + k)
  int radius = 2;
  int first = 0;             // the output frames first .. last (-1: to the last input frame)
  int last = -1;
  bool wholeFrame = true;    // no ROI given: the whole frame
  Settings settings;
  bool quiet = false;
};

// Runs the job: outputs that exist already are kept (every output is written atomically,
// so one that exists is complete), so a run that was stopped resumes where it stopped.
// Each input frame is decoded once into a ring that holds one window; a line per frame
// goes to out (with the time a frame took and the time left). Returns the number of
// frames written.
int RunVideoJob(const VideoJob& job, std::FILE* out);

}  // namespace lumet::cli
