#pragma once

#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "numeric/image_plane.h"
#include "numeric/random.h"
#include "params/param_set.h"
#include "reconstruction/enhanced_reconstruction.h"
#include "workbench/ui_port.h"

namespace lumet {

// params.method of the enhanced method: direct photometric registration and the
// full-forward-model reconstruction; any other value runs the classic pipeline.
inline constexpr const char* kEnhancedMethod = "enhanced";

class FrameSource;

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

  // The enhanced reconstruction's own values (iteration cap per colour band, stopping
  // tolerance); params.method chooses the method.
  int enhancedIterations = kEnhancedMaxIterations;
  double enhancedTolerance = kEnhancedTolerance;

  // Format of the images the next Reconstruction writes; chosen per command, not stored.
  ImageFormat resultFormat = ImageFormat::Bmp;

  // Every file the commands wrote, in order; front ends report and clear it.
  std::vector<std::string> filesWritten;

  // "Show Reference": reads referenceFile into referenceImage and shows it in refViewer
  // in ROI selection mode with the ROI attached.
  void ShowReference(UiPort& ui);

  // "Registration LR Frames": ShowReference, then frames 1 .. lrCount registered against
  // frame 0, one homography file each, one log line each.
  void Registration(UiPort& ui);

  // "Reconstruction": frames 0 .. lrCount - 1 and their homography files to the HR image
  // written to resultFile (and "./result/first_lr.bmp").
  void Reconstruction(UiPort& ui);

 private:
  // The enhanced reconstruction: frames 0 .. lrCount, all through the full forward model.
  void EnhancedReconstruction(UiPort& ui);

  // ShowReference reading frame 0 from source, which registration goes on reading from.
  void ShowReferenceFrom(FrameSource& source, UiPort& ui);
};

// Fixed names of the system's own files.
inline constexpr const char* kRefinementLogPath = "./steet_rms.txt";
inline constexpr const char* kFirstFramePath = "./result/first_lr.bmp";

}  // namespace lumet
