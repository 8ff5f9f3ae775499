#pragma once

#include <string>
#include <vector>

#include "workbench/ui_port.h"

namespace lumet::testing {

// A UiPort that records what the command tests look at.
class RecordingPort : public UiPort {
 public:
  struct ViewerState {
    std::string title;   // the one it was created with; empty while there is none
    size_t squares = 0;  // marks drawn since the last ShowPicture
    int calls = 0;       // calls that changed it
    int pictures = 0;    // ShowPicture calls
  };
  std::vector<std::string> logs;
  ViewerState viewers[2];
  int cancelAfter = -1;  // CancelRequested() answers true after cancelAfter calls (never when < 0)
  int cancelQueries = 0;
  bool showsWork = true;  // ShowsWorkInProgress(): false plays the command line

  ViewerState& Ref() { return viewers[0]; }
  ViewerState& Frame() { return viewers[1]; }

  void AppendLog(const std::string& text) override { logs.push_back(text); }
  void ReportProgress(const std::string&, int, int) override {}
  bool ShowsWorkInProgress() const override { return showsWork; }
  bool CancelRequested() override { return ++cancelQueries > cancelAfter && cancelAfter >= 0; }
  bool ViewerExists(Viewer v) const override { return !viewers[static_cast<int>(v)].title.empty(); }
  void CreateViewer(Viewer v, const std::string& title, const ScreenRect&) override { At(v).title = title; }
  void FitViewer(Viewer v, int, int) override { At(v); }
  void SetViewerMode(Viewer v, int) override { At(v); }
  void ShowPicture(Viewer v, const DibRaster&) override {
    At(v).squares = 0;
    ++At(v).pictures;
  }
  void SetComparePicture(Viewer v, const DibRaster&) override { At(v); }
  void SetViewerTitle(Viewer v, const std::string&) override { At(v); }
  void AttachRoi(Viewer v, const RoiRect&) override { At(v); }
  void DrawSquares(Viewer v, const std::vector<MarkPoint>& centres) override { At(v).squares += centres.size(); }
  void DrawLines(Viewer v, const std::vector<MarkLine>&) override { At(v); }

 private:
  ViewerState& At(Viewer v) {
    ++viewers[static_cast<int>(v)].calls;
    return viewers[static_cast<int>(v)];
  }
};

}  // namespace lumet::testing
