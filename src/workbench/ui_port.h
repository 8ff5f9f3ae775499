#pragma once

#include <string>
#include <vector>

#include "params/param_set.h"
#include "raster/dib_raster.h"
#include "util/error.h"

namespace lumet {

// The two viewer windows the commands use: refViewer and frameViewer.
enum class Viewer { Reference = 0, Frame = 1 };

// Viewer modes.
inline constexpr int kModeRoiSelection = 0;  // ROI outline drawn, a click moves the ROI
inline constexpr int kModeDisplay = 1;       // the picture only
inline constexpr int kModeComparison = 2;    // the compare picture while hovering the middle third

// A screen rectangle (left, top, right, bottom) a viewer is created with.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// Centre of a red one-pixel ring of 3 x 3 pixels (from (x - 1, y - 1) to (x + 2, y + 2),
// right and bottom exclusive).
struct MarkPoint {
  int x = 0;
  int y = 0;
  bool operator==(const MarkPoint&) const = default;
};

// A black line from (x0, y0) to (x1, y1), the end pixel left out.
struct MarkLine {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;
  bool operator==(const MarkLine&) const = default;
};

// Everything a command does to the outside world goes through this port. The desktop
// window implements it with real windows, the command line headless, tests with a
// recording fake. Calls arrive from the thread that runs the command, in order.
class UiPort {
 public:
  virtual ~UiPort() = default;

  // A log text exactly as the command formats it, line ends included.
  virtual void AppendLog(const std::string& text) = 0;
  // Progress of a long command: step (1-based) of total within a named stage.
  virtual void ReportProgress(const std::string& stage, int step, int total) = 0;
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
};

// Throws lumet::Cancelled when the user asked the command to stop.
inline void CheckCancel(UiPort& ui) {
  if (ui.CancelRequested()) throw Cancelled();
}

}  // namespace lumet
