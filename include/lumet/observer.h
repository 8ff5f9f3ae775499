#pragma once

#include <string>
#include <vector>

#include "lumet/frame.h"

#include "lumet/export.h"

namespace lumet {

// Progress of a stage: step (1-based) of total within a named stage ("Registration",
// "Reading frames", "Reconstruction"). During the reconstruction's descent band is the
// colour band (0 .. 2) and bandStep the step within it; -1 elsewhere.
struct Progress {
  std::string stage;
  int step = 0;
  int total = 0;
  int band = -1;
  int bandStep = -1;
};

// A warning about one or more frames: what happened (the same words for every frame it
// happens to), what differs frame by frame (may be empty), and what the caller can do.
struct LUMET_API Warning {
  std::string kind;
  std::vector<int> frames;
  std::vector<std::string> details;  // one per frame, in the order of frames ("" for none)
  std::string remedy;

  // "frames 3, 7 (2 frames): kind (frame 3: detail); remedy": the warning as one line.
  std::string Text() const;
};

// What a stage tells its caller while it runs. Calls arrive on the thread that called the
// stage, in order. Every member has a default that ignores the event.
class LUMET_API Observer {
 public:
  virtual ~Observer();
  virtual void OnProgress(const Progress& progress);
  // Every warning as it happens, one frame at a time; a stage's result also holds them
  // grouped by kind.
  virtual void OnWarning(const Warning& warning);
  // A line of the engine's log (as the command line prints it, "\r\n" at its end).
  virtual void OnLog(const std::string& line);
  // False (the default): the stages make no pictures of their work in progress, which is
  // faster. True: OnPicture receives them.
  virtual bool WantsPictures() const;
  virtual void OnPicture(const Frame& picture);
  // A file the stage wrote (the library's stages write none themselves today).
  virtual void OnFileWritten(const std::string& path);
  // Asked often while a stage runs: true stops it with lumet::Cancelled.
  virtual bool CancelRequested();
};

}  // namespace lumet
