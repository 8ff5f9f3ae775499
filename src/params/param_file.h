#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "params/param_set.h"

namespace lumet {

// What reading a parameter file found.
struct ParamFileReport {
  std::string path;
  bool found = false;  // the file exists and could be opened
  int valuesRead = 0;  // of the 17 values of lines 1 to 17
  // The line each stored part of each row was read from (ROI: left, top, right, bottom;
  // RANSAC: sample, pool); 0 when it was not taken from the file.
  // One entry per row of ParamRows() when read.
  std::vector<std::array<int, 4>> lines = std::vector<std::array<int, 4>>(ParamRows().size());
  // Empty when everything was read; otherwise the first thing that could not be, e.g.
  // "param.txt line 12 (lambda): \"1e999\" cannot be read as a number".
  std::string problem;
  // The rows that kept the values they had before reading because of the problem.
  std::vector<size_t> reset;
};

// Reads a parameter file into params. Lines 1 to 17 hold the 17 values of the rows with a
// line, one white-space-delimited word each (blanks, tabs and line ends of any kind
// separate them). Every further line is "name value" for a row stored after line 17. From
// the first word that cannot be read on, nothing more is taken and the remaining values
// keep what params held (callers start from InitParams()). A missing file reads nothing
// and is no problem. Something at path that is not a regular file (a folder, a FIFO, a
// device), one that cannot be opened, or one larger than kMaxParamFileBytes is a
// lumet::Error naming it.
ParamFileReport ReadParamFile(const std::string& path, ParamSet& params);

// Largest parameter file read: 17 values (two texts of at most kMaxTextValueLength
// characters) and the later "name value" lines take a few kilobytes; the rest is room
// for white space.
inline constexpr size_t kMaxParamFileBytes = 64 * 1024;

// ReadParamFile's count of values read (0 when the file is missing).
int LoadParams(const std::string& path, ParamSet& params);

// The exact text of the parameter file: the 17 values one per line, then one "name value"
// line per later row whose value is not its default; every line but the last ends in "\n".
// A file of default later values is thus the 17-line file readers of 17 values expect.
std::string FormatParamFile(const ParamSet& params);

// Writes the parameter file through the atomic writer. Throws lumet::Error on failure.
void SaveParams(const std::string& path, const ParamSet& params);

// CheckParams, with a value that came from the file named by its line:
// "param.txt line 16: SAD size -2147483648 is out of range (allowed: 0 to 1000)".
void CheckLoadedParams(const ParamSet& params, const ParamFileReport& report);

// The set a front end starts a command (or the window) from, and what loading it found.
struct LoadedParams {
  ParamSet values;
  ParamFileReport report;     // report.problem: the file could not be read in full
  std::exception_ptr refusal;  // what CheckLoadedParams refused (a ParamError), or null
};

// The one way both front ends load the parameters: param.txt of the current folder read onto
// the Init params values, the stored scale chosen as x3 or x4 (the choice both offer), then
// `edit` (the command line's options; may throw to stop), then CheckLoadedParams, whose
// refusal is kept in `refusal` so that the window can still show the values for correction.
// A path that cannot be read at all throws lumet::Error. Adopting the result stays the
// caller's step (AdoptParams), after its own checks.
LoadedParams LoadForCommand(const std::function<void(ParamSet&, ParamFileReport&)>& edit = {});

// For a report with a problem. The words of a front end that adopts the file anyway: the
// problem, the values reset to their standard values, and that the old file is kept as
// path + ".bad" (KeepUnreadableParamFile writes that copy).
std::string UnreadableParamFileNotice(const ParamFileReport& report);
void KeepUnreadableParamFile(const ParamFileReport& report);
// The words of a command that refuses to run on it and changes nothing.
std::string UnreadableParamFileError(const ParamFileReport& report);

// Adoption of a parameter set: CheckParams, derives the names, sets firstFrame to 1, makes
// this process the one writer of savePath's folder (LockWorkingFolder) and rewrites savePath
// ("./param.txt"). Throws lumet::Error when a value is refused, another process writes in
// the folder or the file cannot be written; params is then unchanged.
void AdoptParams(ParamSet& params, const std::string& savePath = kParamSavePath);

}  // namespace lumet
