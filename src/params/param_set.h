#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "numeric/roi_rect.h"
#include "reconstruction/reconstruction_options.h"

namespace lumet {

// Every value the user can set, in the order of the parameter file, plus the three names
// derived from the two text values at every adoption. What each value means, its range,
// its default and where it is stored: param_description.h.
struct ParamSet {
  std::string lrPattern;
  std::string outputBase;
  int32_t lrCount = 0;
  int32_t firstFrame = 1;  // neither shown nor stored; every adoption sets it to 1
  RoiRect roi;
  double scale = 0.0;
  double psfSigma = 0.0;
  double alpha = 0.0;
  double beta = 0.0;
  double lambda = 0.0;
  double filterSigma = 0.0;
  int32_t ransacFirst = 0;
  int32_t ransacSecond = 0;
  int32_t sadSize = 0;
  int32_t searchArea = 0;

  // Stored after line 17 as "name value" lines, only when they differ from the default.
  int32_t startIndex = 0;          // file number (or video frame) of frame 0
  std::string method;              // a word of the method row; MethodOf reads it
  // The methods' own parameters by name (ReconstructionMethod::Params), stored like the
  // values above; whole numbers are held exactly.
  std::map<std::string, double> methodValues;

  // Derived names.
  std::string referenceFile;      // lrPattern formatted with startIndex, the file number of frame 0
  std::string resultFile;         // outputBase + ".bmp"
  std::string homographyPattern;  // outputBase + "_hom-%d.txt"

  bool operator==(const ParamSet&) const = default;
};

// The file the parameters live in between runs, and the name it is rewritten under.
inline constexpr const char* kParamFileName = "param.txt";
inline constexpr const char* kParamSavePath = "./param.txt";
// Longest text value the parameter file can hold.
inline constexpr size_t kMaxTextValueLength = 1023;

// Why a text value cannot be used, or "" when it can: empty, white space, a control
// character, longer than 1023 characters; for the LR pattern a conversion other than one
// integer conversion (%d or %i with optional flags and width) and "%%"; for the output
// base any "%".
std::string LrPatternProblem(const std::string& value);
std::string OutputBaseProblem(const std::string& value);

// The scale factors both front ends offer, as stored on line 8 of the parameter file: those
// the reconstruction supports.
inline bool IsScaleChoice(double scale) { return ReconstructionOptions::IsSupportedScale(scale); }

// The scale is a choice between x2, x3 and x4 in both front ends: a stored value below 3
// selects x2, one below 4 x3, anything else (NaN included) x4.
inline double ChosenScale(double stored) { return stored < 3.0 ? 2.0 : stored < 4.0 ? 3.0 : 4.0; }

// A value quoted for a message, shortened so that a runaway text stays readable.
std::string QuotedValue(const std::string& value);

// Formats a checked frame-name pattern with frame number k. A pattern without a %
// conversion but with a wildcard ("images/*.png", "?", "[...]") names the files it matches
// in natural order (lr-2 before lr-10, 007 as 7), file k being frame number k; past the last
// match it gives a name no file has, "images/*.png (match 31 of 30)". The wildcard stands in
// the file name only: the folders are taken as written ("shots [2]/*.png" lists "shots [2]").
std::string FormatFrameName(const std::string& pattern, int k);

// True for such a wildcard pattern; NaturalLess is its order.
bool IsFrameGlob(const std::string& pattern);
bool NaturalLess(const std::string& a, const std::string& b);

// Recomputes referenceFile, resultFile and homographyPattern (the text values must have
// passed CheckParams).
void DeriveNames(ParamSet& params);


}  // namespace lumet
