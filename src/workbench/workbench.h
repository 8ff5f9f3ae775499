#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "numeric/image_plane.h"
#include "numeric/random.h"
#include "params/param_description.h"
#include "params/param_set.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/reconstruction_method.h"
#include "stages/register_frames.h"
#include "util/memory_limit.h"
#include "workbench/ui_port.h"

namespace lumet {


class FrameSource;

// One registered frame's scores: e1 after the homography search, e2 after the refinement
// (the numbers of its "MAE(k) = e1->e2" line).
struct FrameScores {
  int frame = 0;
  double search = 0.0;
  double refinement = 0.0;
};

// The state the commands share and the commands themselves. Front ends adopt a parameter
// set (AdoptParams) into `params` before a command starts; the commands read it only.
// A command that fails throws lumet::Error (the message names the file or value), one that
// is cancelled throws lumet::Cancelled; front ends report both.
class Workbench {
 public:
  ParamSet params = InitParams();

  // The reference frame (frame 0) as last read by ShowReference, and its size.
  ColorGrayImage referenceImage;
  int refWidth = 0;
  int refHeight = 0;

  // The trials' generator; its sequence continues across frames and commands.
  LcgRandom random;

  // Format of the images the next Reconstruction writes, and the depth of its result
  // (ResultSamplesFor); chosen per command, not stored.
  ImageFormat resultFormat = ImageFormat::Bmp;
  ResultDepth resultDepth = ResultDepth::Auto;

  // Every file the commands wrote, in order; front ends report and clear it.
  std::vector<std::string> filesWritten;

  // Set by a front end that runs the reconstruction straight after the registration, in
  // one go (lumet-cli run and demo): the registration then hands the frames it decoded to
  // the next reconstruction, which decodes none of them again. A window, whose commands
  // may be minutes apart, leaves it off: frames on disk may have changed in between.
  bool carryFrames = false;

  // The most memory a reconstruction may take, in bytes: one whose estimated peak is larger
  // is refused before it starts, naming the figure it needs. Not stored.
  size_t memoryLimit = DefaultMemoryLimit();

  // The scores of every frame the last registration did, in frame order.
  std::vector<FrameScores> registrationScores;
  // What the last Reconstruction did (its method's outcome, the command's own warnings
  // about frames first); reset when a reconstruction starts, filled when one succeeds.
  ReconstructionOutcome lastOutcome;

  // "Show Reference": reads referenceFile into referenceImage and shows it in refViewer
  // in ROI selection mode with the ROI attached.
  void ShowReference(UiPort& ui);

  // "Registration LR Frames": ShowReference, then frames 1 .. lrCount registered against
  // frame 0, one homography file each, one log line each.
  void Registration(UiPort& ui);

  // "Reconstruction": the frames the method reads (classic: 0 .. lrCount - 1) and their
  // homography files to the HR image written to resultFile (and "./result/first_lr.bmp").
  void Reconstruction(UiPort& ui);

  // Refuses, as Reconstruction would before its work, a reconstruction whose memory need
  // passes memoryLimit; reads frame 0 for its size (and checks that the ROI fits it). For a
  // front end that registers first (lumet-cli run): a job the reconstruction would refuse
  // then writes nothing.
  void CheckReconstructionMemory(const UiPort& ui) const;

  // The commands' steps that also read or write the state above.
  // Adds a file the command wrote ("" when it wrote none) to filesWritten.
  void Wrote(const std::string& path) {
    if (!path.empty()) filesWritten.push_back(path);
  }
  // Frame k's homography, from its file.
  Matrix FrameHomography(int k) const;

 private:
  // ShowReference reading frame 0 from source, which registration goes on reading from.
  void ShowReferenceFrom(FrameSource& source, UiPort& ui);

  // Throws when a homography of frames 1 .. frameCount - 1 is missing (see CheckHomographyFiles).
  void CheckHomographies(int frameCount, const std::function<std::string(int)>& advice) const;

  // Frames the last registration decoded, for the reconstruction (carryFrames), with the
  // pattern and start index they were read under.
  struct CarriedFrames {
    std::string pattern;
    int startIndex = 0;
    std::map<int, ColorGrayImage> frames;
  };
  CarriedFrames carried_;
};


// Fixed names of the system's own files.
inline constexpr const char* kRefinementLogPath = "./steet_rms.txt";
inline constexpr const char* kFirstFramePath = "./result/first_lr.bmp";

}  // namespace lumet
