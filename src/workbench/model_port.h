#pragma once

#include <string>
#include <vector>

#include "viewmodel/viewer_model.h"
#include "workbench/ui_port.h"

namespace lumet {

// A UI port whose two viewers are viewer models in memory: the viewers of a front end
// without windows (the command line), and the reference the window is tested against.
// Log lines and progress are dropped unless a front end overrides them.
class ModelPort : public UiPort {
 public:
  void AppendLog(const std::string&) override {}
  void ReportProgress(const std::string&, int, int) override {}
  bool CancelRequested() override { return false; }
  bool ViewerExists(Viewer v) const override { return At(v).exists; }
  void CreateViewer(Viewer v, const std::string& title, const ScreenRect&) override {
    At(v).exists = true;
    At(v).title = title;
  }
  void FitViewer(Viewer, int, int) override {}  // a model has no window to size
  void SetViewerMode(Viewer v, int mode) override { At(v).model.mode = mode; }
  void ShowPicture(Viewer v, const DibRaster& picture) override { At(v).model.ShowPicture(picture); }
  void SetComparePicture(Viewer v, const DibRaster& picture) override { At(v).model.comparePicture = picture; }
  void SetViewerTitle(Viewer v, const std::string& title) override { At(v).title = title; }
  void AttachRoi(Viewer v, const RoiRect& roi) override { At(v).model.roi = roi; }
  void DrawSquares(Viewer v, const std::vector<MarkPoint>& centres) override { At(v).model.AddSquares(centres); }
  void DrawLines(Viewer v, const std::vector<MarkLine>& lines) override { At(v).model.AddLines(lines); }

  const ViewerModel& Model(Viewer v) const { return At(v).model; }
  const std::string& Title(Viewer v) const { return At(v).title; }
  // The viewer's picture as drawn on screen (the main picture, not the hover comparison).
  DibRaster Render(Viewer v) const { return RenderViewer(At(v).model); }

 private:
  struct Slot {
    bool exists = false;
    std::string title;
    ViewerModel model;
  };
  Slot& At(Viewer v) { return slots_[v == Viewer::Reference ? 0 : 1]; }
  const Slot& At(Viewer v) const { return slots_[v == Viewer::Reference ? 0 : 1]; }

  Slot slots_[2];
};

}  // namespace lumet
