#include "lumet/video.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "imageio/image_file.h"
#include "imageio/video_file.h"
#include "library/conversions.h"
#include "library/seeded_reconstruct.h"
#include "library/sequence_source.h"
#include "params/param_set.h"
#include "reconstruction/reconstruction_method.h"
#include "util/error.h"
#include "util/text_format.h"
#include "workbench/frame_source.h"

namespace lumet {

namespace {

// Far more frames than any clip holds; it only bounds the count.
constexpr int kCountLimit = 10000000;

// The frames of one window, decoded once and handed to the stages as frames in memory:
// frame k of the clip is ring entry k while it is held.
class FrameRing final : public HeldImages {
 public:
  explicit FrameRing(int count) : count_(count) {}
  int Count() const override { return count_; }

  bool Holds(int k) const { return frames_.count(k) != 0; }
  void Put(int k, ColorGrayImage&& image) { frames_[k] = std::move(image); }
  // Drops every frame outside first .. last.
  void Keep(int first, int last) {
    frames_.erase(frames_.begin(), frames_.lower_bound(first));
    frames_.erase(frames_.upper_bound(last), frames_.end());
  }

 private:
  const ColorGrayImage& At(int index) const override {
    const auto found = frames_.find(index);
    if (found == frames_.end()) throw Error("frame " + std::to_string(index) + " is not in the window being read");
    return found->second;
  }
  int count_;
  std::map<int, ColorGrayImage> frames_;
};

// A clip's frames read forward: files of a pattern, or a video decoded from its start once
// (frames not wanted are passed without conversion), or a caller's frames.
class ClipReader {
 public:
  ClipReader(std::string input, int startIndex)
      : input_(std::move(input)), start_(startIndex), isVideo_(FrameSource::IsVideoPattern(input_)) {}
  explicit ClipReader(Sequence frames) : frames_(std::move(frames)) {}

  std::string Name(int k) const {
    if (frames_) return frames_->Name(k);
    return isVideo_ ? input_ + " frame " + std::to_string(start_ + k) : FormatFrameName(input_, start_ + k);
  }

  int Count() const {
    if (frames_) return frames_->Count(kCountLimit);
    FrameSource counter(input_, start_, size_t{0});
    return counter.CountFrames(kCountLimit);
  }

  void Decode(int k, ColorGrayImage& image) {
    if (frames_) {
      frames_->source()->ReadChecked(k, image);
    } else if (!isVideo_) {
      ReadImageFile(Name(k), image);
    } else {
      DecodeVideoFrame(k, image);
    }
  }

 private:
  void DecodeVideoFrame(int k, ColorGrayImage& image) {
    const int wanted = start_ + k;
    if (!video_ || video_->NextIndex() > wanted) video_ = std::make_unique<VideoFile>(input_);
    while (video_->NextIndex() < wanted) {
      if (!video_->ReadNext(nullptr)) break;
    }
    if (video_->NextIndex() != wanted || !video_->ReadNext(&image)) {
      throw Error("cannot read " + Name(k) + ": the video " + input_ + " ends before it");
    }
  }

  std::optional<Sequence> frames_;
  std::string input_;
  int start_ = 0;
  bool isVideo_ = false;
  std::unique_ptr<VideoFile> video_;
};

}  // namespace

FrameWindow WindowOf(int k, int radius, int count) {
  return FrameWindow{std::max(0, k - radius), std::min(count - 1, k + radius)};
}

struct VideoSuperResolver::State {
  State(ClipReader&& clipReader, int windowRadius, const Settings& given, bool whole)
      : reader(std::move(clipReader)), radius(windowRadius), settings(given), wholeFrame(whole) {
    if (radius < 1) throw Error("radius " + std::to_string(radius) + ": a window needs at least radius 1");
    count = reader.Count();
    if (count < 2) {
      throw Error("found " + std::to_string(count) + " frame" + (count == 1 ? "" : "s") + " (no " +
                  reader.Name(count) + "); a window needs at least two frames");
    }
    ring = std::make_shared<FrameRing>(count);
    sequence = Sequence::FromSource(
        std::make_shared<Sequence::Source>(std::string(), 0, std::shared_ptr<const MemoryFrames>(ring)));
  }

  // Decodes the window's frames the ring does not hold yet; the first frame decoded sets
  // the size every other must have (and the ROI of a whole-frame job).
  void Fill(const FrameWindow& window) {
    ring->Keep(window.first, window.last);
    for (int j = window.first; j <= window.last; ++j) {
      if (ring->Holds(j)) continue;
      ColorGrayImage image;
      reader.Decode(j, image);
      image.mask.Free();
      if (width == 0) {
        width = image.Width();
        height = image.Height();
        if (wholeFrame) settings.roi = Rect{0, 0, width, height};
      } else if (image.Width() != width || image.Height() != height) {
        throw Error(reader.Name(j) + " is " + std::to_string(image.Width()) + " x " +
                    std::to_string(image.Height()) + " pixels, the frames before it " + std::to_string(width) +
                    " x " + std::to_string(height));
      }
      ring->Put(j, std::move(image));
    }
  }

  // Frame a registered against the radius frames after it, once.
  const Registration& Forward(int a, Observer* observer) {
    auto found = forward.find(a);
    if (found != forward.end()) return found->second;
    std::vector<int> after;
    for (int j = a + 1; j <= std::min(count - 1, a + radius); ++j) after.push_back(j);
    Registration registration;
    if (!after.empty()) registration = Register(sequence, a, after, settings, observer);
    return forward.emplace(a, std::move(registration)).first->second;
  }

  // The settings every output frame is made with: the given ones, the PSF checked once for
  // the whole clip (ClipSettings).
  const Settings& FrameSettings(Observer* observer);

  ClipReader reader;
  int radius;
  Settings settings;
  bool wholeFrame;
  int count = 0;
  int width = 0;
  int height = 0;
  std::shared_ptr<FrameRing> ring;
  Sequence sequence = Sequence::FromFrames({});
  std::map<int, Registration> forward;
  std::optional<Settings> frameSettings;
  // The warm start: the estimate of output frame previousFrame (-1: none).
  bool warmStart = false;
  int previousFrame = -1;
  ColorDoubleImage previous;
};

VideoSuperResolver::VideoSuperResolver(const std::string& input, int startIndex, int radius, const Settings& settings,
                                       bool wholeFrame) {
  UseModulesBesideLibrary();
  if (!FrameSource::IsVideoPattern(input)) {
    const std::string problem = LrPatternProblem(input);
    if (!problem.empty()) throw Error("input pattern " + QuotedValue(input) + ": " + problem);
  }
  if (startIndex < 0) throw Error("the start index " + std::to_string(startIndex) + " is below 0");
  try {
    state_ = std::make_unique<State>(ClipReader(input, startIndex), radius, settings, wholeFrame);
  } catch (const Error& e) {
    throw Error("input " + input + ": " + e.what());
  }
}

VideoSuperResolver::VideoSuperResolver(const Sequence& frames, int radius, const Settings& settings, bool wholeFrame)
    : state_(std::make_unique<State>(ClipReader(frames), radius, settings, wholeFrame)) {}

VideoSuperResolver::~VideoSuperResolver() = default;

int VideoSuperResolver::Count() const { return state_->count; }

std::string VideoSuperResolver::Name(int k) const { return state_->reader.Name(k); }

FrameWindow VideoSuperResolver::Window(int k) const { return WindowOf(k, state_->radius, state_->count); }

namespace {

// A frame whose error after registration is this many times the best pair's of the window,
// and above kMisfitFloor grey levels, does not line up with the reference: a scene cut, a
// flash, a frame of another shot. Pairs of one scene stay within a few grey levels of each
// other (noise, aliasing, a moving object); pairs across a cut are tens of levels apart.
constexpr double kMisfitRatio = 4.0;
constexpr double kMisfitFloor = 12.0;

struct WindowPair {
  int frame = 0;
  PixelHomography h;
  double error = 0;  // the refinement's mean absolute difference (nan: none)
};

}  // namespace

Registration VideoSuperResolver::Registered(int k, Observer* observer) {
  State& s = *state_;
  if (k < 0 || k >= s.count) {
    throw Error("frame " + std::to_string(k) + " is not a frame of the clip (frames 0 .. " +
                std::to_string(s.count - 1) + ")");
  }
  const FrameWindow window = Window(k);
  s.Fill(window);
  s.forward.erase(s.forward.begin(), s.forward.lower_bound(window.first));
  const auto errorOf = [](const Registration& r, int a, int b) {
    const std::optional<RegistrationScores> scores = r.Scores(a, b);
    return scores ? scores->refinement : std::numeric_limits<double>::quiet_NaN();
  };
  std::vector<WindowPair> pairs;
  Warning noInverse{"left out: its homography to the reference has no inverse", {}, {}, "check it for a scene cut"};
  for (int j = window.first; j <= window.last; ++j) {
    if (j > k) {
      const Registration& forward = s.Forward(k, observer);
      pairs.push_back({j, forward.Pixels(k, j), errorOf(forward, k, j)});
    } else if (j < k) {
      const Registration& forward = s.Forward(j, observer);
      try {
        pairs.push_back({j, Inverse(forward.Pixels(j, k)), errorOf(forward, j, k)});
      } catch (const Error&) {
        noInverse.frames.push_back(j);
        noInverse.details.emplace_back();
      }
    }
  }
  double best = std::numeric_limits<double>::infinity();
  for (const WindowPair& p : pairs) {
    if (std::isfinite(p.error)) best = std::min(best, p.error);
  }
  const double misfit = std::max(kMisfitFloor, kMisfitRatio * best);
  Warning misfits{"left out of frame " + std::to_string(k) +
                      "'s window: it does not line up with that frame (a scene cut between them, or a frame "
                      "that does not register)",
                  {}, {}, "nothing to do for a scene cut; else check the frame"};
  Registration registration;
  for (const WindowPair& p : pairs) {
    if (std::isfinite(best) && p.error > misfit) {
      misfits.frames.push_back(p.frame);
      misfits.details.push_back(Format("mean error %.1f grey levels, the window's best %.1f", p.error, best));
      continue;
    }
    registration.Set(k, p.frame, p.h);
    if (std::isfinite(p.error)) registration.SetScores(k, p.frame, RegistrationScores{0, p.error});
  }
  if (observer != nullptr) {
    for (const Warning* w : {&noInverse, &misfits}) {
      if (!w->frames.empty()) observer->OnWarning(*w);
    }
  }
  return registration;
}

namespace {

// The clip's PSF is checked once, on its first kPsfFrames frames with frame 0 as their
// reference (enough for the check to hold out frames both to stop its fits and to score
// them, which a window of five cannot), over a kPsfSide LR pixels square at the ROI's
// centre. A window's own check would choose from fewer frames, could choose another PSF
// for every frame (a flicker of sharpness), and would cost its trials for every frame.
// The square's noise, edges and codec blocks are read around it: on 24 pixels an H.264
// clip's frames differed by 1.6 grey levels, too few to tell compression, and its windows
// came out 2.3 dB below bicubic.
constexpr int kPsfFrames = 9;
constexpr int kPsfSide = 64;

bool ChecksPsf(const Settings& settings) {
  bool declared = false;
  for (const MethodParameter& p : MethodParameters(settings.method)) declared = declared || p.name == "psfCheck";
  if (!declared) return false;
  const auto given = settings.methodParams.find("psfCheck");
  return given == settings.methodParams.end() || given->second != 0.0;
}

Rect CentredSquare(const Rect& roi, int side) {
  const int w = std::min(side, roi.width);
  const int h = std::min(side, roi.height);
  return Rect{roi.x + (roi.width - w) / 2, roi.y + (roi.height - h) / 2, w, h};
}

}  // namespace

const Settings& VideoSuperResolver::State::FrameSettings(Observer* observer) {
  // Without the check, the settings themselves (a whole-frame job's ROI is set once the
  // first frame is read).
  if (!ChecksPsf(settings)) return settings;
  if (frameSettings) return *frameSettings;
  Settings chosen = settings;
  const FrameWindow probe{0, std::min(count, kPsfFrames) - 1};
  Fill(probe);
  chosen.roi = settings.roi;  // a whole-frame job's, once the first frame is read
  std::vector<int> after;
  for (int j = 1; j <= probe.last; ++j) after.push_back(j);
  // Only the check's own log line reaches the caller: the warnings of its registrations
  // and of its square are not about any output frame.
  struct PsfLog final : Observer {
    explicit PsfLog(Observer* to) : caller(to) {}
    void OnLog(const std::string& line) override {
      if (caller != nullptr && line.rfind("PSF = ", 0) == 0) caller->OnLog(line);
    }
    bool CancelRequested() override { return caller != nullptr && caller->CancelRequested(); }
    Observer* caller;
  } log(observer);
  const Registration registration = Register(sequence, 0, after, chosen, &log);
  Settings square = chosen;
  square.roi = CentredSquare(chosen.roi, kPsfSide);
  const Result checked = Reconstruct(sequence, registration, 0, registration.Frames(0), square, &log);
  const double stated = settings.psfSigma;
  const double sigma = checked.outcome.psfSigma;
  if (sigma != stated && observer != nullptr) {
    // Named by the frames it was checked on, as a window's warning names its frames.
    const double lambda = checked.outcome.lambda;
    const std::string prior =
        lambda != settings.lambda ? Format(" and lambda %g instead of %g", lambda, settings.lambda) : "";
    Warning w{Format("%s: every output frame of the clip is made through PSF sigma %g instead of %g%s",
                     sigma < stated ? "sharper than the PSF allows" : "blurrier than the PSF says", sigma, stated,
                     prior.c_str()),
              {}, {}, PsfChoiceRemedy(sigma, lambda, !prior.empty())};
    for (int j = probe.first; j <= probe.last; ++j) {
      w.frames.push_back(j);
      w.details.emplace_back();
    }
    observer->OnWarning(w);
  }
  chosen.psfSigma = sigma;
  chosen.lambda = checked.outcome.lambda;
  chosen.methodParams["psfCheck"] = 0.0;
  return frameSettings.emplace(chosen);
}

void VideoSuperResolver::SetWarmStart(bool on) {
  // A method that does not take a seed has nothing to start from: no frame is made twice.
  bool takes = false;
  for (const ReconstructionMethod* m : ReconstructionMethods()) {
    takes = takes || (m->Word() == state_->settings.method && m->TakesSeed());
  }
  state_->warmStart = on && takes;
  state_->previousFrame = -1;
}

Result VideoSuperResolver::Made(int k, Observer* observer) {
  State& s = *state_;
  const Settings& settings = s.FrameSettings(observer);
  const Registration registration = Registered(k, observer);
  if (!s.warmStart) return Reconstruct(s.sequence, registration, k, registration.Frames(k), settings, observer);
  // From frame k - 1's estimate when it is held and lines up with frame k; a key frame
  // starts afresh.
  std::optional<EstimateSeed> seed;
  if (k % kWarmKeyEvery != 0 && s.previousFrame == k - 1 && registration.Contains(k, k - 1)) {
    seed = EstimateSeed{&s.previous, registration.Pixels(k, k - 1)};
  }
  Result result = ReconstructSeeded(s.sequence, registration, k, registration.Frames(k), settings, observer,
                                    seed ? &*seed : nullptr);
  s.previous = ToDoubleImage(result.estimate);
  s.previousFrame = k;
  return result;
}

Result VideoSuperResolver::Frame(int k, Observer* observer) {
  State& s = *state_;
  if (s.warmStart && k >= 0 && k < s.count) {
    // The frames since the last key frame before k that are not made yet, made first
    // without a word: frame k then starts from the same estimate whichever frames were
    // asked for before it.
    const int key = k - k % kWarmKeyEvery;
    const int from = s.previousFrame >= key && s.previousFrame < k ? s.previousFrame + 1 : key;
    struct Quiet final : Observer {
      explicit Quiet(Observer* to) : caller(to) {}
      bool CancelRequested() override { return caller != nullptr && caller->CancelRequested(); }
      Observer* caller;
    } quiet(observer);
    s.FrameSettings(observer);  // its warning, if any, reaches the caller
    for (int j = from; j < k; ++j) Made(j, &quiet);
  }
  return Made(k, observer);
}

}  // namespace lumet
