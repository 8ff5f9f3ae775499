// demo: synthetic sequence, registration, reconstruction and a quality report in one go.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/headless_port.h"
#include "cli/threads_option.h"
#include "evaluation/bicubic_baseline.h"
#include "evaluation/quality.h"
#include "evaluation/registration_error.h"
#include "imageio/bmp_file.h"
#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "reconstruction/reconstruction_method.h"
#include "synth/synth_options.h"
#include "synth/synthetic_sequence.h"
#include "util/error.h"
#include "util/text_format.h"
#include "workbench/workbench.h"

namespace lumet::cli {

namespace {

// Works in a folder for its lifetime and returns to the previous one afterwards.
class FolderChange {
 public:
  explicit FolderChange(const std::string& dir) {
    std::error_code error;
    previous_ = std::filesystem::current_path(error);
    if (::chdir(dir.c_str()) != 0) throw Error("cannot change to folder " + dir + ": " + std::strerror(errno));
  }
  ~FolderChange() {
    if (!previous_.empty() && ::chdir(previous_.c_str()) != 0) {
      // Nothing else is done in the folder afterwards; the process ends.
    }
  }
  FolderChange(const FolderChange&) = delete;
  FolderChange& operator=(const FolderChange&) = delete;

 private:
  std::filesystem::path previous_;
};

// The demo's port: the log lines are not printed; the demo sums each stage up from its values.
class DemoPort : public HeadlessPort {
 public:
  void AppendLog(const std::string&) override {}
};

// "frames 1..30: MAE after the refinement mean 1.23, largest 2.34 (frame 17)".
std::string RegistrationSummary(const std::vector<FrameScores>& scores) {
  if (scores.empty()) return "no frames registered";
  double sum = 0.0;
  const FrameScores* largest = &scores.front();
  for (const FrameScores& s : scores) {
    sum += s.refinement;
    if (s.refinement > largest->refinement) largest = &s;
  }
  return Format("frames %d..%d, MAE after the refinement mean %s, largest %s (frame %d)", scores.front().frame,
                scores.back().frame, FormatG6(sum / static_cast<double>(scores.size())).c_str(),
                FormatG6(largest->refinement).c_str(), largest->frame);
}

// The reconstruction's summary: the frame selection (classic) or the iteration count
// (enhanced), in its log line's words.
std::string ReconstructionSummary(const ReconstructionOutcome& outcome) {
  if (outcome.framesGiven == 0) return "no summary";
  std::string line = OutcomeSummaryLine(outcome);
  if (outcome.selected) line += " (frames are used in order up to the first whose error against frame 0 is above it)";
  return line;
}

class Stopwatch {
 public:
  double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Runs one stage of the pipeline and returns its time, ending the progress line either way.
template <typename Stage>
double TimedStage(DemoPort& port, Stage&& stage) {
  const Stopwatch clock;
  try {
    stage();
  } catch (...) {
    port.FinishProgress();
    throw;
  }
  port.FinishProgress();
  return clock.Seconds();
}

ColorGrayImage ReadImage(const std::string& path) {
  ColorGrayImage image;
  BmpFile::ReadFrame(path, image);
  return image;
}

std::string QualityLine(const char* what, const ColorGrayImage& image, const ColorGrayImage& truth) {
  if (image.Width() != truth.Width() || image.Height() != truth.Height()) {
    return Format("  %-30s size %dx%d differs from the truth", what, image.Width(), image.Height());
  }
  const double psnr = Psnr(image, truth);
  const double ssim = Ssim(image, truth);
  return Format("  %-30s PSNR %7.2f dB   SSIM %.4f", what, psnr, ssim);
}

int RunDemo(const std::string& dir, const std::string& method) {
  // Refused before the sequence is written.
  const ParamDescription& methodRow = ParamRows()[FindParam("method")];
  {
    ParamSet chosen;
    chosen.method = method;
    if (MethodName(MethodOf(chosen)) != method) {
      throw Error("--method " + method + " is not a method (allowed: " + ParamRangeText(methodRow) + ")");
    }
  }
  const SynthOptions options;
  std::printf("Demo in %s\n", dir.c_str());
  std::printf("1. Synthetic sequence: %s scene, %d frames of %dx%d, scale x%d, PSF sigma %s, noise %s, motion %s\n",
              options.scene.c_str(), options.lrCount + 1, options.width, options.height, options.scale,
              FormatG6(options.psfSigma).c_str(), FormatG6(options.noise).c_str(), FormatG6(options.motion).c_str());
  std::fflush(stdout);
  const Stopwatch synthClock;
  WriteSyntheticSequence(dir, options);
  const double synthSeconds = synthClock.Seconds();

  const FolderChange inDir(dir);
  const std::string where = std::filesystem::current_path().string();
  ParamSet params = InitParams();
  LoadParams(kParamFileName, params);
  params.method = method;
  AdoptParams(params);
  Workbench bench;
  bench.params = params;
  bench.carryFrames = true;  // the reconstruction follows at once
  DemoPort port;

  std::printf("2. Registration of frames 1..%d\n", params.lrCount);
  std::fflush(stdout);
  const double registrationSeconds = TimedStage(port, [&] { bench.Registration(port); });
  std::printf("   %s\n", RegistrationSummary(bench.registrationScores).c_str());

  std::printf("3. Reconstruction from frames 0..%d\n",
              ReconstructionMethodFor(MethodOf(params)).FrameCount(params.lrCount) - 1);
  std::fflush(stdout);
  const double reconstructionSeconds = TimedStage(port, [&] { bench.Reconstruction(port); });
  std::printf("   %s\n", ReconstructionSummary(bench.lastOutcome).c_str());

  const SequenceRegistrationError registration = CompareHomographyFiles(
      [](int k) { return SynthTruthHomographyPath(".", k); },
      [&](int k) { return FormatFrameName(params.homographyPattern, k); }, params.lrCount, params.roi);

  const ColorGrayImage truth = ReadImage(SynthTruthImagePath("."));
  const ColorGrayImage result = ReadImage(params.resultFile);
  const ColorGrayImage first = ReadImage(kFirstFramePath);
  const ColorGrayImage bicubic = BicubicEnlarge(ReadImage(params.referenceFile), params.roi, params.scale);
  const std::string bicubicPath = "./result/bicubic.bmp";
  BmpFile::WriteImage(bicubicPath, bicubic, 0, 0, bicubic.Width(), bicubic.Height());

  const int s = static_cast<int>(params.scale);
  std::printf("\nReport\n");
  std::printf("Registration error (ROI centre and corners against the true positions, frames 1..%d):\n",
              params.lrCount);
  std::printf("  mean %.4f LR pixels, largest %.4f LR pixels (frame %d)\n", registration.mean, registration.largest,
              registration.largestFrame);
  std::printf("Quality against the truth (truth/hr.bmp, %dx%d):\n", truth.Width(), truth.Height());
  std::printf("%s\n", QualityLine("reconstruction", result, truth).c_str());
  std::printf("%s\n", QualityLine(Format("frame 0, pixels replicated x%d", s).c_str(), first, truth).c_str());
  std::printf("%s\n", QualityLine(Format("frame 0, bicubic x%d", s).c_str(), bicubic, truth).c_str());
  std::printf("Time: synthesis %.2f s, registration %.2f s, reconstruction %.2f s\n", synthSeconds, registrationSeconds,
              reconstructionSeconds);
  std::printf("Images in %s:\n", where.c_str());
  std::printf("  %-22s the reconstruction\n", params.resultFile.c_str());
  std::printf("  %-22s frame 0, pixels replicated\n", kFirstFramePath);
  std::printf("  %-22s frame 0, bicubic\n", bicubicPath.c_str());
  std::printf("  %-22s the truth\n", "./truth/hr.bmp");
  std::printf("  %-22s the frames 0..%d\n", "./images/lr-k.bmp", params.lrCount);
  return kExitOk;
}

}  // namespace

void AddDemoCommand(CLI::App& app, CommandSlot& slot) {
  auto dir = std::make_shared<std::string>("./lumet-demo");
  auto* command = app.add_subcommand(
      "demo", "write a synthetic sequence into DIR, register and reconstruct it there, and report the quality");
  const ParamDescription& methodRow = ParamRows()[FindParam("method")];
  auto method = std::make_shared<std::string>(methodRow.defaultText);
  command->add_option("DIR", *dir, "folder of the demo (created if missing)")->capture_default_str()->type_name("DIR");
  command->add_option("--method", *method, "registration and reconstruction method")
      ->capture_default_str()
      ->type_name(TypeNameOf(methodRow));
  AddThreadsOption(*command);
  command->callback([&slot, dir, method] {
    slot.run = [dir, method] { return RunDemo(*dir, *method); };
  });
}

}  // namespace lumet::cli
