#include "app/video_export.h"

#include <filesystem>

#include "library/conversions.h"
#include "library/video_job.h"
#include "workbench/frame_source.h"

namespace lumet {

namespace {

// The job's report, into the window's log and progress bar.
class PortEvents final : public VideoJobEvents {
 public:
  explicit PortEvents(UiPort& ui) : ui_(ui) {}
  void Line(const std::string& line) override { ui_.AppendLog(line); }
  void Warn(int k, const std::string& text) override {
    ui_.AppendLog("Warning: output frame " + std::to_string(k) + ": " + text);
  }
  void Progress(int done, int total) override { ui_.ReportProgress("Video", done, total); }
  bool CancelRequested() override { return ui_.CancelRequested(); }

 private:
  UiPort& ui_;
};

}  // namespace

std::string VideoExportOutput(const std::string& chosen) {
  if (FrameSource::IsVideoPattern(chosen) || chosen.find('%') != std::string::npos) return chosen;
  const std::filesystem::path path(chosen);
  return (path.parent_path() / (path.stem().string() + "-%d" + path.extension().string())).string();
}

void ExportVideo(UiPort& ui, const ParamSet& values, const std::string& output, int radius, bool wholeFrame) {
  VideoJob job;
  job.input = values.lrPattern;
  job.output = output;
  job.startIndex = values.startIndex;
  job.radius = radius;
  job.wholeFrame = wholeFrame;
  FillSettings(values, job.settings);
  PortEvents events(ui);
  ui.AppendLog("Export Video: every frame from the frames \xc2\xb1" + std::to_string(radius) + " around it, " +
               (wholeFrame ? std::string("the whole frame") : "the ROI") + ", into " + output);
  RunVideoJob(job, events);
}

}  // namespace lumet
