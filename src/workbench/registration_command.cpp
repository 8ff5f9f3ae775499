#include <algorithm>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "imageio/homography_file.h"
#include "params/param_description.h"
#include "params/algorithm_options.h"
#include "raster/dib_raster.h"
#include "registration/frame_registration.h"
#include "registration/homography_search.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/parallel.h"
#include "util/text_format.h"
#include "stages/register_frames.h"
#include "workbench/frame_source.h"
#include "workbench/workbench.h"

namespace lumet {

namespace {

std::vector<MarkPoint> Squares(const std::vector<FeaturePoint>& points) {
  std::vector<MarkPoint> marks;
  marks.reserve(points.size());
  for (const FeaturePoint& p : points) marks.push_back(MarkPoint{static_cast<int>(p.x), static_cast<int>(p.y)});
  return marks;
}

std::vector<MarkLine> Lines(const MatchedPairs& pairs) {
  std::vector<MarkLine> lines;
  lines.reserve(pairs.a.size());
  for (size_t j = 0; j < pairs.a.size(); ++j) {
    lines.push_back(MarkLine{static_cast<int>(pairs.a[j].x), static_cast<int>(pairs.a[j].y),
                             static_cast<int>(pairs.b[j].x), static_cast<int>(pairs.b[j].y)});
  }
  return lines;
}

// Watched, a batch is as large as a few frames per thread: the viewers follow the work
// closely and Cancel takes effect soon.
int FramesPerBatch(const UiPort& ui, int frameCount, int width, int height) {
  if (ui.ShowsWorkInProgress()) return std::max(1, ThreadCount()) * kFramesPerThreadInBatch;
  return UnwatchedBatchSize(frameCount, width, height);
}

// Decoded frames handed on to the reconstruction, at most (more are decoded again).
constexpr size_t kCarriedBytes = size_t{256} << 20;

// What every step of the command reads: the parameters, the registration's options and
// the frame geometry, fixed when the command starts.
struct RegistrationSetup {
  const ParamSet& p;
  RegistrationOptions options;
  int width = 0;
  int height = 0;
};

// One frame's turn: the viewers, its log lines and scores, and its homography file. Returns
// the path of a file put in place whose folder is still to be flushed, or "".
std::string ReportFrame(RegisteredFrame& f, const RegistrationSetup& s, UiPort& ui, std::vector<FrameScores>& scores) {
  const ParamSet& p = s.p;
  ui.ReportProgress("Registration", f.frame - p.firstFrame + 1, p.lrCount);
  if (f.failure) std::rethrow_exception(f.failure);
  // Unwatched, the frame viewer needs only the last frame, which it ends with.
  if (ui.ShowsWorkInProgress() || f.frame == p.firstFrame + p.lrCount - 1) {
    DibRaster picture(0);
    ImageToRaster(f.image, picture);
    ui.ShowPicture(Viewer::Frame, picture);
    ui.SetViewerTitle(Viewer::Frame, f.name);
    ui.AttachRoi(Viewer::Frame, p.roi);
    ui.DrawSquares(Viewer::Frame, Squares(f.reg.points));
  }
  ui.DrawLines(Viewer::Reference, Lines(f.reg.pairs));
  for (const FrameWarning& w : f.warnings) ui.Warn(w);
  if (!f.log.empty()) ui.AppendLog(f.log);
  ui.AppendLog(FormatMaeLine(f.frame, f.reg.e1, f.score));
  scores.push_back(FrameScores{f.frame, f.reg.e1, f.score});
  const std::string homographyPath = FormatFrameName(p.homographyPattern, f.frame);
  if (f.stageFailure) std::rethrow_exception(f.stageFailure);
  if (f.staged.Staged()) {
    f.staged.Publish(false);
    return homographyPath;
  }
  WriteHomographyFile(homographyPath, f.reg.h);
  return {};
}

// The stage's events as the command has them: the viewers, the log and the files in frame
// order, as in a sequential run. The refinement log of the last frame that got that far is
// on disk, and so are the files put in place, also when one fails; what went wrong first is
// what the user hears about.
class CommandEvents final : public RegistrationEvents {
 public:
  CommandEvents(const RegistrationSetup& s, UiPort& ui, Workbench& bench, std::function<void(int, ColorGrayImage&&)> carry)
      : s_(s), ui_(ui), bench_(bench), carry_(std::move(carry)) {}

  void CheckCancel() override { lumet::CheckCancel(ui_); }

  int BatchSize(int frameCount) const override { return FramesPerBatch(ui_, frameCount, s_.width, s_.height); }

  void Stage(RegisteredFrame& f) override {
    f.staged = StagedFile(FormatFrameName(s_.p.homographyPattern, f.frame), FormatHomographyFile(f.reg.h));
  }

  void ReferenceReady(const RegistrationReference& reference) override {
    ui_.DrawSquares(Viewer::Reference, Squares(reference.points));
  }

  void Report(std::vector<RegisteredFrame>& batch, const RegistrationReference&) override {
    std::string unflushed;  // a homography file whose folder is flushed once for the batch
    try {
      for (RegisteredFrame& f : batch) {
        if (!f.failure) lastLog_ = f.reg.refinementLog;
        const std::string published = ReportFrame(f, s_, ui_, bench_.registrationScores);
        if (!published.empty()) unflushed = published;
        bench_.filesWritten.push_back(FormatFrameName(s_.p.homographyPattern, f.frame));
        carry_(f.frame, std::move(f.image));
      }
    } catch (...) {
      try {
        WriteRefinementLog();
        if (!unflushed.empty()) FlushFolderOf(unflushed);
      } catch (const Error&) {
      }
      throw;
    }
    WriteRefinementLog();
    if (!unflushed.empty()) FlushFolderOf(unflushed);
  }

 private:
  void WriteRefinementLog() const {
    if (lastLog_) WriteFileAtomically(kRefinementLogPath, *lastLog_);
  }

  const RegistrationSetup& s_;
  UiPort& ui_;
  Workbench& bench_;
  std::function<void(int, ColorGrayImage&&)> carry_;
  std::optional<std::string> lastLog_;  // the refinement log of the last frame that got that far
};

}  // namespace

void Workbench::Registration(UiPort& ui) {
  CheckParams(params);
  // One source for frame 0 and the frames after it, so that each is decoded once.
  FrameSource source(params.lrPattern, params.startIndex);
  carried_ = CarriedFrames{};
  registrationScores.clear();
  ShowReferenceFrom(source, ui);
  // A copy: nothing the viewers do while the command runs may change its parameters.
  const ParamSet p = params;
  const RegistrationSetup setup{p, ToRegistrationOptions(p), refWidth, refHeight};
  CheckRoiFitsFrame(p.roi, refWidth, refHeight);  // proposes a ROI that fits
  setup.options.CheckReference(p.referenceFile, refWidth, refHeight);
  // Frames 1 .. N, and with them everything the reconstruction will read, are checked
  // before any work starts; each is decoded once and kept for the loop.
  if (p.lrCount > 0) {
    source.CheckFrames(1, p.lrCount + 1, refWidth, refHeight,
                       [&](int found) { return RegistrationShortage(source, p.lrCount, found); });
  }

  if (!ui.ViewerExists(Viewer::Frame)) ui.CreateViewer(Viewer::Frame, "LR frames", StartingRect(Viewer::Frame));
  ui.FitViewer(Viewer::Frame, refWidth, refHeight);

  size_t carriedBytes = 0;
  const auto carry = [&](int k, ColorGrayImage&& image) {
    const size_t bytes = static_cast<size_t>(image.Width()) * static_cast<size_t>(image.Height()) * 3;
    if (!carryFrames || carriedBytes + bytes > kCarriedBytes) return;
    carriedBytes += bytes;
    carried_.frames.emplace(k, std::move(image));
  };
  if (carryFrames) {
    carried_.pattern = p.lrPattern;
    carried_.startIndex = p.startIndex;
    carry(0, ColorGrayImage(referenceImage));
  }

  std::vector<int> frames(static_cast<size_t>(std::max(0, p.lrCount)));
  for (int j = 0; j < p.lrCount; ++j) frames[static_cast<size_t>(j)] = p.firstFrame + j;
  // Whole frames: the command shows them and may carry them to the reconstruction.
  const FrameReader reader{[&](int k) { return source.Name(k); },
                           [&](int k, ColorGrayImage& image) { source.Read(k, image); }, nullptr};
  CommandEvents events(setup, ui, *this, carry);
  RegisterFrames(referenceImage.channels[1], p.referenceFile, frames, reader, setup.options, random, events);
  if (p.lrCount > 0) filesWritten.push_back(kRefinementLogPath);
}

}  // namespace lumet
