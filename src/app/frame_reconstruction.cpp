#include "app/frame_reconstruction.h"

#include <string>

#include "library/conversions.h"
#include "lumet/video.h"
#include "reconstruction/gray_conversion.h"
#include "reconstruction/hr_geometry.h"
#include "util/error.h"
#include "workbench/frame_source.h"
#include "workbench/reconstruction_steps.h"

namespace lumet {

namespace {

// The stages' calls, as the window's commands make them.
class PortObserver final : public Observer {
 public:
  explicit PortObserver(UiPort& ui) : ui_(ui) {}
  void OnProgress(const Progress& progress) override {
    if (progress.band >= 0) {
      ui_.ReportBandProgress({progress.stage, progress.step, progress.total, progress.band, progress.bandStep});
    } else {
      ui_.ReportProgress(progress.stage, progress.step, progress.total);
    }
  }
  void OnWarning(const Warning& warning) override { ui_.AppendLog("Warning: " + warning.Text()); }
  void OnLog(const std::string& line) override { ui_.AppendLog(line); }
  bool CancelRequested() override { return ui_.CancelRequested(); }

 private:
  UiPort& ui_;
};

}  // namespace

void SuperResolveFrame(UiPort& ui, const ParamSet& values, int reference, int radius) {
  Settings settings;
  FillSettings(values, settings);
  VideoSuperResolver clip(values.lrPattern, values.startIndex, radius, settings, false);
  if (reference < 0 || reference >= clip.Count()) {
    throw Error("frame " + std::to_string(reference) + " is not a frame of the sequence (frames 0 .. " +
                std::to_string(clip.Count() - 1) + ")");
  }
  const FrameWindow window = clip.Window(reference);
  ui.AppendLog("Frame " + std::to_string(reference) + " as the reference of frames " + std::to_string(window.first) +
               " .. " + std::to_string(window.last) + " (" + clip.Name(reference) + ")");

  // The frame's ROI as it is, enlarged, until the result comes.
  ColorGrayImage frame;
  FrameSource(values.lrPattern, values.startIndex).Read(reference, frame);
  CheckRoiInsideFrame(values.roi, frame.Width(), frame.Height());
  const HrGeometry grid = MakeHrGeometry(values.roi, values.scale);
  OpenReconstructionViewers(ui, grid);
  ColorGrayImage before;
  EnlargeByReplication(frame, values.roi, grid, before);
  ui.ShowPicture(Viewer::Frame, PictureOf(before));

  PortObserver observer(ui);
  const Result result = clip.Frame(reference, &observer);
  ShowAndWriteResult(ui, ToColorImage(result.estimate), std::string(), ImageFormat::Bmp);
}

}  // namespace lumet
