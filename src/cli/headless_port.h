#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "workbench/model_port.h"

namespace lumet::cli {

// The command line's UI port: log texts go to stdout one line each (line ends dropped),
// progress (with its percentage and the time left) goes to stderr when stderr is a terminal, warnings go to stderr once per kind
// naming every frame of that kind (when a stage ends), and the viewers are kept in memory
// so that their final pictures (marks included) can be saved with --snapshots.
class HeadlessPort : public ModelPort {
 public:
  explicit HeadlessPort(std::FILE* out = stdout, std::FILE* err = stderr);
  ~HeadlessPort() override;

  void AppendLog(const std::string& text) override;
  void ReportProgress(const std::string& stage, int step, int total) override;
  void Warn(const FrameWarning& warning) override;
  bool CancelRequested() override { return false; }
  bool ShowsWorkInProgress() const override { return false; }

  // False: log texts are not printed (--quiet, --json).
  void ShowLog(bool shown) { logShown_ = shown; }

  // Ends a progress line on the terminal, if one is showing, and writes the warnings
  // gathered so far.
  void FinishProgress();

  // Writes what each existing viewer shows (its picture with the ROI outline in ROI
  // selection mode and its marks) as dir/reference-viewer.bmp and dir/frame-viewer.bmp,
  // plus dir/frame-viewer-compare.bmp when a comparison picture is set.
  void WriteSnapshots(const std::string& dir) const;

 private:
  void EndProgressLine();

  std::FILE* out_;
  std::FILE* err_;
  bool progressTerminal_;
  bool progressShowing_ = false;
  bool logShown_ = true;
  std::string lastProgress_;
  // The stage in progress and when its first step was reported, for the time left.
  std::string stage_;
  std::chrono::steady_clock::time_point stageStart_;
  std::vector<FrameWarning> warnings_;
};

}  // namespace lumet::cli
