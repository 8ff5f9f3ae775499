// register, reconstruct, run.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/headless_port.h"
#include "cli/output_style.h"
#include "cli/param_options.h"
#include "cli/threads_option.h"
#include "imageio/image_file.h"
#include "params/algorithm_options.h"
#include "reconstruction/reconstruction_method.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/input_file.h"
#include "util/memory_limit.h"
#include "workbench/batch.h"
#include "workbench/frame_source.h"
#include "workbench/output_files.h"
#include "workbench/workbench.h"

namespace lumet::cli {

namespace {

enum class Stages { Registration, Reconstruction, Both };

// The files a successful command read (frames, and the homography files a reconstruction
// did not have from a registration of the same command) and wrote, for a batch to tell
// later whether its results are still newer than its inputs. The registration reads
// frames 0 .. N and writes homographies 1 .. N; the reconstruction reads the frames and
// homographies its method asks for (the classic method 0 .. N - 1, the enhanced one 0 .. N).
RunRecord RecordOfRun(const Workbench& bench, Stages stages, const std::vector<std::string>& written) {
  RunRecord record;
  const ParamSet& p = bench.params;
  const int registered = stages == Stages::Reconstruction ? 0 : p.lrCount;
  const int frameCount = stages == Stages::Registration
                             ? p.lrCount + 1
                             : std::max(registered + 1, ReconstructionMethodFor(MethodOf(p)).FrameCount(p.lrCount));
  if (FrameSource::IsVideoPattern(p.lrPattern)) {
    record.read.push_back(p.lrPattern);
  } else {
    for (int k = 0; k < frameCount; ++k) record.read.push_back(FormatFrameName(p.lrPattern, p.startIndex + k));
  }
  for (int k = registered + 1; k < frameCount; ++k) {
    record.read.push_back(FormatFrameName(p.homographyPattern, k));
  }
  record.written = written;
  return record;
}

// What one register, reconstruct or run command was told.
struct PipelineOptions {
  std::string name;
  Stages stages = Stages::Both;
  ParamOverrides overrides;
  std::string snapshots;
  std::string format = "bmp";
  std::string depth = "auto";
  std::string record;
  std::string memoryLimit;
  OutputStyle style = OutputStyle::Normal;
};

// A ROI given once stays in param.txt like every value. So that it is never reused unseen,
// a command given --roi leaves its text in kRoiGivenFile, and a later command not given
// one says so while param.txt still holds that ROI (a ROI set in the window or by hand
// since ends the note).
constexpr const char* kRoiGivenFile = "./.lumet-roi-given";

void NoteRoiFromAnEarlierOption(bool given, const RoiRect& roi, bool say) {
  std::error_code error;
  if (given) {
    WriteFileAtomically(kRoiGivenFile, RoiText(roi) + "\n");
    return;
  }
  if (!std::filesystem::exists(kRoiGivenFile, error)) return;
  std::string recorded;
  try {
    recorded = ReadWholeFile(kRoiGivenFile, 64);
  } catch (const Error&) {
  }
  if (recorded != RoiText(roi) + "\n") {
    std::filesystem::remove(kRoiGivenFile, error);
    return;
  }
  if (say) {
    std::fflush(stdout);
    std::fprintf(stderr, "Note: the ROI %s is the one an earlier --roi stored in param.txt; give --roi to choose another\n",
                 RoiText(roi).c_str());
  }
}

int RunPipeline(const PipelineOptions& o) {
  Workbench bench;
  if (!o.memoryLimit.empty()) bench.memoryLimit = ParseMemorySize(o.memoryLimit);
  bench.resultFormat = ParseImageFormat(o.format);
  bench.resultDepth = ParseResultDepth(o.depth);
  CheckImageWriter(bench.resultFormat, "--format " + o.format);  // before any work
  try {
    ResultSamplesFor(bench.resultFormat, bench.resultDepth, InputDepth::Bits8);
  } catch (const Error& e) {
    throw Error(std::string("--depth ") + o.depth + ": " + e.what());
  }
  const ParamFileRestorer before;
  bench.params = AdoptWithOverrides(o.overrides, Adoption::Command);
  NoteRoiFromAnEarlierOption(o.overrides.values[FindParam("roi")].has_value(), bench.params.roi,
                             o.style != OutputStyle::Quiet);
  bench.carryFrames = o.stages == Stages::Both;  // the reconstruction follows at once
  HeadlessPort port;
  port.ShowLog(o.style == OutputStyle::Normal || o.style == OutputStyle::Verbose);
  if (o.style == OutputStyle::Verbose) std::printf("%s", DescribeParams(bench.params).c_str());
  // Snapshots are written even when the command fails, so the state at the failure
  // can be looked at.
  try {
    // A job the reconstruction would refuse for memory writes no homography file.
    if (o.stages == Stages::Both) bench.CheckReconstructionMemory(port);
    if (o.stages != Stages::Reconstruction) bench.Registration(port);
    if (o.stages != Stages::Registration) bench.Reconstruction(port);
  } catch (...) {
    if (bench.filesWritten.empty()) before.Restore();
    port.FinishProgress();
    if (!o.snapshots.empty()) port.WriteSnapshots(o.snapshots);
    throw;
  }
  port.FinishProgress();
  if (!o.snapshots.empty()) port.WriteSnapshots(o.snapshots);
  std::vector<std::string> written{kParamSavePath};
  written.insert(written.end(), bench.filesWritten.begin(), bench.filesWritten.end());
  std::string summary = SummarizeFiles(written);
  if (!o.snapshots.empty()) summary += ", the viewer pictures in " + o.snapshots;
  if (o.style == OutputStyle::Json) {
    const ReconstructionOutcome* outcome = o.stages == Stages::Registration ? nullptr : &bench.lastOutcome;
    std::printf("%s\n", ResultsJson(o.name, written, outcome).c_str());
  } else if (o.style != OutputStyle::Quiet) {
    std::printf("Wrote %s\n", summary.c_str());
  }
  if (!o.record.empty()) WriteFileAtomically(o.record, FormatRunRecord(RecordOfRun(bench, o.stages, written)));
  return kExitOk;
}

void AddPipelineCommand(CLI::App& app, CommandSlot& slot, const char* name, const char* help, Stages stages) {
  auto o = std::make_shared<PipelineOptions>();
  o->name = name;
  o->stages = stages;
  auto* command = app.add_subcommand(name, help);
  AddParamOptions(*command, o->overrides);
  AddThreadsOption(*command);
  AddOutputStyleOptions(*command, o->style);
  command->add_option("--snapshots", o->snapshots, "write what the two viewers show at the end as BMP files into DIR")
      ->type_name("DIR");
  command
      ->add_option("--record", o->record,
                   "after success, write the files read and written to FILE, one a line (used by lumet-cli batch)")
      ->type_name("FILE");
  command
      ->add_option("--memory-limit", o->memoryLimit,
                   "most memory the reconstruction may take, e.g. 700M or 1.5G (default: three quarters of the "
                   "machine's memory, or of the process's control group limit or SLURM_MEM_PER_NODE when lower); "
                   "a larger job is refused before it starts, naming what it needs")
      ->type_name("SIZE")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            try {
              ParseMemorySize(text);
              return {};
            } catch (const Error& e) {
              return e.what();
            }
          },
          ""));
  if (stages != Stages::Registration) {
    command->footer(
        "The reconstruction logs MAE(k) = e for frames 0..N-1, each frame's mean absolute green difference from "
        "frame 0 on the high-resolution grid, then Threshold(k/N) = v: v is the error at place k = floor(0.9 N) "
        "(counted from 0) of the N errors sorted ascending, and frames are used in order up to the first whose "
        "error is above v. Warnings go to stderr, once per kind, naming the frames they concern.");
    command
        ->add_option("--format", o->format,
                     "file format of the result and first_lr images, for this command only (tiff: 16 bits per "
                     "channel or floats holding the estimate before it is cut to 8 bits; exr: OpenEXR, floats, "
                     "1.0 the nominal white)")
        ->type_name("bmp|png|tiff|exr")
        ->check(CLI::IsMember({"bmp", "png", "tiff", "exr"}))
        ->capture_default_str();
    command
        ->add_option("--depth", o->depth,
                     "samples of the result: 16 bits hold the estimate before it is cut to 8 bits (png or tiff); "
                     "float holds it unquantised, 1.0 the nominal white, HDR values kept (tiff or exr); half "
                     "the same as 16-bit half floats, within 1/2048 of each value, half the size (exr); 8 the "
                     "grey levels (bmp or png); auto: the deepest frame 0's file has that the format holds (png: "
                     "16 from 16-bit or float frames, else 8; tiff: float from float frames, else 16; exr "
                     "float; bmp always 8)")
        ->type_name("auto|8|16|half|float")
        ->check(CLI::IsMember({"auto", "8", "16", "half", "float"}))
        ->capture_default_str();
  }
  command->callback([&slot, command, o] {
    const std::string named = TakeOutputExtension(o->overrides);
    const bool formatGiven = o->stages != Stages::Registration && command->count("--format") > 0;
    if (!named.empty() && formatGiven && named != o->format) {
      throw CLI::ValidationError("--output", "the output names a " + named + " file, --format " + o->format +
                                                 " another format; give one of them");
    }
    if (!named.empty() && o->stages != Stages::Registration) o->format = named;
    slot.run = [o] { return RunPipeline(*o); };
  });
}

}  // namespace

void AddPipelineCommands(CLI::App& app, CommandSlot& slot) {
  AddPipelineCommand(app, slot, "register",
                     "register frames 1..N to frame 0 and write one homography file per frame", Stages::Registration);
  AddPipelineCommand(app, slot, "reconstruct",
                     "reconstruct the high-resolution ROI from frames 0..N-1 and their homography files",
                     Stages::Reconstruction);
  AddPipelineCommand(app, slot, "run", "registration then reconstruction in one process", Stages::Both);
}

}  // namespace lumet::cli
