#include "cli/video_job.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <vector>

#include "imageio/image_file.h"
#include "imageio/video_file.h"
#include "library/conversions.h"
#include "library/sequence_source.h"
#include "lumet/stages.h"
#include "params/param_set.h"
#include "util/error.h"
#include "util/folder_lock.h"
#include "util/parallel.h"
#include "util/text_format.h"
#include "workbench/frame_source.h"

namespace lumet::cli {

namespace {

// Far more frames than any sequence holds; it only bounds the count.
constexpr int kCountLimit = 10000000;

// The frames of one window, decoded once and handed to the stages as frames in memory:
// frame k of the sequence is ring entry k while it is held.
class FrameRing final : public MemoryFrames {
 public:
  explicit FrameRing(int count) : count_(count) {}
  int Count() const override { return count_; }
  int Width(int index) const override { return At(index).Width(); }
  int Height(int index) const override { return At(index).Height(); }
  void Read(int index, ColorGrayImage& image) const override { image = At(index); }
  void ReadChannel(int index, int c, GrayImage& plane) const override {
    plane = At(index).channels[static_cast<size_t>(c)];
  }

  bool Holds(int k) const { return frames_.count(k) != 0; }
  void Put(int k, ColorGrayImage&& image) { frames_[k] = std::move(image); }
  // Drops every frame before first.
  void DropBefore(int first) { frames_.erase(frames_.begin(), frames_.lower_bound(first)); }
  size_t Size() const { return frames_.size(); }

 private:
  const ColorGrayImage& At(int index) const {
    const auto found = frames_.find(index);
    if (found == frames_.end()) throw Error("frame " + std::to_string(index) + " is not in the window being read");
    return found->second;
  }
  int count_;
  std::map<int, ColorGrayImage> frames_;
};

// The input read forward: files of a pattern, or a video decoded from its start once
// (frames not wanted are passed without conversion).
class InputReader {
 public:
  InputReader(std::string input, int startIndex)
      : input_(std::move(input)), start_(startIndex), isVideo_(FrameSource::IsVideoPattern(input_)) {}

  std::string Name(int k) const {
    return isVideo_ ? input_ + " frame " + std::to_string(start_ + k) : FormatFrameName(input_, start_ + k);
  }

  void Decode(int k, ColorGrayImage& image) {
    if (!isVideo_) {
      ReadImageFile(Name(k), image);
      return;
    }
    const int wanted = start_ + k;
    if (!video_ || video_->NextIndex() > wanted) video_ = std::make_unique<VideoFile>(input_);
    while (video_->NextIndex() < wanted) {
      if (!video_->ReadNext(nullptr)) break;
    }
    if (video_->NextIndex() != wanted || !video_->ReadNext(&image)) {
      throw Error("cannot read " + Name(k) + ": the video " + input_ + " ends before it");
    }
  }

 private:
  std::string input_;
  int start_;
  bool isVideo_;
  std::unique_ptr<VideoFile> video_;
};

// The output file's format, from its extension.
ImageFormat OutputFormat(const std::string& output) {
  std::string ext = std::filesystem::path(output).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  try {
    return ParseImageFormat(ext);
  } catch (const Error&) {
    throw Error("output " + QuotedValue(output) + ": the frames are written as .bmp, .png or .tif files");
  }
}

// Gathers the stages' warnings about one output frame.
class FrameObserver final : public Observer {
 public:
  void OnWarning(const Warning& warning) override { warnings.push_back(warning.Text()); }
  std::vector<std::string> warnings;
};

std::string Seconds(double s) { return Format(s < 10 ? "%.2f s" : "%.0f s", s); }

}  // namespace

FrameWindow WindowOf(int k, int radius, int count) {
  return FrameWindow{std::max(0, k - radius), std::min(count - 1, k + radius)};
}

namespace {

// The job's radius and patterns, before anything is read or written.
void CheckVideoJob(const VideoJob& job) {
  if (job.radius < 1) throw Error("--radius " + std::to_string(job.radius) + ": a window needs at least radius 1");
  if (FrameSource::IsVideoPattern(job.output)) {
    throw Error("output " + QuotedValue(job.output) +
                ": writing a video is not supported yet; give a frame pattern such as ./sr/sr-%d.png");
  }
  const std::string outputProblem =
      job.output.find('%') == std::string::npos ? "it needs one integer conversion such as %d for the frame number"
                                                 : LrPatternProblem(job.output);
  if (!outputProblem.empty()) throw Error("output pattern " + QuotedValue(job.output) + ": " + outputProblem);
  if (!FrameSource::IsVideoPattern(job.input)) {
    const std::string problem = LrPatternProblem(job.input);
    if (!problem.empty()) throw Error("input pattern " + QuotedValue(job.input) + ": " + problem);
  }
}

// Decodes the window's frames the ring does not hold yet; the first frame decoded sets the
// size every other must have (and the ROI of a whole-frame job).
void FillWindow(const VideoJob& job, const FrameWindow& window, InputReader& reader, FrameRing& ring, int& width,
                int& height, Settings& settings) {
  ring.DropBefore(window.first);
  for (int j = window.first; j <= window.last; ++j) {
    if (ring.Holds(j)) continue;
    ColorGrayImage image;
    reader.Decode(j, image);
    image.mask.Free();
    if (width == 0) {
      width = image.Width();
      height = image.Height();
      if (job.wholeFrame) settings.roi = Rect{0, 0, width, height};
    } else if (image.Width() != width || image.Height() != height) {
      throw Error(reader.Name(j) + " is " + std::to_string(image.Width()) + " x " + std::to_string(image.Height()) +
                  " pixels, the frames before it " + std::to_string(width) + " x " + std::to_string(height));
    }
    ring.Put(j, std::move(image));
  }
}

}  // namespace

int RunVideoJob(const VideoJob& job, std::FILE* out) {
  CheckVideoJob(job);
  const ImageFormat format = OutputFormat(job.output);
  CheckImageWriter(format, "output " + job.output);
  LockWorkingFolder(".");

  int count = 0;
  {
    FrameSource counter(job.input, job.startIndex, size_t{0});
    count = counter.CountFrames(kCountLimit);
    if (count < 2) {
      throw Error("input " + job.input + ": found " + std::to_string(count) + " frame" + (count == 1 ? "" : "s") +
                  " (no " + counter.Name(count) + "); a window needs at least two frames");
    }
  }
  const int last = job.last < 0 ? count - 1 : job.last;
  if (job.first < 0 || job.first > last || last >= count) {
    throw Error("frames " + std::to_string(job.first) + " .. " + std::to_string(last) +
                " are not within the input's frames 0 .. " + std::to_string(count - 1));
  }

  const auto outputName = [&](int k) { return FormatFrameName(job.output, job.startIndex + k); };
  std::vector<int> todo;
  for (int k = job.first; k <= last; ++k) {
    std::error_code ec;
    if (!std::filesystem::exists(outputName(k), ec)) todo.push_back(k);
  }
  const int total = last - job.first + 1;
  if (!job.quiet && static_cast<int>(todo.size()) < total) {
    std::fprintf(out, "%d of %d frames are there already and are kept\n", total - static_cast<int>(todo.size()),
                 total);
  }
  if (todo.empty()) return 0;

  auto ring = std::make_shared<FrameRing>(count);
  const Sequence sequence = Sequence::FromSource(std::make_shared<Sequence::Source>(
      std::string(), 0, std::shared_ptr<const MemoryFrames>(ring)));
  InputReader reader(job.input, job.startIndex);
  Settings settings = job.settings;
  settings.threads = ThreadCount();
  int width = 0;
  int height = 0;
  const auto clock = std::chrono::steady_clock::now;
  const auto started = clock();
  int done = 0;
  for (const int k : todo) {
    const auto frameStarted = clock();
    const FrameWindow window = WindowOf(k, job.radius, count);
    FillWindow(job, window, reader, *ring, width, height, settings);
    std::vector<int> others;
    for (int j = window.first; j <= window.last; ++j) {
      if (j != k) others.push_back(j);
    }
    FrameObserver observer;
    const Registration registration = Register(sequence, k, others, settings, &observer);
    const Result result = Reconstruct(sequence, registration, k, others, settings, &observer);
    WriteImageFile(outputName(k), ToColorImage(result.estimate), format);
    ++done;
    for (const std::string& w : observer.warnings) {
      std::fprintf(stderr, "Warning: output frame %d: %s\n", k, w.c_str());
    }
    if (!job.quiet) {
      const double took = std::chrono::duration<double>(clock() - frameStarted).count();
      const double mean = std::chrono::duration<double>(clock() - started).count() / done;
      const int left = static_cast<int>(todo.size()) - done;
      std::fprintf(out, "frame %d (%d/%d, frames %d..%d): wrote %s in %s%s\n", k, done,
                   static_cast<int>(todo.size()), window.first, window.last, outputName(k).c_str(),
                   Seconds(took).c_str(), left > 0 ? (", about " + Seconds(mean * left) + " left").c_str() : "");
      std::fflush(out);
    }
  }
  return done;
}

}  // namespace lumet::cli
