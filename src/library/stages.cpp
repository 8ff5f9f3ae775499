#include "lumet/stages.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "imageio/homography_file.h"
#include "library/conversions.h"
#include "library/seeded_reconstruct.h"
#include "library/sequence_source.h"
#include "numeric/projection.h"
#include "params/algorithm_options.h"
#include "reconstruction/frame_rows.h"
#include "reconstruction/gray_conversion.h"
#include "reconstruction/reconstruction_method.h"
#include "stages/frame_errors.h"
#include "stages/reconstruction_memory.h"
#include "stages/register_frames.h"
#include "util/memory_limit.h"
#include "util/parallel.h"
#include "workbench/frame_source.h"

namespace lumet {

namespace {

void CheckCancel(Observer* observer) {
  if (observer != nullptr && observer->CancelRequested()) throw Cancelled();
}

void Report(Observer* observer, const Progress& progress) {
  CheckCancel(observer);
  if (observer != nullptr) observer->OnProgress(progress);
}

void Log(Observer* observer, const std::string& line) {
  if (observer != nullptr) observer->OnLog(line);
}

// The frame warnings of each kind as one Warning, in the order the kinds came.
std::vector<Warning> GroupByKind(const std::vector<FrameWarning>& each) {
  std::vector<Warning> grouped;
  for (const FrameWarning& w : each) {
    auto found = std::find_if(grouped.begin(), grouped.end(), [&](const Warning& g) { return g.kind == w.kind; });
    if (found == grouped.end()) found = grouped.insert(grouped.end(), Warning{w.kind, {}, {}, w.remedy});
    found->frames.push_back(w.frame);
    found->details.push_back(w.detail);
  }
  return grouped;
}

void Warn(Observer* observer, std::vector<FrameWarning>& all, const FrameWarning& w) {
  all.push_back(w);
  if (observer != nullptr) observer->OnWarning(Warning{w.kind, {w.frame}, {w.detail}, w.remedy});
}

// Reads frame k of the sequence, of the reference's size.
void ReadFrameOfSize(Sequence::Source& source, int k, int width, int height, ColorGrayImage& image) {
  source.ReadChecked(k, image);
  image.mask.Free();  // no method reads it
  if (image.Width() != width || image.Height() != height) {
    throw Error("frame " + source.frames.Name(k) + " is " + std::to_string(image.Width()) + " x " +
                std::to_string(image.Height()) + " pixels, the reference frame is " + std::to_string(width) + " x " +
                std::to_string(height));
  }
}

// Every frame listed is there before any work starts.
void CheckFramesPresent(Sequence::Source& source, int reference, const std::vector<int>& frames) {
  int last = reference;
  for (const int k : frames) last = std::max(last, k);
  const int found = source.frames.CountFrames(last + 1);
  if (found <= last) {
    throw Error("frame " + std::to_string(last) + " is needed, but the sequence has only frames 0 .. " +
                std::to_string(found - 1) + " (" + source.frames.Name(found) + " is missing)");
  }
}

void CheckFrameList(int reference, const std::vector<int>& frames) {
  std::set<int> seen;
  for (const int k : frames) {
    if (k < 0) throw Error("frame " + std::to_string(k) + " is not a frame of the sequence (frames count from 0)");
    if (k == reference) throw Error("frame " + std::to_string(k) + " is the reference; list only the other frames");
    if (!seen.insert(k).second) throw Error("frame " + std::to_string(k) + " is listed twice");
  }
}

// The stage's events for a caller of the library: progress, warnings and log lines to the
// observer, the homographies as the files would hold them into the registration.
class LibraryEvents final : public RegistrationEvents {
 public:
  LibraryEvents(int reference, int count, int width, int height, Observer* observer, Registration& out)
      : reference_(reference), count_(count), width_(width), height_(height), observer_(observer), out_(out) {}

  void CheckCancel() override { lumet::CheckCancel(observer_); }
  // A library call's frames may already lie in the caller's memory: the batch keeps what
  // the registration adds to a small share of the command line's.
  int BatchSize(int frameCount) const override {
    return UnwatchedBatchSize(frameCount, width_, height_, kUnwatchedBatchBytes / 8);
  }
  void Report(std::vector<RegisteredFrame>& batch, const RegistrationReference&) override {
    for (RegisteredFrame& f : batch) {
      lumet::Report(observer_, Progress{"Registration", ++done_, count_});
      if (f.failure) std::rethrow_exception(f.failure);
      for (const FrameWarning& w : f.warnings) Warn(observer_, warnings, w);
      if (!f.log.empty()) Log(observer_, f.log);
      Log(observer_, FormatMaeLine(f.frame, f.reg.e1, f.score));
      out_.Set(reference_, f.frame, ToPixelHomography(StoredHomography(f.reg.h)));
      out_.SetScores(reference_, f.frame, RegistrationScores{f.reg.e1, f.score});
    }
  }

  std::vector<FrameWarning> warnings;

 private:
  int reference_;
  int count_;
  int width_;
  int height_;
  Observer* observer_;
  Registration& out_;
  int done_ = 0;
};

}  // namespace

Registration Register(const Sequence& sequence, int reference, const std::vector<int>& frames,
                      const Settings& settings, Observer* observer) {
  SetThreadCount(settings.threads);
  const ParamSet p = ToParamSet(settings);
  const RegistrationOptions options = ToRegistrationOptions(p);
  CheckFrameList(reference, frames);
  Sequence::Source& source = *sequence.source();
  CheckFramesPresent(source, reference, frames);
  // Registration looks at the green channel alone: only green is read.
  GrayImage referenceGreen;
  source.ReadChannelChecked(reference, 1, referenceGreen);
  const int width = referenceGreen.Width();
  const int height = referenceGreen.Height();
  CheckRoiFitsFrame(p.roi, width, height);
  options.CheckReference(source.frames.Name(reference), width, height);

  Registration registration;
  LibraryEvents events(reference, static_cast<int>(frames.size()), width, height, observer, registration);
  const FrameReader reader{[&](int k) { return source.frames.Name(k); },
                           [&](int k, ColorGrayImage& image) { source.ReadChecked(k, image); },
                           [&](int k, GrayImage& green) { source.ReadChannelChecked(k, 1, green); }};
  LcgRandom random;
  RegisterFrames(referenceGreen, source.frames.Name(reference), frames, reader, options, random, events);
  return registration;
}

namespace {

// The method's reports for a caller of the library.
class LibraryObserver final : public ReconstructionObserver {
 public:
  // frames: the sequence's index of each of the method's frames (0: the reference).
  LibraryObserver(Observer* observer, const std::vector<int>& frames, std::vector<FrameWarning>& warnings)
      : observer_(observer), frames_(frames), warnings_(warnings) {}
  void Log(const std::string& line) override { lumet::Log(observer_, line); }
  void Warn(int frame, const std::string& kind, const std::string& detail, const std::string& remedy) override {
    const bool known = frame >= 0 && frame < static_cast<int>(frames_.size());
    lumet::Warn(observer_, warnings_, FrameWarning{known ? frames_[static_cast<size_t>(frame)] : frame, kind, detail, remedy});
  }
  void Progress(int done, int total, int band, int step) override {
    Report(observer_, lumet::Progress{"Reconstruction", done, total, band, step});
  }
  bool WantsPictures() const override { return observer_ != nullptr && observer_->WantsPictures(); }
  void Picture(const ColorDoubleImage& estimate) override {
    if (!WantsPictures()) return;  // a method may show its work unasked
    ColorGrayImage picture;
    ConvertToGray(estimate, picture);
    observer_->OnPicture(ToFrame(picture));
  }
  void Outcome(const ReconstructionOutcome& outcome) override { outcome_ = outcome; }
  const ReconstructionOutcome& MethodOutcome() const { return outcome_; }

 private:
  Observer* observer_;
  const std::vector<int>& frames_;
  std::vector<FrameWarning>& warnings_;
  ReconstructionOutcome outcome_;
};

// The frames a reconstruction takes when none are named: those the method takes of the
// frames registered against the reference, in ascending order.
std::vector<int> DefaultFrames(const Registration& registration, int reference, const ReconstructionMethod& method) {
  std::vector<int> registered = registration.Frames(reference);
  const int count = method.FrameCount(static_cast<int>(registered.size())) - 1;
  registered.resize(static_cast<size_t>(std::clamp(count, 0, static_cast<int>(registered.size()))));
  return registered;
}

}  // namespace

Result Reconstruct(const Sequence& sequence, const Registration& registration, int reference,
                   const std::vector<int>& frames, const Settings& settings, Observer* observer) {
  return ReconstructSeeded(sequence, registration, reference, frames, settings, observer, nullptr);
}

Result ReconstructSeeded(const Sequence& sequence, const Registration& registration, int reference,
                         const std::vector<int>& frames, const Settings& settings, Observer* observer,
                         const EstimateSeed* seed) {
  SetThreadCount(settings.threads);
  const ParamSet p = ToParamSet(settings);
  ReconstructionOptions options = ToReconstructionOptions(p);
  const ReconstructionMethod& method = ReconstructionMethodFor(options.method);
  const std::vector<int> list = frames.empty() ? DefaultFrames(registration, reference, method) : frames;
  CheckFrameList(reference, list);
  for (const int k : list) registration.Pixels(reference, k);  // every homography is there before the work

  Sequence::Source& source = *sequence.source();
  CheckFramesPresent(source, reference, list);
  ReconstructionInput input;
  input.frames.resize(1);
  source.ReadChecked(reference, input.frames[0]);
  input.frames[0].mask.Free();
  const int width = input.frames[0].Width();
  const int height = input.frames[0].Height();
  CheckRoiFitsFrame(p.roi, width, height);
  input.grid = options.Grid();
  input.homographies.push_back(IdentityHomography());
  for (const int k : list) input.homographies.push_back(ToMatrix(registration.Pixels(reference, k)));
  // Each frame is held only in the rows the grid reaches (a small ROI of large frames).
  const HrGeometry read = method.GridRead(options, input.grid);
  size_t frameBytes = 0;
  const bool deep = input.frames[0].deep != nullptr;  // the other frames are taken as alike
  for (const Matrix& h : input.homographies) frameBytes += BytesUnderGrid(h, read, width, height, deep);
  CheckReconstructionMemory(method, options, input.grid, frameBytes, false, false,
                            settings.memoryLimit == 0 ? DefaultMemoryLimit() : settings.memoryLimit);
  KeepRowsUnderGrid(input.frames[0], input.homographies[0], read);

  const int total = static_cast<int>(list.size()) + 1;
  Report(observer, Progress{"Reading frames", 1, total});
  for (size_t i = 0; i < list.size(); ++i) {
    Report(observer, Progress{"Reading frames", static_cast<int>(i) + 2, total});
    input.frames.emplace_back();
    ReadFrameOfSize(source, list[i], width, height, input.frames.back());
    KeepRowsUnderGrid(input.frames.back(), input.homographies[i + 1], read);
  }
  input.frameErrors = MeasureFrameErrors(input.frames, input.homographies, input.grid);

  Result result;
  Outcome& outcome = result.outcome;
  outcome.method = MethodName(options.method);
  outcome.frames.push_back(reference);
  outcome.frames.insert(outcome.frames.end(), list.begin(), list.end());
  outcome.frameErrors = input.frameErrors;
  std::vector<FrameWarning> warnings;
  for (FrameWarning w : FramesWithoutError(input.frameErrors, [](int) { return std::string(); })) {
    w.frame = outcome.frames[static_cast<size_t>(w.frame)];
    Warn(observer, warnings, w);
  }
  LibraryObserver methodObserver(observer, outcome.frames, warnings);
  // A seed of another size (another ROI) is not taken.
  SeedEstimate seedEstimate;
  if (seed != nullptr && seed->estimate->Width() == input.grid.width && seed->estimate->Height() == input.grid.height) {
    seedEstimate = SeedEstimate{seed->estimate, input.grid, ToMatrix(seed->toSeed)};
    input.seed = &seedEstimate;
  }
  ColorDoubleImage x;
  method.Reconstruct(input, options, methodObserver, x);
  result.estimate = ToEstimate(x);
  const ReconstructionOutcome& told = methodObserver.MethodOutcome();
  outcome.framesUsed = told.framesUsed;
  outcome.thresholdApplied = told.selected;
  outcome.thresholdIndex = told.thresholdIndex;
  outcome.threshold = told.threshold;
  outcome.iterations = told.iterations;
  outcome.psfSigma = told.choosesPsf ? told.psfSigma : p.psfSigma;
  outcome.lambda = told.choosesPsf ? told.lambda : p.lambda;
  outcome.fallback = told.fellBack;
  outcome.fallbackReason = told.fallbackReason;
  outcome.warnings = GroupByKind(warnings);
  return result;
}

std::vector<std::string> Methods() {
  std::vector<std::string> names;
  for (const ReconstructionMethod* m : ReconstructionMethods()) names.push_back(m->Word());
  return names;
}

std::vector<MethodParameter> MethodParameters(const std::string& method) {
  for (const ReconstructionMethod* m : ReconstructionMethods()) {
    if (m->Word() != method) continue;
    std::vector<MethodParameter> params;
    for (const MethodParam& p : m->Params()) {
      params.push_back({.name = p.name, .help = p.help, .whole = p.whole, .defaultValue = p.DefaultValue(),
                        .minimum = p.minimum, .maximum = p.maximum, .minimumExcluded = p.minimumExcluded});
    }
    return params;
  }
  throw Error("no reconstruction method is called " + QuotedValue(method));
}

}  // namespace lumet
