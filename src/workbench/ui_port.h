#pragma once

#include <string>
#include <vector>

#include "params/param_set.h"
#include "stages/frame_warning.h"
#include "raster/dib_raster.h"
#include "util/error.h"
#include "util/text_format.h"
#include "viewmodel/viewer_model.h"

namespace lumet {

// A step of a long command that works colour band by colour band: step (1-based) of total
// within the named stage, being step bandStep of colour band band (0 red, 1 green, 2 blue;
// bandStep as the method counts its steps: the classic iteration from 0, the enhanced one
// from 1).
struct BandProgress {
  std::string stage;
  int step = 0;
  int total = 0;
  int band = 0;
  int bandStep = 0;
};

// The reference viewer's title while the reconstruction works on a band:
// "reconst.. BAND band ---STEP steps" and a line feed.
inline std::string BandProgressTitle(int band, int bandStep) {
  return Format("reconst.. %d band ---%d steps\n", band, bandStep);
}

// Everything a command does to the outside world goes through this port. The desktop
// window implements it with real windows, the command line headless, tests with a
// recording fake. Calls arrive from the thread that runs the command, in order.
class UiPort {
 public:
  virtual ~UiPort() = default;

  // A log text exactly as the command formats it, line ends included.
  virtual void AppendLog(const std::string& text) = 0;
  // A warning; by default one log line of its own.
  virtual void Warn(const FrameWarning& warning) { AppendLog(FormatWarningLine(warning)); }
  // Progress of a long command: step (1-based) of total within a named stage.
  virtual void ReportProgress(const std::string& stage, int step, int total) = 0;
  // Progress of a band of the reconstruction; by default the progress above and the
  // reference viewer titled BandProgressTitle. A front end that words the title itself
  // takes the band and its step from here.
  virtual void ReportBandProgress(const BandProgress& progress) {
    ReportProgress(progress.stage, progress.step, progress.total);
    SetViewerTitle(Viewer::Reference, BandProgressTitle(progress.band, progress.bandStep));
  }
  // True once the user asked the running command to stop.
  virtual bool CancelRequested() = 0;

  virtual bool ViewerExists(Viewer viewer) const = 0;
  // Creates the (not yet visible) viewer with its title and initial screen rectangle.
  virtual void CreateViewer(Viewer viewer, const std::string& title, const ScreenRect& rect) = 0;
  // Sizes the viewer's client area to width x height without moving it, puts it on top
  // and shows it.
  virtual void FitViewer(Viewer viewer, int width, int height) = 0;
  virtual void SetViewerMode(Viewer viewer, int mode) = 0;
  // Replaces the viewer's picture and redraws it at once; marks drawn on it are dropped.
  virtual void ShowPicture(Viewer viewer, const DibRaster& picture) = 0;
  // Sets the picture shown in comparison mode while the pointer hovers the middle third.
  virtual void SetComparePicture(Viewer viewer, const DibRaster& picture) = 0;
  virtual void SetViewerTitle(Viewer viewer, const std::string& title) = 0;
  // Attaches the region of interest: in ROI selection mode it is outlined in olive and a
  // left click re-centres it. roi is the value at the time of the call.
  virtual void AttachRoi(Viewer viewer, const RoiRect& roi) = 0;
  // Marks drawn over the current picture, kept until the picture is replaced.
  virtual void DrawSquares(Viewer viewer, const std::vector<MarkPoint>& centres) = 0;
  virtual void DrawLines(Viewer viewer, const std::vector<MarkLine>& lines) = 0;

  // False when nobody watches the viewers while a command runs (the command line keeps
  // only their final state): the commands then skip the pictures of work in progress.
  virtual bool ShowsWorkInProgress() const { return true; }
};

// Throws lumet::Cancelled when the user asked the command to stop.
inline void CheckCancel(UiPort& ui) {
  if (ui.CancelRequested()) throw Cancelled();
}

}  // namespace lumet
