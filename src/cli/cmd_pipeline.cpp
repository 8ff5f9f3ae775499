// register, reconstruct, run.
#include <algorithm>
#include <cstdio>
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

void AddPipelineCommand(CLI::App& app, CommandSlot& slot, const char* name, const char* help, Stages stages) {
  auto overrides = std::make_shared<ParamOverrides>();
  auto snapshots = std::make_shared<std::string>();
  auto format = std::make_shared<std::string>("bmp");
  auto record = std::make_shared<std::string>();
  auto memoryLimit = std::make_shared<std::string>();
  auto style = std::make_shared<OutputStyle>(OutputStyle::Normal);
  auto* command = app.add_subcommand(name, help);
  AddParamOptions(*command, *overrides);
  AddThreadsOption(*command);
  AddOutputStyleOptions(*command, *style);
  command->add_option("--snapshots", *snapshots, "write what the two viewers show at the end as BMP files into DIR")
      ->type_name("DIR");
  command
      ->add_option("--record", *record,
                   "after success, write the files read and written to FILE, one a line (used by lumet-cli batch)")
      ->type_name("FILE");
  command
      ->add_option("--memory-limit", *memoryLimit,
                   "most memory the reconstruction may take, e.g. 700M or 1.5G (default: three quarters of the "
                   "machine's memory); a larger job is refused before it starts, naming what it needs")
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
        ->add_option("--format", *format,
                     "file format of the result and first_lr images, for this command only (tiff: 16 bits per "
                     "channel holding the estimate before it is cut to 8 bits)")
        ->type_name("bmp|png|tiff")
        ->check(CLI::IsMember({"bmp", "png", "tiff"}))
        ->capture_default_str();
  }
  command->callback([&slot, command, overrides, snapshots, format, record, memoryLimit, stages, style, name] {
    const std::string named = TakeOutputExtension(*overrides);
    const bool formatGiven = stages != Stages::Registration && command->count("--format") > 0;
    if (!named.empty() && formatGiven && named != *format) {
      throw CLI::ValidationError("--output", "the output names a " + named + " file, --format " + *format +
                                                 " another format; give one of them");
    }
    if (!named.empty() && stages != Stages::Registration) *format = named;
    slot.run = [overrides, snapshots, format, record, memoryLimit, stages, style, name] {
      Workbench bench;
      if (!memoryLimit->empty()) bench.memoryLimit = ParseMemorySize(*memoryLimit);
      bench.resultFormat = ParseImageFormat(*format);
      CheckImageWriter(bench.resultFormat, "--format " + *format);  // before any work
      const ParamFileRestorer before;
      bench.params = AdoptWithOverrides(*overrides, Adoption::Command);
      bench.carryFrames = stages == Stages::Both;  // the reconstruction follows at once
      HeadlessPort port;
      port.ShowLog(*style == OutputStyle::Normal || *style == OutputStyle::Verbose);
      if (*style == OutputStyle::Verbose) std::printf("%s", DescribeParams(bench.params).c_str());
      // Snapshots are written even when the command fails, so the state at the failure
      // can be looked at.
      try {
        // A job the reconstruction would refuse for memory writes no homography file.
        if (stages == Stages::Both) bench.CheckReconstructionMemory(port);
        if (stages != Stages::Reconstruction) bench.Registration(port);
        if (stages != Stages::Registration) bench.Reconstruction(port);
      } catch (...) {
        if (bench.filesWritten.empty()) before.Restore();
        port.FinishProgress();
        if (!snapshots->empty()) port.WriteSnapshots(*snapshots);
        throw;
      }
      port.FinishProgress();
      if (!snapshots->empty()) port.WriteSnapshots(*snapshots);
      std::vector<std::string> written{kParamSavePath};
      written.insert(written.end(), bench.filesWritten.begin(), bench.filesWritten.end());
      std::string summary = SummarizeFiles(written);
      if (!snapshots->empty()) summary += ", the viewer pictures in " + *snapshots;
      if (*style == OutputStyle::Json) {
        std::printf("%s\n", ResultsJson(name, written, stages == Stages::Registration ? nullptr : &bench.lastOutcome).c_str());
      } else if (*style != OutputStyle::Quiet) {
        std::printf("Wrote %s\n", summary.c_str());
      }
      if (!record->empty()) WriteFileAtomically(*record, FormatRunRecord(RecordOfRun(bench, stages, written)));
      return kExitOk;
    };
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
