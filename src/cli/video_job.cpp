#include "cli/video_job.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "imageio/image_file.h"
#include "library/conversions.h"
#include "lumet/video.h"
#include "params/param_set.h"
#include "util/error.h"
#include "util/folder_lock.h"
#include "util/parallel.h"
#include "util/text_format.h"
#include "workbench/frame_source.h"

namespace lumet::cli {

namespace {

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
}

}  // namespace

int RunVideoJob(const VideoJob& job, std::FILE* out) {
  CheckVideoJob(job);
  const ImageFormat format = OutputFormat(job.output);
  CheckImageWriter(format, "output " + job.output);
  LockWorkingFolder(".");

  Settings settings = job.settings;
  settings.threads = ThreadCount();
  VideoSuperResolver clip(job.input, job.startIndex, job.radius, settings, job.wholeFrame);
  const int count = clip.Count();
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

  const auto clock = std::chrono::steady_clock::now;
  const auto started = clock();
  int done = 0;
  for (const int k : todo) {
    const auto frameStarted = clock();
    const FrameWindow window = clip.Window(k);
    FrameObserver observer;
    const Result result = clip.Frame(k, &observer);
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
