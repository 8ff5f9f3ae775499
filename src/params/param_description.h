#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "params/param_set.h"
#include "util/error.h"

namespace lumet {

// How a parameter is typed, stored and checked.
enum class ParamKind {
  Text,    // one word (file name patterns)
  Int,     // one whole number
  Double,  // one finite number
  Scale,   // 2, 3 or 4, stored as a number
  Roi,     // typed x,y,w,h; stored as left, top, right, bottom on four lines
  Ransac,  // typed U/N (sample size / pool size); stored on two lines
  Choice,  // one word of a fixed list
};

// One parameter as every part of the system sees it. The command-line options, the
// printed set, the dialog's fields, the parameter file and the checks are all made by
// loops over ParamRows(); a new common parameter is one more row (stored after line 17
// when its `line` is 0), a method's own one a MethodParam the method declares.
struct ParamDescription {
  const char* name;         // name in the printed set and in "name value" lines: "psfSigma"
  const char* flag;         // command-line option: "--psf-sigma"
  const char* label;        // how every message names it: "PSF sigma"
  ParamKind kind;
  const char* typeName;     // the shape of the value in the help: "FLOAT", "X,Y,W,H" (TypeNameOf)
  const char* help;         // what it means
  const char* defaultText;  // the Init params value, as typed on the command line
  int line;                 // first line in param.txt; 0: a "name value" line after line 17
  // Int: each component lies in [minimum, maximum]. Double: in [minimum, maximum], the lower
  // end excluded when minimumExcluded (an unbounded side is +-infinity).
  double minimum = 0.0;
  double maximum = 0.0;
  bool minimumExcluded = false;
  // Where the value lives in ParamSet (one of them, two ints for Ransac).
  std::string ParamSet::*text = nullptr;
  int32_t ParamSet::*integer = nullptr;
  int32_t ParamSet::*integer2 = nullptr;
  double ParamSet::*real = nullptr;
  RoiRect ParamSet::*roi = nullptr;
  std::string (*textProblem)(const std::string&) = nullptr;  // Text: "" when usable
  std::string (*choices)() = nullptr;                          // Choice: "classic|enhanced"
  // Int or Double declared by a method: the value is ParamSet::methodValues[name].
  bool methodValue = false;
  // Int 0 or 1 typed, printed and stored as "off" or "on" (MethodParam::onOff).
  bool onOff = false;
};

// Bounds that keep every product and sum the engine forms inside int:
// - a frame is at most kMaxFrameSide pixels each way, so a ROI inside one has x, y below it
//   and w, h up to it; right and bottom stay below 2^16, the HR grid below 2^18 pixels each
//   way at scale 4, and areas are formed in 64 bits;
// - lrCount frames after startIndex: startIndex + lrCount < 2^31.
// The algorithms' own limits (SAD size, RANSAC sizes, filter and PSF sigma) are their
// options' (RegistrationOptions, ReconstructionOptions).
inline constexpr int kMaxFrameSide = 32768;
inline constexpr int kMaxLrCount = 100000;
inline constexpr int kMaxStartIndex = 999999999;

// Every parameter: the common ones, then each registered method's own (those several
// methods declare alike once), in the order the methods were registered. Rows are only
// ever added (when a method registers), so a reference to one stays valid. Throws
// lumet::Error when a method declares a name the common rows use.
const std::vector<ParamDescription>& ParamRows();

// The row of a name ("psfSigma"), or ParamRows().size().
size_t FindParam(const std::string& name);

// The value of an Int or Double row, and setting it.
double NumberOf(const ParamDescription& row, const ParamSet& params);
void SetNumber(const ParamDescription& row, double value, ParamSet& params);

// A value refused by CheckParams (or by SetParamFromText when it cannot even be stored):
// which row and which of its stored lines (0 .. 3 for the ROI's left, top, right, bottom;
// 0 .. 1 for the RANSAC pair) it is about.
class ParamError : public Error {
 public:
  ParamError(size_t row, int part, const std::string& message) : Error(message), row_(row), part_(part) {}
  size_t Row() const { return row_; }
  int Part() const { return part_; }

 private:
  size_t row_;
  int part_;
};

// The value of a row as users type it: "0.6", "160,100,40,40", "20/25", "4", "classic".
std::string ParamValueText(const ParamDescription& row, const ParamSet& params);

// Sets a row from text typed by a user. Returns "" when done, or what the text should
// look like when it is malformed (not a number, wrong shape). A well-formed number that
// the value cannot hold (beyond 32 bits) throws ParamError with the range; other ranges
// are CheckParams' business.
std::string SetParamFromText(const ParamDescription& row, const std::string& text, ParamSet& params);

// A whole text as a 32-bit integer, or as a finite number; false when it is not one.
bool ParseInt32Text(const std::string& text, int32_t& value);
bool ParseFiniteText(const std::string& text, double& value);

// The shape of a row's value in the help: its typeName, or a Choice row's words ("classic|enhanced").
std::string TypeNameOf(const ParamDescription& row);

// "0 to 1000", "above 0, at most 2", "any finite number", "2, 3 or 4", "classic or enhanced" ...
std::string ParamRangeText(const ParamDescription& row);

// The rules of each value alone: text rules and ranges. Throws ParamError naming the value
// by its label, with the allowed range. CheckParams (algorithm_options.h) adds the
// algorithms' rules.
void CheckParamValues(const ParamSet& params);

// The "Init params" values (the defaults of the description, firstFrame 1), with the
// derived names.
ParamSet InitParams();


// The set as "name = value" lines, the derived names included.
std::string DescribeParams(const ParamSet& params);

}  // namespace lumet
