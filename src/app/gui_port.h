#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "workbench/ui_port.h"

namespace lumet {

class CLumetDlg;

// The desktop window's UI port. A command calls it from the worker thread; every call is
// posted to the dialog's thread as a queued call carrying copies of its arguments, so the
// windows change in the order the command asked and the worker never waits for them.
// Only the cancel flag and the viewers' existence are answered on the worker thread.
class GuiPort : public UiPort {
 public:
  GuiPort(CLumetDlg* dialog, bool refViewerExists, bool frameViewerExists);

  void RequestCancel() { cancel_.store(true); }

  void AppendLog(const std::string& text) override;
  void ReportProgress(const std::string& stage, int step, int total) override;
  // The reference viewer's title in plain words from the band and its step.
  void ReportBandProgress(const BandProgress& progress) override;
  bool CancelRequested() override { return cancel_.load(); }
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

 private:
  template <typename Call>
  void Post(Call&& call);

  CLumetDlg* dialog_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> exists_[2];
};

}  // namespace lumet
