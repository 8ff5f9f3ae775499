#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imageio/homography_file.h"
#include "numeric/projection.h"
#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "reconstruction/frame_rows.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/gray_conversion.h"
#include "reconstruction/reconstruction_method.h"
#include "util/error.h"
#include "util/memory_limit.h"
#include "util/parallel.h"
#include "util/text_format.h"
#include "stages/frame_errors.h"
#include "stages/reconstruction_memory.h"
#include "workbench/frame_source.h"
#include "workbench/output_files.h"
#include "workbench/reconstruction_steps.h"
#include "workbench/workbench.h"

namespace lumet {

namespace {

// The user hears of a method's work through the viewers, the log and the progress bar.
// With byBand, each band of the estimate is cut to grey levels into display as it ends.
// The method's outcome goes into `outcome`, after the warnings the command gave before it.
class UiObserver final : public ReconstructionObserver {
 public:
  UiObserver(UiPort& ui, ColorGrayImage& display, bool byBand, ReconstructionOutcome& outcome)
      : ui_(ui), display_(display), byBand_(byBand), outcome_(outcome) {}
  void Log(const std::string& line) override { ui_.AppendLog(line); }
  void Warn(int frame, const std::string& kind, const std::string& detail, const std::string& remedy) override {
    ui_.Warn({frame, kind, detail, remedy});
  }
  void Progress(int done, int total, int band, int step) override {
    CheckCancel(ui_);
    ui_.ReportBandProgress({"Reconstruction", done, total, band, step});
  }
  bool WantsPictures() const override { return ui_.ShowsWorkInProgress(); }
  void Picture(const ColorDoubleImage& estimate) override {
    ui_.ShowPicture(Viewer::Reference, PictureOf(estimate, display_));
  }
  bool TakesBands() const override { return byBand_; }
  void Band(int band, DoubleImage& xb) override {
    ConvertToGray(xb, display_.channels[static_cast<size_t>(band)], 0, 1.0);
    xb.Free();
  }
  void Outcome(const ReconstructionOutcome& outcome) override {
    std::vector<ReconstructionWarning> warnings = std::move(outcome_.warnings);
    outcome_ = outcome;
    outcome_.warnings.insert(outcome_.warnings.begin(), warnings.begin(), warnings.end());
  }

 private:
  UiPort& ui_;
  ColorGrayImage& display_;
  bool byBand_;
  ReconstructionOutcome& outcome_;
};

// One colour band at a time when nobody watches the estimate and the result is cut to
// grey levels (a 16-bit or float result keeps the estimate of all three bands).
bool ByBand(bool watched, ResultSamples samples) { return !watched && samples == ResultSamples::Bits8; }

// The memory check of a reconstruction of frameCount frames of w0 x h0 pixels (with deep
// planes beside their channels when deep).
void CheckMemoryOfMethod(const ReconstructionMethod& method, ReconstructionOptions& options, int frameCount,
                         int w0, int h0, bool deep, bool watched, ResultSamples samples, size_t limit) {
  const size_t perPixel = deep ? 3 + 3 * sizeof(float) : 3;
  const size_t frameBytes =
      perPixel * static_cast<size_t>(w0) * static_cast<size_t>(h0) * static_cast<size_t>(frameCount);
  CheckReconstructionMemory(method, options, options.Grid(), frameBytes, watched, ByBand(watched, samples), limit);
}

// Reads frames 0 .. K - 1 with their homography files into a method's input, each frame's
// form on the HR grid beside it; frame 0 is read before the checks.
class FrameGathering {
 public:
  // read: the grid whose rows of each frame the method reads (GridRead).
  FrameGathering(Workbench& bench, FrameSource& source, ReconstructionInput& input, UiPort& ui,
                 ColorGrayImage& display, const HrGeometry& read)
      : bench_(bench), source_(source), in_(input), ui_(ui), display_(display), read_(read) {}

  // Frame k and the form that takes the HR grid onto it (frame 0: the identity, and the
  // enlarged first frame shown and written).
  void Read(int k) {
    Matrix homography;
    if (k == 0) {
      homography = IdentityHomography();
      bench_.Wrote(ShowFirstFrame(ui_, in_.frames[0], bench_.params.roi, in_.grid, display_, bench_.resultFormat));
      KeepRowsUnderGrid(in_.frames[0], homography, read_);
    } else {
      const std::string path = source_.Name(k);
      in_.frames.emplace_back();
      source_.Read(k, in_.frames.back());
      const int w = in_.frames.back().Width();
      const int h = in_.frames.back().Height();
      if (w != in_.frames[0].Width() || h != in_.frames[0].Height()) {
        throw Error("frame file " + path + " is " + std::to_string(w) + " x " + std::to_string(h) +
                    " pixels, frame 0 is " + std::to_string(in_.frames[0].Width()) + " x " +
                    std::to_string(in_.frames[0].Height()));
      }
      homography = bench_.FrameHomography(k);
      // Only the rows the grid reaches are kept: a small ROI of many large frames.
      KeepRowsUnderGrid(in_.frames.back(), homography, read_);
    }
    in_.homographies.push_back(homography);
    lrForms_.push_back(LrFormOnHrInput(homography, in_.grid.scale));
  }

  // Per frame: read, warp onto the HR grid, show, measure against frame 0. Only layer 0
  // (whose green channel every frame is measured against) and the current layer are held.
  void ReadWatched(int frameCount) {
    ColorDoubleImage layer0;
    ColorDoubleImage layer;
    for (int k = 0; k < frameCount; ++k) {
      CheckCancel(ui_);
      ui_.ReportProgress("Reading frames", k + 1, frameCount);
      Read(k);
      WarpToHrGrid(in_.frames.back(), lrForms_.back(), in_.grid, layer);
      ConvertToGray(layer, display_);
      if (k == 0) {
        layer0 = layer;
        layer0.channels[0].Free();  // the frame errors read green only
        layer0.channels[2].Free();
      }
      in_.frameErrors.push_back(FrameMae(layer0, layer));
      LogError(k);
      ui_.ShowPicture(Viewer::Reference, PictureOf(display_));
    }
  }

  // Nobody watches the warped frames: the frame errors need only their green channel, and
  // the frames are measured in parallel once read. A frame that cannot be read stops the
  // command after the errors of the frames before it are logged, as frame by frame.
  void ReadUnwatched(int frameCount) {
    std::exception_ptr failure;
    for (int k = 0; k < frameCount; ++k) {
      CheckCancel(ui_);
      ui_.ReportProgress("Reading frames", k + 1, frameCount);
      try {
        Read(k);
      } catch (...) {
        failure = std::current_exception();
        break;
      }
    }
    const int read = static_cast<int>(lrForms_.size());
    if (read == 0) std::rethrow_exception(failure);
    in_.frameErrors = MeasureFrameErrors(in_.frames, in_.homographies, in_.grid);
    for (int k = 0; k < read; ++k) LogError(k);
    if (failure) std::rethrow_exception(failure);
  }

 private:
  void LogError(int k) { ui_.AppendLog(Format("MAE(%d) = %f\r\n", k, in_.frameErrors[static_cast<size_t>(k)])); }

  Workbench& bench_;
  FrameSource& source_;
  ReconstructionInput& in_;
  UiPort& ui_;
  ColorGrayImage& display_;
  const HrGeometry read_;
  std::vector<Matrix> lrForms_;
};

// Frames whose error is nan, each warned of with its homography file when there is one, and
// kept among the outcome's warnings.
void WarnFramesWithoutError(UiPort& ui, const std::vector<double>& errors, const Workbench& bench,
                            std::vector<ReconstructionWarning>& given) {
  const auto file = [&](int k) {
    return FormatFrameName(bench.params.homographyPattern, k);
  };
  for (const FrameWarning& w : FramesWithoutError(errors, file)) {
    ui.Warn(w);
    given.push_back({w.frame, w.kind, w.detail, w.remedy});
  }
}

}  // namespace

void Workbench::CheckReconstructionMemory(const UiPort& ui) const {
  CheckParams(params);
  ReconstructionOptions options = ToReconstructionOptions(params);
  const ReconstructionMethod& method = ReconstructionMethodFor(options.method);
  FrameSource source(params.lrPattern, params.startIndex);
  ColorGrayImage frame0;
  source.Read(0, frame0);
  CheckRoiFitsFrame(params.roi, frame0.Width(), frame0.Height());
  const bool deep = frame0.deep != nullptr;
  CheckMemoryOfMethod(method, options, method.FrameCount(params.lrCount), frame0.Width(), frame0.Height(), deep,
                      ui.ShowsWorkInProgress(), ResultSamplesFor(resultFormat, resultDepth, InputDepthOf(frame0)),
                      memoryLimit);
}

void Workbench::Reconstruction(UiPort& ui) {
  lastOutcome = ReconstructionOutcome{};
  const ParamSet& p = params;
  CheckParams(p);
  ReconstructionOptions options = ToReconstructionOptions(p);
  const ReconstructionMethod& method = ReconstructionMethodFor(options.method);
  const int frameCount = method.FrameCount(p.lrCount);

  // The per-frame stores grow frame by frame, so a count far beyond the frames on disk
  // ends at the first missing file rather than in one huge allocation.
  ReconstructionInput input;
  input.frames.resize(1);
  FrameSource source(p.lrPattern, p.startIndex);
  if (carried_.pattern == p.lrPattern && carried_.startIndex == p.startIndex) source.Adopt(std::move(carried_.frames));
  carried_ = CarriedFrames{};
  source.Read(0, input.frames[0]);
  // Frame 0's ICC profile and EXIF go with the results written from it.
  const std::shared_ptr<const FileMetadata> metadata = input.frames[0].metadata;
  const int w0 = input.frames[0].Width();
  const int h0 = input.frames[0].Height();
  CheckRoiFitsFrame(p.roi, w0, h0);
  input.grid = options.Grid();
  // Every frame and homography file the loop reads is there before the work starts.
  source.CheckFrames(1, frameCount, w0, h0,
                     [&](int found) { return ReconstructionShortage(source, p.lrCount, frameCount, found); });
  CheckHomographies(frameCount, [&](int k) {
    const int usable = k - (frameCount - p.lrCount);
    return "run the registration first with --lr-count " + std::to_string(frameCount - 1) + " or more" +
           (usable >= 1 ? ", or use --lr-count " + std::to_string(usable) : std::string());
  });

  const bool watched = ui.ShowsWorkInProgress();
  // Frame 0 read at more than 8 bits: the result too, where its format holds it.
  const bool deep = input.frames[0].deep != nullptr;
  const ResultSamples samples = ResultSamplesFor(resultFormat, resultDepth, InputDepthOf(input.frames[0]));
  const bool byBand = ByBand(watched, samples);
  CheckMemoryOfMethod(method, options, frameCount, w0, h0, deep, watched, samples, memoryLimit);

  OpenReconstructionViewers(ui, input.grid);
  ColorGrayImage display;
  FrameGathering gathering(*this, source, input, ui, display, method.GridRead(options, input.grid));
  if (ui.ShowsWorkInProgress()) {
    gathering.ReadWatched(frameCount);
  } else {
    gathering.ReadUnwatched(frameCount);
  }
  ReconstructionOutcome outcome;
  WarnFramesWithoutError(ui, input.frameErrors, *this, outcome.warnings);

  // The first frame's picture is shown: its grey levels make way for the result's.
  if (byBand) display = ColorGrayImage();
  UiObserver observer(ui, display, byBand, outcome);
  ColorDoubleImage x;
  method.Reconstruct(input, options, observer, x);
  const std::string path = ResultPath(p, resultFormat);
  if (x.Empty()) {
    display.metadata = metadata;
    Wrote(ShowAndWriteResult(ui, display, path, resultFormat));  // the observer took the bands
  } else {
    x.metadata = metadata;
    Wrote(ShowAndWriteResult(ui, x, display, path, resultFormat, samples));
  }
  std::vector<std::string> files{path, FirstFramePath(resultFormat)};
  if (path.empty()) files.erase(files.begin());
  WarnMetadataDropped(ui, metadata.get(), resultFormat, files, outcome.warnings);
  lastOutcome = std::move(outcome);
}

}  // namespace lumet
