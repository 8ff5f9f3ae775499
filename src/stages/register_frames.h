#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/random.h"
#include "registration/frame_registration.h"
#include "registration/registration_options.h"
#include "stages/frame_warning.h"
#include "util/atomic_file.h"

namespace lumet {

// The registration stage: a list of frames of one sequence registered against one of its
// frames, the reference. It knows nothing of files, viewers or logs: frames come from a
// reader, and every result goes to the caller's RegistrationEvents a batch at a time, in the
// order of the list. Frames are registered a batch at a time, one frame per thread; each
// search draws from the generator where the previous frame's search left it, so the results
// are those of registering the frames one after the other.

// One frame of a batch: registered off the caller's thread, reported on it in list order.
struct RegisteredFrame {
  int frame = 0;             // its index in the sequence
  std::string name;          // as the reader names it
  ColorGrayImage image;      // as decoded (the caller may take it); its green channel alone
                             // when the reader reads green only
  FrameRegistration reg;     // reg.h is the final homography, reference positions to frame positions
  double score = 0.0;        // RoiMae of reg.h: reg.e2, or the direct refinement's end
  std::string log;           // lines the direct refinement has for the log ("" for the classic one)
  std::vector<FrameWarning> warnings;  // why no search ran, when none did
  LcgRandom random;          // where this frame's search started drawing
  // Whatever the caller staged for this frame off its thread (a file), and a failure doing so.
  StagedFile staged;
  std::exception_ptr stageFailure;
  // A failure of the frame itself (unreadable, of another size, ...): reported in its turn.
  std::exception_ptr failure;
};

class RegistrationEvents {
 public:
  virtual ~RegistrationEvents() = default;
  // Before each batch is read: may throw lumet::Cancelled.
  virtual void CheckCancel() {}
  // Frames per batch (at least 1), asked once before the first.
  virtual int BatchSize(int frameCount) const = 0;
  // Off the caller's thread, on a frame registered without failure: what may be prepared in
  // parallel (a file staged). A throw is kept as the frame's stageFailure.
  virtual void Stage(RegisteredFrame& frame) { (void)frame; }
  // The reference's corner points, once, before the first batch is reported.
  virtual void ReferenceReady(const RegistrationReference& reference) { (void)reference; }
  // The batch's frames, in list order. A frame's failure is the caller's to rethrow; a throw
  // ends the stage.
  virtual void Report(std::vector<RegisteredFrame>& batch, const RegistrationReference& reference) = 0;
};

struct FrameReader {
  std::function<std::string(int)> name;
  std::function<void(int, ColorGrayImage&)> read;
  // When set, frames are read through it instead, the green channel alone (all that
  // registration looks at), for a caller that takes no frame from the batch: a batch then
  // holds a quarter of the pixels.
  std::function<void(int, GrayImage&)> readGreen;
};

// Registers frames[0], frames[1], ... against referenceGreen (the reference frame's green
// channel, named referenceName in messages; every frame must have its size), drawing the
// searches from `random`, which moves on by their draws.
void RegisterFrames(const GrayImage& referenceGreen, const std::string& referenceName, const std::vector<int>& frames,
                    const FrameReader& reader, const RegistrationOptions& options, LcgRandom& random,
                    RegistrationEvents& events);

// Frames a thread takes per batch: enough to even out frames of different cost, few enough
// that a watched registration shows its progress closely.
inline constexpr int kFramesPerThreadInBatch = 2;
// Frames per batch when nobody watches: as many as `budget` bytes of frames allow (fewer
// waits for the slowest frame of a batch: a refinement may take ten times the steps of
// another), at least kFramesPerThreadInBatch a thread.
inline constexpr size_t kUnwatchedBatchBytes = size_t{256} << 20;
int UnwatchedBatchSize(int frameCount, int width, int height, size_t budget = kUnwatchedBatchBytes);

// The registration's log text of frame k: "MAE(k) = e1->e2\r\n\n", the scores in "%g"
// (e1 after the search, e2 after the refinement).
std::string FormatMaeLine(int k, double e1, double e2);

}  // namespace lumet
