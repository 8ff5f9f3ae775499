// video: every frame of a clip super-resolved from a window of its neighbours.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/param_options.h"
#include "cli/threads_option.h"
#include "imageio/video_writer.h"
#include "library/video_job.h"
#include "lumet/stages.h"
#include "lumet/video.h"
#include "params/param_description.h"
#include "params/param_set.h"
#include "util/error.h"
#include "util/folder_lock.h"
#include "util/parallel.h"
#include "util/text_format.h"
#include "workbench/batch.h"
#include "workbench/frame_source.h"

namespace lumet::cli {

namespace {

// "X,Y,W,H" in pixels of the input frames.
Rect ParseRect(const std::string& text) {
  int v[4] = {0, 0, 0, 0};
  const char* p = text.data();
  const char* end = text.data() + text.size();
  bool ok = true;
  for (int i = 0; i < 4 && ok; ++i) {
    const auto parsed = std::from_chars(p, end, v[i]);
    ok = parsed.ec == std::errc() && (i == 3 ? parsed.ptr == end : parsed.ptr < end && *parsed.ptr == ',');
    p = parsed.ptr + 1;
  }
  if (!ok) throw CLI::ValidationError("--roi", "must be X,Y,W,H in pixels, e.g. 40,30,80,60 (got \"" + text + "\")");
  return Rect{v[0], v[1], v[2], v[3]};
}

// "N", "N.NNN" or "N/D" frames a second, as a fraction.
void ParseFrameRate(const std::string& text, int& num, int& den) {
  const char* end = text.data() + text.size();
  long long n = 0;
  long long d = 1;
  auto parsed = std::from_chars(text.data(), end, n);
  bool ok = parsed.ec == std::errc() && n >= 0;
  if (ok && parsed.ptr < end && *parsed.ptr == '/') {
    const auto denominator = std::from_chars(parsed.ptr + 1, end, d);
    ok = denominator.ec == std::errc() && denominator.ptr == end && d > 0;
  } else if (ok && parsed.ptr < end && *parsed.ptr == '.') {
    // Decimals as a fraction of a power of ten: 29.97 is 2997/100.
    const char* p = parsed.ptr + 1;
    ok = p < end;
    for (; ok && p < end; ++p) {
      ok = *p >= '0' && *p <= '9' && d < 1000000;
      n = n * 10 + (*p - '0');
      d *= 10;
    }
  } else {
    ok = ok && parsed.ptr == end;
  }
  ok = ok && n > 0 && n <= 1000000 && d <= 1000000 && n / d <= 1000;
  if (!ok) {
    throw CLI::ValidationError("--fps", "must be a frame rate such as 25, 29.97 or 30000/1001 (got \"" + text + "\")");
  }
  num = static_cast<int>(n);
  den = static_cast<int>(d);
}

// What --help says after the options: resume, video output, and splitting a long video.
constexpr const char* kVideoFooter =
    "Output frames that exist already are kept, so a run that was stopped resumes where it stopped: each frame "
    "is written to a temporary file and renamed, so one that exists is complete. Delete an output frame to "
    "make it again.\n\n"
    "A video output (.mkv: lossless FFV1 in Matroska; .mp4: H.264 in MP4, when FFmpeg has the libx264 encoder) "
    "keeps the input video's frame rate and the time of each frame (a frame-pattern input: --fps) and copies its "
    "audio unchanged for the time of the output's frames (--no-audio leaves it out). Each output frame is first "
    "kept as a lossless PNG part in OUTPUT.parts/ (frame-N.png for input frame N); once the parts of every frame "
    "of the run's range are there, the run encodes them into OUTPUT (written under a temporary name and renamed "
    "when complete) and removes them (--keep-parts keeps them). A stopped run resumes from its parts; a video "
    "OUTPUT that exists is kept.\n\n"
    "Frames of more than 8 bits (16-bit PNG or TIFF, float files, 10-, 12- or 16-bit video) give output frames "
    "at depth, the estimate unquantised: .png 16 bits, .tif 16 bits (floats from float frames), .mkv 16-bit "
    "FFV1; .bmp and .mp4 (H.264) hold 8 bits. 8-bit frames give 8-bit output frames.\n\n"
    "To split a long video into jobs: run one job per range of frames with --parts-only and the same options, "
    "e.g. --first 0 --last 999 --parts-only, then --first 1000 --parts-only (one after the other in one "
    "working folder, or at once from other working folders or machines naming the same OUTPUT); then run the "
    "whole range once without --parts-only: "
    "it finds every part there and only encodes.\n\n"
    "--split-every N prints those jobs as a manifest for lumet-cli batch instead of running: one line a range of N "
    "output frames (the same options, with --first A --last B --parts-only), each in its own job folder under "
    "OUTPUT.jobs/, and last the join, the whole range without --parts-only, which the batch runs once the range "
    "jobs succeeded. A frame-pattern OUTPUT needs no join: each range job writes its own frames. E.g.\n"
    "  lumet-cli video clip.mkv sr.mkv --scale 2 --split-every 500 > split.txt\n"
    "  lumet-cli batch split.txt --jobs 4     (or --emit parallel, --emit slurm: see lumet-cli batch --help)";

// The job's report on stdout (none with --quiet), its warnings on stderr.
class Printed final : public VideoJobEvents {
 public:
  explicit Printed(bool quiet) : quiet_(quiet) {}
  void Line(const std::string& line) override {
    if (quiet_) return;
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
  }
  void Warn(int k, const std::string& text) override {
    std::fprintf(stderr, "Warning: output frame %d: %s\n", k, text.c_str());
  }

 private:
  bool quiet_;
};

// The options of the command line as given, for the lines of a split: each option's name and
// value(s) as written, without the positionals and the ones each line sets itself.
std::vector<std::string> SplitLineOptions(const CLI::App& command) {
  std::vector<std::string> words;
  for (const CLI::Option* option : command.get_options()) {
    if (!option->nonpositional() || option->count() == 0) continue;
    const std::string name = option->get_name();
    if (name == "--first" || name == "--last" || name == "--parts-only" || name == "--split-every") continue;
    if (option->get_expected_max() == 0) {
      // A flag, as its value says (--keep-parts=false leaves it out).
      if (option->as<bool>()) words.push_back(name);
      continue;
    }
    for (const std::string& value : option->results()) {
      words.push_back(name);
      words.push_back(value);
    }
  }
  return words;
}

std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(std::filesystem::path(path)).lexically_normal().string();
}

// The manifest of a split job: a line per range of `every` output frames, then (for a video
// output) the join. Folders, INPUT and OUTPUT absolute, so that the manifest can be kept anywhere.
std::string SplitManifest(const VideoJob& job, const VideoFrameRange& range, int every,
                          const std::vector<std::string>& options, int& ranges) {
  const bool video = FrameSource::IsVideoPattern(job.output);
  const std::string input = Absolute(job.input);
  const std::string output = Absolute(job.output);
  const std::string jobs = output + ".jobs";
  for (const std::string& path : {input, output}) {
    if (path.find_first_of("\n\r") != std::string::npos) {
      throw Error(QuotedValue(path) + ": a manifest line cannot hold a name with a line break");
    }
  }
  std::string common = " video " + ManifestWord(input) + " " + ManifestWord(output);
  for (const std::string& word : options) common += " " + ManifestWord(word);
  std::string lines;
  ranges = 0;
  for (long long first = range.first; first <= range.last; first += every, ++ranges) {
    const int last = static_cast<int>(std::min<long long>(range.last, first + every - 1));
    const std::string frames = std::to_string(first) + "-" + std::to_string(last);
    lines += ManifestWord(jobs + "/frames-" + frames) + common + " --first " + std::to_string(first) + " --last " +
             std::to_string(last) + (video ? " --parts-only" : "") + "\n";
  }
  const std::string whole = std::to_string(range.first) + ".." + std::to_string(range.last);
  std::string text = Format("# Lumet video split: output frames %s of %s into %s, as %d range jobs of at most %d frames",
                            whole.c_str(), input.c_str(), output.c_str(), ranges, every);
  if (!video) {
    return text + ".\n# Run it with lumet-cli batch THIS-FILE --jobs N (or --emit parallel, --emit slurm); each range "
                  "job writes its own output frames, so nothing is left to join.\n" + lines;
  }
  text += " and their join.\n# Run it with lumet-cli batch THIS-FILE --jobs N: the range jobs make the frames' parts in " +
          VideoPartsFolder(output) + "/, then the join (the last line) encodes them into " + output +
          ".\n# With --emit parallel or --emit slurm, batch says how the join follows the range jobs.\n";
  text += lines + "# The join: the whole range, encoded from the parts.\n" + ManifestWord(jobs + "/join") + common +
          " --first " + std::to_string(range.first) + " --last " + std::to_string(range.last) + "\n";
  return text;
}

// --psf-check on|off, the enhanced method's alone.
void SetPsfCheck(const std::string& value, Settings& settings) {
  if (settings.method != "enhanced") {
    throw CLI::ValidationError("--psf-check", "applies to --method enhanced (the method is " + settings.method + ")");
  }
  settings.methodParams["psfCheck"] = value == "on" ? 1.0 : 0.0;
}

// The enhanced method's options of a clip: its PSF check and its warm start.
void AddEnhancedOptions(CLI::App& command, std::string& psfCheck, std::string& warmStart) {
  command
      .add_option("--psf-check", psfCheck,
                  "enhanced method: check --psf-sigma once against the clip's first frames and make every frame "
                  "through the PSF they support (default: on)")
      ->check(CLI::IsMember({"on", "off"}))
      ->type_name("on|off");
  command
      .add_option("--warm-start", warmStart,
                  "enhanced method: start each output frame from the previous one's estimate carried onto it (a key "
                  "frame every " + std::to_string(VideoSuperResolver::kWarmKeyEvery) +
                      " frames starts afresh; default: on)")
      ->check(CLI::IsMember({"on", "off"}))
      ->type_name("on|off");
}

// The options of a video output: its rate, quality, audio and parts.
void AddVideoOutputOptions(CLI::App& command, VideoJob& job, std::string& fps) {
  command.add_option("--fps", fps, "frame rate of a frame-pattern input, for a video output (default: 25)")
      ->type_name("RATE");
  command.add_option("--quality", job.quality,
                     "H.264 constant rate factor of a .mp4 output, 0 (best) .. 51 (default: " +
                         std::to_string(VideoWriter::kDefaultQuality) + ")")
      ->check(CLI::Range(0, 51));
  command.add_flag("--no-audio", job.noAudio, "leave out the input video's audio (copied unchanged otherwise)");
  command.add_flag("--keep-parts", job.keepParts, "keep the frames' parts folder OUTPUT.parts/ after encoding");
  command.add_flag("--parts-only", job.partsOnly,
                   "make the parts of the range and stop, without encoding (a range job of a split run)");
}

// The solver's weights a clip may be given, and the field of Settings each sets.
constexpr std::pair<const char*, double Settings::*> kSolverWeights[] = {
    {"alpha", &Settings::alpha}, {"beta", &Settings::beta}, {"lambda", &Settings::lambda}};

// The parameters of `run` that make each output frame and that a clip takes too: the
// solver's weights and the methods' own, but the PSF check, which a clip makes once
// (AddEnhancedOptions). The PSF check's warning names --lambda in its remedy.
std::vector<size_t> SolverRows() {
  std::vector<size_t> rows;
  for (const auto& [name, field] : kSolverWeights) rows.push_back(FindParam(name));
  for (size_t i = 0; i < ParamRows().size(); ++i) {
    if (ParamRows()[i].methodValue && std::string(ParamRows()[i].name) != "psfCheck") rows.push_back(i);
  }
  return rows;
}

// Those parameters as typed, by description row.
struct SolverOptions {
  std::vector<std::optional<std::string>> values = std::vector<std::optional<std::string>>(ParamRows().size());
};

void AddSolverOptions(CLI::App& command, SolverOptions& given) {
  for (const size_t row : SolverRows()) AddParamOption(command, row, given.values[row]);
}

// The method that declares a parameter of its own ("" when none does).
std::string MethodDeclaring(const std::string& name) {
  for (const std::string& method : Methods()) {
    for (const MethodParameter& m : MethodParameters(method)) {
      if (m.name == name) return method;
    }
  }
  return {};
}

// A method's own parameter only with that method (a usage error, as --psf-check's).
void CheckSolverOptionsMethod(const SolverOptions& given, const std::string& method) {
  for (const size_t row : SolverRows()) {
    const ParamDescription& d = ParamRows()[row];
    if (!given.values[row] || !d.methodValue) continue;
    const std::string declaring = MethodDeclaring(d.name);
    if (declaring != method) {
      throw CLI::ValidationError(d.flag, "applies to --method " + declaring + " (the method is " + method + ")");
    }
  }
}

// The values given, checked as `run` checks them (lumet::Error naming the value and its
// range), into the settings.
void ApplySolverOptions(const SolverOptions& given, Settings& settings) {
  ParamSet p = InitParams();
  for (const size_t row : SolverRows()) {
    if (!given.values[row]) continue;
    const ParamDescription& d = ParamRows()[row];
    SetParamFromText(d, *given.values[row], p);  // well-formed: checked while parsing
    if (d.methodValue) settings.methodParams[d.name] = NumberOf(d, p);
    for (const auto& [name, field] : kSolverWeights) {
      if (d.name == std::string(name)) settings.*field = NumberOf(d, p);
    }
  }
  CheckParamValues(p);
}

}  // namespace

void AddVideoCommand(CLI::App& app, CommandSlot& slot) {
  auto job = std::make_shared<VideoJob>();
  auto roi = std::make_shared<std::string>();
  auto quiet = std::make_shared<bool>(false);
  auto scale = std::make_shared<double>(job->settings.scale);
  auto fps = std::make_shared<std::string>();
  auto psfCheck = std::make_shared<std::string>();
  auto warmStart = std::make_shared<std::string>();
  auto splitEvery = std::make_shared<int>(0);
  auto splitOptions = std::make_shared<std::vector<std::string>>();
  auto solverOptions = std::make_shared<SolverOptions>();
  auto* command = app.add_subcommand(
      "video",
      "super-resolve every frame of a clip: output frame k is the ROI of input frame k reconstructed with frame k as "
      "the reference of frames k-R .. k+R");
  command->add_option("INPUT", job->input, "a frame pattern (./images/lr-%d.bmp) or a video file")
      ->required()
      ->type_name("INPUT");
  command->add_option("OUTPUT", job->output,
                      "a frame pattern (./sr/sr-%d.png; .bmp, .png or .tif) or a video: .mkv (lossless FFV1) or "
                      ".mp4 (H.264)")
      ->required()
      ->type_name("OUTPUT");
  command->add_option("--radius", job->radius, "R: frames k-R .. k+R (clipped to the clip) make output frame k")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  command->add_option("--scale", *scale, "2, 3 or 4")->capture_default_str();
  command->add_option("--roi", *roi, "region X,Y,W,H of the input frames (default: the whole frame)")
      ->type_name("X,Y,W,H");
  command->add_option("--method", job->settings.method, "classic or enhanced")->capture_default_str();
  command->add_option("--psf-sigma", job->settings.psfSigma, "the camera's Gaussian blur in LR pixels")
      ->capture_default_str();
  AddSolverOptions(*command, *solverOptions);
  AddEnhancedOptions(*command, *psfCheck, *warmStart);
  command->add_option("--first", job->first, "first output frame (counted from 0)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  command->add_option("--last", job->last, "last output frame (default: the clip's last)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--start-index", job->startIndex, "number of the input's frame 0 (its file number)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  AddVideoOutputOptions(*command, *job, *fps);
  command
      ->add_option("--split-every", *splitEvery,
                   "print, instead of running, a manifest for lumet-cli batch: range jobs of N output frames each "
                   "and their join (see below)")
      ->type_name("N")
      ->check(CLI::Range(1, 100000000));
  command->add_flag("-q,--quiet", *quiet, "print nothing but errors and warnings");
  AddThreadsOption(*command);
  command->footer(kVideoFooter);
  command->callback([&slot, command, job, roi, scale, fps, psfCheck, warmStart, quiet, splitEvery, splitOptions,
                     solverOptions] {
    job->settings.scale = *scale;
    if (!psfCheck->empty()) SetPsfCheck(*psfCheck, job->settings);
    CheckSolverOptionsMethod(*solverOptions, job->settings.method);
    job->warmStart = *warmStart != "off";
    if (!fps->empty()) ParseFrameRate(*fps, job->fpsNum, job->fpsDen);
    job->wholeFrame = roi->empty();
    if (!roi->empty()) job->settings.roi = ParseRect(*roi);
    if (*splitEvery > 0) {
      if (job->partsOnly) {
        throw CLI::ValidationError("--split-every", "gives each range job its --parts-only itself: leave --parts-only out");
      }
      *splitOptions = SplitLineOptions(*command);
      slot.run = [job, splitEvery, splitOptions, solverOptions] {
        ApplySolverOptions(*solverOptions, job->settings);
        const VideoFrameRange range = CheckVideoJobRange(*job);
        int ranges = 0;
        const std::string manifest = SplitManifest(*job, range, *splitEvery, *splitOptions, ranges);
        std::fputs(manifest.c_str(), stdout);
        std::fflush(stdout);
        std::fprintf(stderr, "%d range jobs of at most %d frames%s: save the manifest and run it with lumet-cli batch MANIFEST\n",
                     ranges, *splitEvery, FrameSource::IsVideoPattern(job->output) ? " and their join" : "");
        return kExitOk;
      };
      return;
    }
    slot.run = [job, quiet, solverOptions] {
      ApplySolverOptions(*solverOptions, job->settings);
      Printed printed(*quiet);
      job->settings.threads = ThreadCount();
      LockWorkingFolder(".");
      RunVideoJob(*job, printed);
      return kExitOk;
    };
  });
}

}  // namespace lumet::cli
