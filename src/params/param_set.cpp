#include "params/param_set.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <locale>
#include <string_view>
#include <type_traits>
#include <vector>

#include "util/atomic_file.h"
#include "util/error.h"
#include "util/input_file.h"
#include "util/text_format.h"

namespace lumet {

namespace {

// A value quoted in an error message, shortened so that a runaway text stays readable.
std::string Quoted(const std::string& value) {
  constexpr size_t kShown = 60;
  if (value.size() <= kShown) return "\"" + value + "\"";
  return "\"" + value.substr(0, kShown) + "...\" (" + std::to_string(value.size()) + " characters)";
}

bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

// One integer conversion of a frame-name pattern: "%" flags width [. precision] d|i.
struct Conversion {
  std::string text;  // the whole conversion, validated, e.g. "%03d"
};

// Walks pattern; on success returns an empty reason and the conversions found (at most
// the integer ones; "%%" is a literal). A reason describes the first thing refused.
std::string ParsePattern(const std::string& pattern, std::vector<Conversion>& conversions) {
  constexpr size_t kMaxDigits = 2;  // widths and precisions up to 99
  conversions.clear();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    const size_t start = i;
    ++i;
    if (i < pattern.size() && pattern[i] == '%') continue;
    while (i < pattern.size() && std::string_view("-+ 0").find(pattern[i]) != std::string_view::npos) ++i;
    size_t digits = 0;
    while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') ++i, ++digits;
    if (digits > kMaxDigits) return "has a field width of more than " + std::to_string(kMaxDigits) + " digits";
    if (i < pattern.size() && pattern[i] == '.') {
      ++i;
      digits = 0;
      while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') ++i, ++digits;
      if (digits > kMaxDigits) return "has a precision of more than " + std::to_string(kMaxDigits) + " digits";
    }
    if (i >= pattern.size()) return "ends inside a % conversion";
    if (pattern[i] != 'd' && pattern[i] != 'i') {
      return "has the conversion \"" + pattern.substr(start, i - start + 1) +
             "\"; only one frame number (%d or %i, with optional flags and width) and %% are allowed";
    }
    conversions.push_back({pattern.substr(start, i - start + 1)});
  }
  if (conversions.size() > 1) return "has more than one frame-number conversion";
  return {};
}

// Empty reason when value can be stored in the parameter file as one word.
std::string WordProblem(const std::string& value) {
  if (value.empty()) return "is empty";
  if (value.size() > kMaxTextValueLength) {
    return "is " + std::to_string(value.size()) + " characters long; at most " + std::to_string(kMaxTextValueLength) +
           " are allowed";
  }
  for (char c : value) {
    if (IsWhiteSpace(c)) return "holds white space, which the parameter file cannot store";
    if (IsControl(c)) return "holds a control character";
  }
  return {};
}

std::string LrPatternProblem(const std::string& value) {
  std::string reason = WordProblem(value);
  if (!reason.empty()) return reason;
  std::vector<Conversion> conversions;
  return ParsePattern(value, conversions);
}

std::string OutputBaseProblem(const std::string& value) {
  std::string reason = WordProblem(value);
  if (!reason.empty()) return reason;
  if (value.find('%') != std::string::npos) return "holds \"%\", which would be taken for a conversion in file names";
  return {};
}

void CheckNumber(const char* field, double value) {
  if (!std::isfinite(value)) throw Error(std::string(field) + " " + FormatG6(value) + " is not a finite number");
}

}  // namespace

ParamSet InitParams() {
  ParamSet p;
  p.lrPattern = "./images/lr-%d.bmp";
  p.outputBase = "./result/hr";
  p.lrCount = 30;
  p.firstFrame = 1;
  p.roi = RoiRect{160, 100, 200, 140};
  p.scale = 4.0;
  p.psfSigma = 0.6;
  p.alpha = 0.7;
  p.beta = 1.0;
  p.lambda = 0.003;
  p.filterSigma = 1.5;
  p.ransacFirst = 20;
  p.ransacSecond = 25;
  p.sadSize = 32;
  p.searchArea = 40;
  DeriveNames(p);
  return p;
}

// Largest parameter file read: two text values of at most kMaxTextValueLength characters
// and the numbers take a few kilobytes; the rest is room for white space and later fields.
constexpr size_t kMaxParamFileBytes = 64 * 1024;

int LoadParams(const std::string& path, ParamSet& params) {
  // A missing file leaves every value as it is; one that is there must be a regular file
  // (a FIFO would block, a device never end).
  std::error_code missing;
  if (!std::filesystem::exists(path, missing)) return 0;
  std::istringstream in(ReadWholeFile(path, kMaxParamFileBytes));
  in.imbue(std::locale::classic());
  int taken = 0;
  bool ok = true;

  // Each value is stored only once it has been read in full; from the first failure on,
  // nothing more is taken and the remaining fields keep what they held.
  auto text = [&](std::string& field, std::string (*problem)(const std::string&)) {
    if (!ok) return;
    std::string word;
    if (!(in >> word) || !problem(word).empty()) {
      ok = false;
      return;
    }
    field = std::move(word);
    ++taken;
  };
  auto number = [&](auto& field) {
    if (!ok) return;
    std::remove_reference_t<decltype(field)> value{};
    if (!(in >> value)) {
      ok = false;
      return;
    }
    field = value;
    ++taken;
  };

  text(params.lrPattern, LrPatternProblem);
  text(params.outputBase, OutputBaseProblem);
  number(params.lrCount);
  number(params.roi.left);
  number(params.roi.top);
  number(params.roi.right);
  number(params.roi.bottom);
  number(params.scale);
  number(params.psfSigma);
  number(params.alpha);
  number(params.beta);
  number(params.lambda);
  number(params.filterSigma);
  number(params.ransacFirst);
  number(params.ransacSecond);
  number(params.sadSize);
  number(params.searchArea);
  return taken;
}

std::string FormatParamFile(const ParamSet& p) {
  std::string out;
  out += p.lrPattern + "\n";
  out += p.outputBase + "\n";
  out += std::to_string(p.lrCount) + "\n";
  out += std::to_string(p.roi.left) + "\n";
  out += std::to_string(p.roi.top) + "\n";
  out += std::to_string(p.roi.right) + "\n";
  out += std::to_string(p.roi.bottom) + "\n";
  out += FormatG6(p.scale) + "\n";
  out += FormatG6(p.psfSigma) + "\n";
  out += FormatG6(p.alpha) + "\n";
  out += FormatG6(p.beta) + "\n";
  out += FormatG6(p.lambda) + "\n";
  out += FormatG6(p.filterSigma) + "\n";
  out += std::to_string(p.ransacFirst) + "\n";
  out += std::to_string(p.ransacSecond) + "\n";
  out += std::to_string(p.sadSize) + "\n";
  out += std::to_string(p.searchArea);
  return out;
}

void SaveParams(const std::string& path, const ParamSet& params) { WriteFileAtomically(path, FormatParamFile(params)); }

void CheckTextParams(const ParamSet& params) {
  std::string reason = LrPatternProblem(params.lrPattern);
  if (!reason.empty()) throw Error("lrPattern " + Quoted(params.lrPattern) + " " + reason);
  reason = OutputBaseProblem(params.outputBase);
  if (!reason.empty()) throw Error("outputBase " + Quoted(params.outputBase) + " " + reason);
}

std::string FormatFrameName(const std::string& pattern, int k) {
  std::vector<Conversion> conversions;
  const std::string reason = ParsePattern(pattern, conversions);
  if (!reason.empty()) throw Error("file name pattern " + Quoted(pattern) + " " + reason);
  std::string out;
  out.reserve(pattern.size() + 16);
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      out += pattern[i];
      continue;
    }
    if (pattern[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // The one integer conversion, already validated: flags, at most two digits of width
    // and of precision, then d or i, so the buffer always holds the result.
    const std::string& text = conversions.front().text;
    char buffer[256];
    const int n = std::snprintf(buffer, sizeof buffer, text.c_str(), k);
    if (n > 0) out.append(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
    i += text.size() - 1;
  }
  return out;
}

void DeriveNames(ParamSet& params) {
  params.referenceFile = FormatFrameName(params.lrPattern, 0);
  params.resultFile = params.outputBase + ".bmp";
  params.homographyPattern = params.outputBase + "_hom-%d.txt";
}

void AdoptParams(ParamSet& params, const std::string& savePath) {
  ParamSet adopted = params;
  CheckTextParams(adopted);
  CheckNumber("scale", adopted.scale);
  CheckNumber("psfSigma", adopted.psfSigma);
  CheckNumber("alpha", adopted.alpha);
  CheckNumber("beta", adopted.beta);
  CheckNumber("lambda", adopted.lambda);
  CheckNumber("filterSigma", adopted.filterSigma);
  DeriveNames(adopted);
  adopted.firstFrame = 1;
  SaveParams(savePath, adopted);
  params = std::move(adopted);
}

}  // namespace lumet
