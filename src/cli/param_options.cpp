#include "cli/param_options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "params/param_file.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/input_file.h"
#include "workbench/frame_source.h"

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
    const FrameSource source(p.lrPattern, p.startIndex);
    if (source.FirstNumberPresent() >= 0) throw Error("frame 0 " + p.referenceFile + " does not exist" + source.StartIndexHint());
    throw Error("frame 0 " + p.referenceFile + " does not exist. The frames are the files the LR pattern " +
                p.lrPattern + " names with the frame numbers 0, 1, 2 ... (frame 0 is the reference), relative to "
                "the folder lumet-cli works in (-C DIR). Give the pattern of your frames with --lr-pattern, e.g. "
                "--lr-pattern './frames/f%03d.bmp', or write a synthetic test sequence with lumet-cli synth DIR");
  }
  ColorGrayImage frame;
  try {
    FrameSource(p.lrPattern, p.startIndex).Read(0, frame);
  } catch (const Error&) {
    if (adoption == Adoption::Params) return;  // the command reports the frame itself
    throw;
  }
  CheckRoiFitsFrame(p.roi, frame.Width(), frame.Height());
}

// The LR count may be given as "auto" on the command line: the frames found from the
// start index, minus one. Only the number it stands for is stored.
constexpr const char* kAutoCount = "auto";

bool IsAutoCount(size_t row, const std::optional<std::string>& value) {
  return row == FindParam("lrCount") && value && *value == kAutoCount;
}

CLI::Validator WellFormedOrAuto(const ParamDescription& row) {
  const CLI::Validator wellFormed = WellFormed(row);
  return CLI::Validator(
      [wellFormed](std::string& text) -> std::string {
        if (text == kAutoCount) return {};
        std::string copy = text;
        return wellFormed(copy);
      },
      "");
}

// A row's help: what it means, its range and its default.
std::string RowHelp(const ParamDescription& row) {
  return std::string(row.help) + "; " + ParamRangeText(row) + " (default " + row.defaultText + ")";
}

}  // namespace

void AddParamOptions(CLI::App& command, ParamOverrides& overrides) {
  const char* group = "Parameters (stored in param.txt; one not given keeps its stored value)";
  const size_t countRow = FindParam("lrCount");
  for (size_t i = 0; i < ParamRows().size(); ++i) {
    const ParamDescription& row = ParamRows()[i];
    if (i == countRow) {
      const std::string help = RowHelp(row) + "; auto: the frames found from the start index, minus one";
      command.add_option(row.flag, overrides.values[i], help)
          ->type_name(TypeNameOf(row) + "|auto")
          ->check(WellFormedOrAuto(row))
          ->group(group);
      continue;
    }
    AddParamOption(command, i, overrides.values[i])->group(group);
  }
}

CLI::Option* AddParamOption(CLI::App& command, size_t rowIndex, std::optional<std::string>& value) {
  const ParamDescription& row = ParamRows()[rowIndex];
  const std::string help = RowHelp(row);
  // -o, as image tools name their output.
  const std::string names = std::string(row.flag) == "--output" ? "-o,--output" : row.flag;
  return command.add_option(names, value, help)->type_name(TypeNameOf(row))->check(WellFormed(row));
}

std::string TakeOutputExtension(ParamOverrides& overrides) {
  std::optional<std::string>& output = overrides.values[FindParam("outputBase")];
  if (!output) return {};
  const std::string::size_type dot = output->rfind('.');
  const std::string::size_type slash = output->rfind('/');
  if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot <= slash + 1)) return {};
  std::string extension = output->substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "tif") extension = "tiff";
  if (extension != "bmp" && extension != "png" && extension != "tiff" && extension != "exr") return {};
  output->erase(dot);
  return extension;
}

ParamSet AdoptWithOverrides(const ParamOverrides& overrides, Adoption adoption) {
  LoadedParams loaded = LoadForCommand([&](ParamSet& p, ParamFileReport& report) {
    if (!report.problem.empty() && adoption == Adoption::Command) throw Error(UnreadableParamFileError(report));
    bool autoCount = false;
    for (size_t i = 0; i < ParamRows().size(); ++i) {
      if (!overrides.values[i]) continue;
      report.lines[i] = {};
      if (IsAutoCount(i, overrides.values[i])) {
        autoCount = true;
        continue;
      }
      SetParamFromText(ParamRows()[i], *overrides.values[i], p);  // well-formed: checked while parsing
    }
    // Counted once the pattern and the start index are known; a pattern that cannot be used
    // is refused by the checks below instead.
    if (autoCount && LrPatternProblem(p.lrPattern).empty()) p.lrCount = std::min(AutoLrCount(p), kMaxLrCount);
  });
  if (loaded.refusal) std::rethrow_exception(loaded.refusal);
  ParamSet& p = loaded.values;
  const ParamFileReport& report = loaded.report;
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

void KeepParamFileIfUnreadable() {
  ParamSet scratch = InitParams();
  const ParamFileReport report = ReadParamFile(kParamFileName, scratch);
  if (report.problem.empty()) return;
  KeepUnreadableParamFile(report);
  std::fflush(stdout);
  std::fprintf(stderr, "Warning: %s\n", UnreadableParamFileNotice(report).c_str());
}

ParamFileRestorer::ParamFileRestorer() {
  try {
    std::error_code error;
    existed_ = std::filesystem::exists(kParamSavePath, error);
    if (error) return;
    if (existed_) content_ = ReadWholeFile(kParamSavePath, kMaxParamFileBytes);
    known_ = true;
  } catch (const Error&) {
    // The adoption reports a file it cannot read; there is nothing to put back then.
  }
}

void ParamFileRestorer::Restore() const {
  if (!known_) return;
  try {
    if (existed_) {
      WriteFileAtomically(kParamSavePath, content_);
    } else {
      std::error_code error;
      std::filesystem::remove(kParamSavePath, error);
    }
  } catch (const Error&) {
  }
}

}  // namespace lumet::cli
