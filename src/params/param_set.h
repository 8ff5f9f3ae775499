#pragma once

#include <cstdint>
#include <string>

namespace lumet {

// Region of interest in reference-frame pixels; right and bottom are exclusive.
struct RoiRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool operator==(const RoiRect&) const = default;
};

// Every value the user can set, in the order of the parameter file, plus the three names
// derived from the two text values at every adoption.
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

  // Derived names.
  std::string referenceFile;      // lrPattern formatted with frame number 0
  std::string resultFile;         // outputBase + ".bmp"
  std::string homographyPattern;  // outputBase + "_hom-%d.txt"

  bool operator==(const ParamSet&) const = default;
};

// The file the parameters live in between runs, and the name it is rewritten under.
inline constexpr const char* kParamFileName = "param.txt";
inline constexpr const char* kParamSavePath = "./param.txt";
// Longest text value the parameter file can hold.
inline constexpr size_t kMaxTextValueLength = 1023;

// The "Init params" values (firstFrame 1), with the derived names.
ParamSet InitParams();

// Reads the 17 values of a parameter file at path into params, one white-space-delimited
// word each, stopping at the first value that cannot be read; the values from there on
// keep what params held (callers start from InitParams(), so that start-up in a new folder
// works). A text word that CheckTextParams would refuse counts as a value that cannot be
// read. Returns the number of values read (0 when the file is missing). Something at path
// that is not a regular file, or a file too large to be a parameter file, is a
// lumet::Error naming it.
int LoadParams(const std::string& path, ParamSet& params);

// The exact text of the parameter file: 17 values, each followed by "\n" except the last.
std::string FormatParamFile(const ParamSet& params);

// Writes the parameter file through the atomic writer. Throws lumet::Error on failure.
void SaveParams(const std::string& path, const ParamSet& params);

// Refuses (lumet::Error naming the field) a text value that is empty, holds white space,
// or is longer than 1023 characters; an lrPattern with a conversion other than one integer
// conversion (%d or %i with optional flags and width) and "%%"; an outputBase with "%".
void CheckTextParams(const ParamSet& params);

// Formats a checked frame-name pattern with frame number k.
std::string FormatFrameName(const std::string& pattern, int k);

// Recomputes referenceFile, resultFile and homographyPattern (the text values must have
// passed CheckTextParams).
void DeriveNames(ParamSet& params);

// Adoption of a parameter set: checks the text values (and that the doubles are finite,
// since the file could not be read back otherwise), derives the names, sets firstFrame
// to 1 and rewrites savePath ("./param.txt"). Throws lumet::Error when a value is refused
// or the file cannot be written; params is then unchanged.
void AdoptParams(ParamSet& params, const std::string& savePath = kParamSavePath);

}  // namespace lumet
