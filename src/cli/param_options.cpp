#include "cli/param_options.h"

#include <cstdio>
#include <filesystem>

#include "imageio/bmp_file.h"
#include "params/param_file.h"
#include "util/error.h"

namespace lumet::cli {

namespace {

// Accepts what SetParamFromText can read, a value out of range included (that is a
// refusal with exit 1, not a usage error).
CLI::Validator WellFormed(const ParamDescription& row) {
  // No description: CLI11 would append it to the type name in the help.
  return CLI::Validator(
      [&row](std::string& text) -> std::string {
        ParamSet scratch;
        try {
          const std::string expected = SetParamFromText(row, text, scratch);
          return expected.empty() ? std::string() : "expected " + expected + ", got \"" + text + "\"";
        } catch (const ParamError&) {
          return {};
        }
      },
      "");
}

// The ROI against frame 0 when it can be read. A command needs frame 0 and stops when it
// is missing, saying what layout of files it expects.
void CheckFrameZero(const ParamSet& p, Adoption adoption) {
  std::error_code error;
  if (!std::filesystem::exists(p.referenceFile, error)) {
    if (adoption == Adoption::Params) return;
    throw Error("frame 0 " + p.referenceFile + " does not exist. The frames are the files the LR pattern " +
                p.lrPattern + " names with the frame numbers 0, 1, 2 ... (frame 0 is the reference), relative to "
                "the folder lumet-cli works in (-C DIR). Give the pattern of your frames with --lr-pattern, e.g. "
                "--lr-pattern './frames/f%03d.bmp', or write a synthetic test sequence with lumet-cli synth DIR");
  }
  ColorGrayImage frame;
  try {
    BmpFile::ReadFrame(p.referenceFile, frame);
  } catch (const Error&) {
    if (adoption == Adoption::Params) return;  // the command reports the frame itself
    throw;
  }
  CheckRoiInsideFrame(p.roi, frame.Width(), frame.Height());
}

}  // namespace

void AddParamOptions(CLI::App& command, ParamOverrides& overrides) {
  const char* group = "Parameters (stored in param.txt; one not given keeps its stored value)";
  for (size_t i = 0; i < kParamCount; ++i) {
    const ParamDescription& row = kParams[i];
    const std::string help = std::string(row.help) + "; " + ParamRangeText(row) + " (default " + row.defaultText + ")";
    command.add_option(row.flag, overrides.values[i], help)->type_name(row.typeName)->check(WellFormed(row))->group(group);
  }
}

ParamSet AdoptWithOverrides(const ParamOverrides& overrides, Adoption adoption) {
  ParamSet p = InitParams();
  ParamFileReport report = ReadParamFile(kParamFileName, p);
  if (!report.problem.empty() && adoption == Adoption::Command) throw Error(UnreadableParamFileError(report));
  p.scale = ChosenScale(p.scale);
  for (size_t i = 0; i < kParamCount; ++i) {
    if (!overrides.values[i]) continue;
    SetParamFromText(kParams[i], *overrides.values[i], p);  // well-formed: checked while parsing
    report.lines[i] = {};
  }
  CheckLoadedParams(p, report);
  DeriveNames(p);
  CheckFrameZero(p, adoption);
  if (!report.problem.empty()) {
    KeepUnreadableParamFile(report);
    std::fflush(stdout);
    std::fprintf(stderr, "Warning: %s\n", UnreadableParamFileNotice(report).c_str());
  }
  AdoptParams(p);
  return p;
}

}  // namespace lumet::cli
