#pragma once

#include <cstdio>
#include <string>

#include "workbench/ui_port.h"

namespace lumet::cli {

// The command line's UI port: log texts go to stdout one line each (line ends dropped),
// progress goes to stderr when stderr is a terminal, and the viewers are kept in memory
// so that their final pictures (marks included) can be saved with --snapshots.
class HeadlessPort : public UiPort {
 public:
  explicit HeadlessPort(std::FILE* out = stdout, std::FILE* err = stderr);
  ~HeadlessPort() override;

  void AppendLog(const std::string& text) override;
  void ReportProgress(const std::string& stage, int step, int total) override;
  bool CancelRequested() override { return false; }
  bool ViewerExists(Viewer viewer) const override;
  void CreateViewer(Viewer viewer, const std::string& title, const ScreenRect& rect) override;
  void FitViewer(Viewer viewer, int width, int height) override;
  void SetViewerMode(Viewer viewer, int mode) override;
  void ShowPicture(Viewer viewer, const DibRaster& picture) override;
  void SetComparePicture(Viewer viewer, const DibRaster& picture) override;
  void SetViewerTitle(Viewer viewer, const std::string& title) override;
  void AttachRoi(Viewer viewer, const RoiRect& roi) override;
  void DrawSquares(Viewer viewer, const std::vector<MarkPoint>& centres) override;
  void DrawLines(Viewer viewer, const std::vector<MarkLine>& lines) override;

  // Ends a progress line on the terminal, if one is showing.
  void FinishProgress();

  // Writes what each existing viewer shows (its picture with the ROI outline in ROI
  // selection mode and its marks) as dir/reference-viewer.bmp and dir/frame-viewer.bmp,
  // plus dir/frame-viewer-compare.bmp when a comparison picture is set.
  void WriteSnapshots(const std::string& dir) const;

  // The picture of a viewer as drawn on screen, for tests and snapshots.
  DibRaster Render(Viewer viewer) const;

 private:
  struct ViewerState {
    bool exists = false;
    std::string title;
    int mode = kModeRoiSelection;
    DibRaster picture;
    DibRaster comparePicture;
    bool roiAttached = false;
    RoiRect roi;
    std::vector<MarkPoint> squares;
    std::vector<MarkLine> lines;
  };
  ViewerState& State(Viewer viewer) { return viewers_[viewer == Viewer::Reference ? 0 : 1]; }
  const ViewerState& State(Viewer viewer) const { return viewers_[viewer == Viewer::Reference ? 0 : 1]; }

  std::FILE* out_;
  std::FILE* err_;
  bool progressTerminal_;
  bool progressShowing_ = false;
  std::string lastProgress_;
  ViewerState viewers_[2];
};

}  // namespace lumet::cli
