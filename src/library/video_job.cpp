#include "library/video_job.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "imageio/image_file.h"
#include "imageio/video_file.h"
#include "imageio/video_writer.h"
#include "library/conversions.h"
#include "library/sequence_source.h"
#include "lumet/video.h"
#include "params/param_set.h"
#include "util/error.h"
#include "util/text_format.h"
#include "workbench/frame_source.h"

namespace lumet {

namespace {

// The output file's format, from its extension.
ImageFormat OutputFormat(const std::string& output) {
  std::string ext = std::filesystem::path(output).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  // The frames are cut to 8 bits.
  const std::optional<ImageFormat> format = FrameFileFormat(ext);
  if (!format) throw Error("output " + QuotedValue(output) + ": the frames are written as .bmp, .png or .tif files");
  return *format;
}

// Gathers the stages' warnings about one output frame, and asks the job's caller whether to stop.
class FrameObserver final : public Observer {
 public:
  explicit FrameObserver(VideoJobEvents& events) : events_(events) {}
  void OnWarning(const Warning& warning) override { warnings.push_back(warning.Text()); }
  // Of the engine's log, the report holds what the clip's PSF check tried.
  void OnLog(const std::string& line) override {
    if (line.rfind("PSF = ", 0) != 0) return;
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    events_.Line(text);
  }
  bool CancelRequested() override { return events_.CancelRequested(); }
  std::vector<std::string> warnings;

 private:
  VideoJobEvents& events_;
};

// The depth of the clip's samples, from its first frame: deeper frames give deeper results.
InputDepth ClipDepth(const VideoJob& job) {
  const Sequence clip = Sequence::FromPattern(job.input, job.startIndex);
  ColorGrayImage first;
  clip.source()->ReadChecked(0, first);
  return InputDepthOf(first);
}

// Writes output frame (or part) `path` in format: from 8-bit frames as the 8-bit result,
// from deeper ones at the depth the format holds (PNG 16 bits, TIFF 16 bits or floats for
// floating-point frames), the estimate unquantised.
void WriteOutputFrame(const std::string& path, const Estimate& estimate, ImageFormat format, InputDepth depth) {
  const ResultSamples samples =
      depth == InputDepth::Bits8 ? ResultSamples::Bits8 : ResultSamplesFor(format, ResultDepth::Auto, depth);
  switch (samples) {
    case ResultSamples::Bits8: WriteImageFile(path, ToColorImage(estimate), format); break;
    case ResultSamples::Bits16: WriteEstimate16Bit(path, ToDoubleImage(estimate), format); break;
    case ResultSamples::Float: WriteEstimateFloat(path, ToDoubleImage(estimate), format); break;
    case ResultSamples::Half: WriteEstimateHalf(path, ToDoubleImage(estimate), format); break;
  }
}

std::string Seconds(double s) { return Format(s < 10 ? "%.2f s" : "%.0f s", s); }

bool IsVideoOutput(const VideoJob& job) { return FrameSource::IsVideoPattern(job.output); }

std::string PartName(const VideoJob& job, int k) {
  return (std::filesystem::path(VideoPartsFolder(job.output)) / ("frame-" + std::to_string(job.startIndex + k) + ".png"))
      .string();
}

std::string LowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// The audio a video output copies: the input video's, unless it is left out.
std::string AudioSource(const VideoJob& job) {
  return FrameSource::IsVideoPattern(job.input) && !job.noAudio ? job.input : std::string();
}

// The clock of the output frames first .. last and the time of each (and of the end of the
// last): a video input's own, read from it (its frames are decoded, not converted); a
// frame pattern's frame k at k frames of --fps.
struct OutputTimes {
  VideoTiming timing;
  std::vector<int64_t> pts;  // of frames first .. last + 1 (the end of the last)
};

OutputTimes TimesOf(const VideoJob& job, int first, int last) {
  OutputTimes times;
  if (!FrameSource::IsVideoPattern(job.input)) {
    const int num = job.fpsNum > 0 ? job.fpsNum : 25;
    const int den = job.fpsNum > 0 ? job.fpsDen : 1;
    times.timing = VideoTiming{den, num, num, den};
    for (int k = first; k <= last + 1; ++k) times.pts.push_back(k);
    return times;
  }
  VideoFile video(job.input);
  times.timing = video.Timing();
  const VideoTiming& t = times.timing;
  // One frame's duration in the time base; 25 frames a second when the stream gives no rate.
  const long long rateNum = t.frameRateNum > 0 ? t.frameRateNum : 25;
  const long long rateDen = t.frameRateNum > 0 ? t.frameRateDen : 1;
  const int64_t duration = std::max<int64_t>(
      1, (static_cast<long long>(t.timeBaseDen) * rateDen + static_cast<long long>(t.timeBaseNum) * rateNum / 2) /
             (static_cast<long long>(t.timeBaseNum) * rateNum));
  const int end = job.startIndex + last + 1;
  int64_t previous = codec::kNoTime;
  while (video.NextIndex() <= end && video.ReadNext(nullptr)) {
    const int i = video.NextIndex() - 1;
    // A frame without a time follows the one before it.
    int64_t pts = video.Pts();
    if (pts == codec::kNoTime) pts = previous == codec::kNoTime ? 0 : previous + duration;
    previous = pts;
    if (i >= job.startIndex + first) times.pts.push_back(pts);
  }
  if (static_cast<int>(times.pts.size()) < last - first + 1) {
    throw Error("cannot read " + job.input + " frame " + std::to_string(job.startIndex + last) +
                ": the video ends before it");
  }
  if (static_cast<int>(times.pts.size()) == last - first + 1) times.pts.push_back(times.pts.back() + duration);
  return times;
}

// Encodes the parts of frames first .. last into the video output, then removes them (and
// their folder, when nothing else is left in it) unless they are to be kept.
void EncodeVideoOutput(const VideoJob& job, int first, int last, int count, VideoJobEvents& events) {
  const std::string parts = VideoPartsFolder(job.output);
  if (job.partsOnly) {
    events.Line(Format("the parts of frames %d..%d are in %s; a run without --parts-only encodes %s", first, last,
                       parts.c_str(), job.output.c_str()));
    return;
  }
  const auto started = std::chrono::steady_clock::now();
  const OutputTimes times = TimesOf(job, first, last);
  VideoWriter::Options options;
  if (job.quality >= 0) options.quality = job.quality;
  options.audioSource = AudioSource(job);
  options.audioFrom = times.pts.front();
  options.audioTo = times.pts.back();
  const std::string audio = options.audioSource.empty() ? std::string() : VideoWriter::Check(job.output, options.audioSource);
  if (audio.empty()) options.audioSource.clear();
  std::unique_ptr<VideoWriter> writer;
  int width = 0;
  int height = 0;
  for (int k = first; k <= last; ++k) {
    ColorGrayImage image;
    ReadImageFile(PartName(job, k), image);
    if (!writer) {
      width = image.Width();
      height = image.Height();
      // Parts from deeper frames are 16-bit: FFV1 keeps them, H.264 holds 8 bits.
      if (image.deep != nullptr && LowerExtension(job.output) == ".mkv") options.bitsPerSample = 16;
      writer = std::make_unique<VideoWriter>(job.output, width, height, times.timing, options);
    } else if (image.Width() != width || image.Height() != height) {
      throw Error("part " + PartName(job, k) + " is " + std::to_string(image.Width()) + " x " +
                  std::to_string(image.Height()) + " pixels, the parts before it " + std::to_string(width) + " x " +
                  std::to_string(height) + " (were its frames made with other options?)");
    }
    writer->Write(image, times.pts[static_cast<size_t>(k - first)]);
    if (events.CancelRequested()) throw Cancelled();
  }
  writer->Finish();
  if (!job.keepParts) {
    std::error_code ec;
    if (first == 0 && last == count - 1) {
      std::filesystem::remove_all(parts, ec);
    } else {
      // Other ranges' parts stay: only this range's go, and the folder once it is empty.
      for (int k = first; k <= last; ++k) std::filesystem::remove(PartName(job, k), ec);
      std::filesystem::remove(parts, ec);
    }
  }
  const int frames = last - first + 1;
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const bool h264 = LowerExtension(job.output) == ".mp4";
  const std::string kind = h264 ? "H.264 at quality " + std::to_string(options.quality)
                                : options.bitsPerSample == 16 ? std::string("lossless FFV1, 16 bits a sample")
                                                              : std::string("lossless FFV1");
  events.Line(Format("encoded %s: %d frames of %d x %d, %s%s in %s (%s a frame)", job.output.c_str(), frames, width,
                     height, kind.c_str(),
                     audio.empty() ? "" : (", audio (" + audio + ") copied").c_str(), Seconds(took).c_str(),
                     Seconds(took / frames).c_str()));
}

// The job's radius and patterns, before anything is read or written.
void CheckVideoJob(const VideoJob& job) {
  if (job.radius < 1) throw Error("--radius " + std::to_string(job.radius) + ": a window needs at least radius 1");
  if (IsVideoOutput(job)) {
    if (job.quality >= 0 && LowerExtension(job.output) != ".mp4") {
      throw Error("--quality " + std::to_string(job.quality) + ": it sets the H.264 quality of a .mp4 output; " +
                  job.output + " is lossless");
    }
    if (job.fpsNum > 0 && FrameSource::IsVideoPattern(job.input)) {
      throw Error("--fps: it is the frame rate of a frame-pattern input; the video " + job.input +
                  " keeps its own frame rate and times");
    }
    VideoWriter::Check(job.output, AudioSource(job));
    return;
  }
  if (job.fpsNum > 0 || job.quality >= 0 || job.noAudio || job.keepParts || job.partsOnly) {
    throw Error("output " + QuotedValue(job.output) +
                ": --fps, --quality, --no-audio, --keep-parts and --parts-only apply to a video output (.mkv, .mp4)");
  }
  const std::string outputProblem =
      job.output.find('%') == std::string::npos ? "it needs one integer conversion such as %d for the frame number"
                                                 : LrPatternProblem(job.output);
  if (!outputProblem.empty()) throw Error("output pattern " + QuotedValue(job.output) + ": " + outputProblem);
}

// The last output frame of the job's range, checked against the clip's count frames.
int LastOfRange(const VideoJob& job, int count) {
  const int last = job.last < 0 ? count - 1 : job.last;
  if (job.last >= 0 && job.first > job.last) {
    throw Error("--first " + std::to_string(job.first) + " comes after --last " + std::to_string(job.last) +
                ": the range of output frames is empty");
  }
  const auto outside = [count](const char* option, int frame, const char* where) {
    return Error(std::string(option) + " " + std::to_string(frame) + where + " (" + std::to_string(count) +
                 " frames, 0 .. " + std::to_string(count - 1) + ")");
  };
  const std::string past = " is past the input's last frame " + std::to_string(count - 1);
  if (job.first >= count) throw outside("--first", job.first, past.c_str());
  if (last >= count) throw outside("--last", last, past.c_str());
  if (job.first < 0) throw outside("--first", job.first, " is before the input's frame 0");
  return last;
}

}  // namespace

VideoFrameRange CheckVideoJobRange(const VideoJob& job) {
  CheckVideoJob(job);
  CheckImageWriter(IsVideoOutput(job) ? ImageFormat::Png : OutputFormat(job.output), "output " + job.output);
  const VideoSuperResolver clip(job.input, job.startIndex, job.radius, job.settings, job.wholeFrame);
  return VideoFrameRange{job.first, LastOfRange(job, clip.Count())};
}

std::string VideoPartsFolder(const std::string& output) { return output + ".parts"; }

int RunVideoJob(const VideoJob& job, VideoJobEvents& events) {
  CheckVideoJob(job);
  // A video output's frames are kept first as lossless parts.
  const bool videoOutput = IsVideoOutput(job);
  const ImageFormat format = videoOutput ? ImageFormat::Png : OutputFormat(job.output);
  CheckImageWriter(format, "output " + job.output);
  VideoSuperResolver clip(job.input, job.startIndex, job.radius, job.settings, job.wholeFrame);
  clip.SetWarmStart(job.warmStart);
  const int count = clip.Count();
  const int last = LastOfRange(job, count);
  const InputDepth depth = ClipDepth(job);

  if (videoOutput) {
    std::error_code ec;
    if (std::filesystem::exists(job.output, ec)) {
      events.Line(job.output + " is there already and is kept");
      return 0;
    }
  }
  const auto outputName = [&](int k) {
    return videoOutput ? PartName(job, k) : FormatFrameName(job.output, job.startIndex + k);
  };
  std::vector<int> todo;
  for (int k = job.first; k <= last; ++k) {
    std::error_code ec;
    if (!std::filesystem::exists(outputName(k), ec)) todo.push_back(k);
  }
  const int total = last - job.first + 1;
  if (static_cast<int>(todo.size()) < total) {
    events.Line(Format("%d of %d frames are there already and are kept%s", total - static_cast<int>(todo.size()),
                       total, videoOutput ? (" (in " + VideoPartsFolder(job.output) + ")").c_str() : ""));
  }
  if (todo.empty()) {
    if (videoOutput) EncodeVideoOutput(job, job.first, last, count, events);
    return 0;
  }
  if (videoOutput) {
    // Before any frame is made: the folder the parts and the video go in can be written.
    const std::string parts = VideoPartsFolder(job.output);
    std::error_code ec;
    std::filesystem::create_directories(parts, ec);
    if (ec) throw Error("cannot create folder " + parts + " for the parts of " + job.output + ": " + ec.message());
  }

  const auto clock = std::chrono::steady_clock::now;
  const auto started = clock();
  int done = 0;
  for (const int k : todo) {
    const auto frameStarted = clock();
    const FrameWindow window = clip.Window(k);
    if (events.CancelRequested()) throw Cancelled();
    FrameObserver observer(events);
    const Result result = clip.Frame(k, &observer);
    WriteOutputFrame(outputName(k), result.estimate, format, depth);
    ++done;
    for (const std::string& w : observer.warnings) events.Warn(k, w);
    const double took = std::chrono::duration<double>(clock() - frameStarted).count();
    const double mean = std::chrono::duration<double>(clock() - started).count() / done;
    const int left = static_cast<int>(todo.size()) - done;
    events.Line(Format("frame %d (%d/%d, frames %d..%d): wrote %s in %s%s", k, done, static_cast<int>(todo.size()),
                       window.first, window.last, outputName(k).c_str(), Seconds(took).c_str(),
                       left > 0 ? (", about " + Seconds(mean * left) + " left").c_str() : ""));
    events.Progress(done, static_cast<int>(todo.size()));
  }
  if (videoOutput) EncodeVideoOutput(job, job.first, last, count, events);
  return done;
}

}  // namespace lumet
