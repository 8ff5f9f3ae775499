#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

#include "params/param_description.h"
#include "params/param_set.h"

namespace lumet::cli {

// The parameter options a command was given, as typed, by description row.
struct ParamOverrides {
  std::vector<std::optional<std::string>> values = std::vector<std::optional<std::string>>(ParamRows().size());
};

// One option per parameter description row, in one "Parameters" group, each showing its
// type, range and default once. A malformed value (not a number, wrong shape) is a usage
// error (exit 2); ranges are checked by AdoptWithOverrides (exit 1).
void AddParamOptions(CLI::App& command, ParamOverrides& overrides);

// The option of one description row alone (ParamRows()[row]), as AddParamOptions makes it:
// for a command that takes a few of the parameters without param.txt.
CLI::Option* AddParamOption(CLI::App& command, size_t row, std::optional<std::string>& value);

// An output named with an image extension ("-o out/hr.png") names the result file itself:
// the extension is taken off the output base and returned as the format ("png"; "tif" and
// "tiff" give "tiff"); "" when the output names a base as before ("./result/hr",
// "./result/hr.v2").
std::string TakeOutputExtension(ParamOverrides& overrides);

enum class Adoption {
  Params,   // `params`: an unreadable param.txt is reported, kept as param.txt.bad and replaced
  Command,  // a command that reads frames: an unreadable param.txt or a missing frame 0 stops it
};

// Loads "param.txt" of the current folder onto the Init params values, applies the
// overrides, checks the values (a stored one named by its line) and the ROI against
// frame 0 when it can be read, and only then adopts the result (rewriting "./param.txt").
// A refused value leaves param.txt as it was.
ParamSet AdoptWithOverrides(const ParamOverrides& overrides, Adoption adoption);

// For a command that replaces param.txt whatever it holds (init-params): a file that cannot
// be read in full is kept as param.txt.bad first, with a warning, as `params` does.
void KeepParamFileIfUnreadable();

// param.txt as it was before a command adopted its parameters. A command that then fails
// before writing anything else (its frame checks refused the parameters) puts it back, so
// that a count or pattern the frames do not bear is not what the next command starts from.
class ParamFileRestorer {
 public:
  ParamFileRestorer();
  // Puts the old content back (or removes a file that was not there); quiet on failure, as
  // the command is already failing with its own message.
  void Restore() const;

 private:
  bool known_ = false;   // the old state could be read
  bool existed_ = false;
  std::string content_;
};

}  // namespace lumet::cli
