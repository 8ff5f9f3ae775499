#pragma once

#include <map>
#include <string>
#include <vector>

#include "workbench/ui_port.h"

namespace lumet::testing {

// A UiPort that records every call, for tests of the commands.
class RecordingPort : public UiPort {
 public:
  struct ViewerState {
    bool exists = false;
    std::string createdTitle;
    ScreenRect createdRect;
    std::string title;
    int mode = kModeRoiSelection;
    int fitWidth = 0;
    int fitHeight = 0;
    DibRaster picture;
    DibRaster comparePicture;
    bool roiAttached = false;
    RoiRect roi;
    int pictureCount = 0;                   // ShowPicture calls
    std::vector<MarkPoint> squares;         // since the last ShowPicture
    std::vector<MarkLine> lines;            // since the last ShowPicture
    std::vector<std::string> titleHistory;  // every SetViewerTitle
  };

  // Every call in order, one short text each ("log:", "create:ref", "show:frame", ...).
  std::vector<std::string> events;
  std::vector<std::string> logs;
  std::vector<std::string> progress;
  ViewerState viewers[2];
  // CancelRequested() answers true from its cancelAfter-th call on (never when < 0).
  int cancelAfter = -1;
  int cancelQueries = 0;

  ViewerState& Ref() { return viewers[0]; }
  ViewerState& Frame() { return viewers[1]; }

  void AppendLog(const std::string& text) override {
    logs.push_back(text);
    events.push_back("log:" + text);
  }
  void ReportProgress(const std::string& stage, int step, int total) override {
    progress.push_back(stage + " " + std::to_string(step) + "/" + std::to_string(total));
  }
  bool CancelRequested() override {
    ++cancelQueries;
    return cancelAfter >= 0 && cancelQueries > cancelAfter;
  }
  bool ViewerExists(Viewer viewer) const override { return viewers[Index(viewer)].exists; }
  void CreateViewer(Viewer viewer, const std::string& title, const ScreenRect& rect) override {
    auto& v = viewers[Index(viewer)];
    v.exists = true;
    v.createdTitle = title;
    v.title = title;
    v.createdRect = rect;
    events.push_back("create:" + Name(viewer) + ":" + title);
  }
  void FitViewer(Viewer viewer, int width, int height) override {
    auto& v = viewers[Index(viewer)];
    v.fitWidth = width;
    v.fitHeight = height;
    events.push_back("fit:" + Name(viewer) + ":" + std::to_string(width) + "x" + std::to_string(height));
  }
  void SetViewerMode(Viewer viewer, int mode) override {
    viewers[Index(viewer)].mode = mode;
    events.push_back("mode:" + Name(viewer) + ":" + std::to_string(mode));
  }
  void ShowPicture(Viewer viewer, const DibRaster& picture) override {
    auto& v = viewers[Index(viewer)];
    v.picture = picture;
    v.squares.clear();
    v.lines.clear();
    ++v.pictureCount;
    events.push_back("show:" + Name(viewer));
  }
  void SetComparePicture(Viewer viewer, const DibRaster& picture) override {
    viewers[Index(viewer)].comparePicture = picture;
    events.push_back("compare:" + Name(viewer));
  }
  void SetViewerTitle(Viewer viewer, const std::string& title) override {
    auto& v = viewers[Index(viewer)];
    v.title = title;
    v.titleHistory.push_back(title);
  }
  void AttachRoi(Viewer viewer, const RoiRect& roi) override {
    auto& v = viewers[Index(viewer)];
    v.roiAttached = true;
    v.roi = roi;
    events.push_back("roi:" + Name(viewer));
  }
  void DrawSquares(Viewer viewer, const std::vector<MarkPoint>& centres) override {
    auto& v = viewers[Index(viewer)];
    v.squares.insert(v.squares.end(), centres.begin(), centres.end());
    events.push_back("squares:" + Name(viewer) + ":" + std::to_string(centres.size()));
  }
  void DrawLines(Viewer viewer, const std::vector<MarkLine>& lines) override {
    auto& v = viewers[Index(viewer)];
    v.lines.insert(v.lines.end(), lines.begin(), lines.end());
    events.push_back("lines:" + Name(viewer) + ":" + std::to_string(lines.size()));
  }

 private:
  static int Index(Viewer viewer) { return viewer == Viewer::Reference ? 0 : 1; }
  static std::string Name(Viewer viewer) { return viewer == Viewer::Reference ? "ref" : "frame"; }
};

}  // namespace lumet::testing
