#include "params/param_description.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

#include "reconstruction/reconstruction_method.h"
#include "reconstruction/reconstruction_options.h"
#include "registration/registration_options.h"
#include "util/text_format.h"

namespace lumet {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The registered methods' words, "classic|enhanced|...".
std::string MethodWords() {
  std::string words;
  for (const ReconstructionMethod* m : ReconstructionMethods()) {
    if (!words.empty()) words += '|';
    words += m->Word();
  }
  return words;
}

}  // namespace

// clang-format off
const std::array kCommonRows = std::to_array<ParamDescription>({
    {.name = "lrPattern", .flag = "--lr-pattern", .label = "LR pattern", .kind = ParamKind::Text, .typeName = "PATTERN",
     .help = "LR frame files, frame 0 being the reference", .defaultText = "./images/lr-%d.bmp", .line = 1,
     .text = &ParamSet::lrPattern, .textProblem = LrPatternProblem},
    {.name = "outputBase", .flag = "--output", .label = "output base", .kind = ParamKind::Text, .typeName = "BASE",
     .help = "results: BASE.bmp and the homographies BASE_hom-K.txt", .defaultText = "./result/hr", .line = 2,
     .text = &ParamSet::outputBase, .textProblem = OutputBaseProblem},
    {.name = "lrCount", .flag = "--lr-count", .label = "LR count", .kind = ParamKind::Int, .typeName = "N",
     .help = "frames 1..N are registered against frame 0; reconstruction reads frames 0..N-1", .defaultText = "30",
     .line = 3, .minimum = 1, .maximum = kMaxLrCount, .integer = &ParamSet::lrCount},
    {.name = "roi", .flag = "--roi", .label = "ROI", .kind = ParamKind::Roi, .typeName = "X,Y,W,H",
     .help = "region of interest in pixels of frame 0", .defaultText = "160,100,40,40", .line = 4,
     .roi = &ParamSet::roi},
    {.name = "scale", .flag = "--scale", .label = "scale", .kind = ParamKind::Scale, .typeName = "2|3|4",
     .help = "scale factor of the result", .defaultText = "4", .line = 8, .real = &ParamSet::scale},
    {.name = "psfSigma", .flag = "--psf-sigma", .label = "PSF sigma", .kind = ParamKind::Double, .typeName = "FLOAT",
     .help = "Gaussian blur of the camera in LR pixels (the enhanced method narrows it when the frames are "
             "sharper)",
     .defaultText = "0.6", .line = 9, .minimum = 0,
     .maximum = ReconstructionOptions::kMaxPsfSigma, .minimumExcluded = true, .real = &ParamSet::psfSigma},
    {.name = "alpha", .flag = "--alpha", .label = "alpha", .kind = ParamKind::Double, .typeName = "FLOAT",
     .help = "regulariser decay over shift distance", .defaultText = "0.7", .line = 10, .minimum = -kInf,
     .maximum = kInf, .real = &ParamSet::alpha},
    {.name = "beta", .flag = "--beta", .label = "beta", .kind = ParamKind::Double, .typeName = "FLOAT",
     .help = "gradient scale", .defaultText = "1", .line = 11, .minimum = -kInf, .maximum = kInf,
     .real = &ParamSet::beta},
    {.name = "lambda", .flag = "--lambda", .label = "lambda", .kind = ParamKind::Double, .typeName = "FLOAT",
     .help = "regulariser weight", .defaultText = "0.003", .line = 12, .minimum = -kInf, .maximum = kInf,
     .real = &ParamSet::lambda},
    {.name = "filterSigma", .flag = "--filter-sigma", .label = "filter sigma", .kind = ParamKind::Double,
     .typeName = "FLOAT", .help = "sigma of the registration's derivative filters", .defaultText = "1.5", .line = 13,
     .minimum = 0, .maximum = RegistrationOptions::kMaxFilterSigma, .minimumExcluded = true, .real = &ParamSet::filterSigma},
    {.name = "ransac", .flag = "--ransac", .label = "RANSAC", .kind = ParamKind::Ransac, .typeName = "U/N",
     .help = "pairs per homography trial / pool of best pairs they are drawn from", .defaultText = "20/25",
     .line = 14, .minimum = 1, .maximum = RegistrationOptions::kMaxRansacSize, .integer = &ParamSet::ransacFirst,
     .integer2 = &ParamSet::ransacSecond},
    {.name = "sadSize", .flag = "--sad-size", .label = "SAD size", .kind = ParamKind::Int, .typeName = "S",
     .help = "half size S of the (2S+1)x(2S+1) matching block", .defaultText = "32", .line = 16, .minimum = 0,
     .maximum = RegistrationOptions::kMaxSadSize, .integer = &ParamSet::sadSize},
    {.name = "searchArea", .flag = "--search-area", .label = "search area", .kind = ParamKind::Int, .typeName = "D",
     .help = "largest displacement allowed between matched points", .defaultText = "40", .line = 17, .minimum = 0,
     .maximum = kMaxFrameSide, .integer = &ParamSet::searchArea},
    {.name = "startIndex", .flag = "--start-index", .label = "start index", .kind = ParamKind::Int, .typeName = "K",
     .help = "file number (or video frame) of frame 0", .defaultText = "0", .line = 0, .minimum = 0,
     .maximum = kMaxStartIndex, .integer = &ParamSet::startIndex},
    {.name = "method", .flag = "--method", .label = "method", .kind = ParamKind::Choice, .typeName = nullptr,
     .help = "registration and reconstruction method", .defaultText = "classic", .line = 0,
     .text = &ParamSet::method, .choices = MethodWords},
});
// clang-format on

namespace {

// The parts of a ROI as users type them, with their ranges.
constexpr const char* kRoiParts[4] = {"x", "y", "w", "h"};
constexpr int64_t kRoiMinimum[4] = {0, 0, 1, 1};
constexpr int64_t kRoiMaximum[4] = {kMaxFrameSide - 1, kMaxFrameSide - 1, kMaxFrameSide, kMaxFrameSide};
constexpr const char* kRansacParts[2] = {"the sample size", "the pool size"};

std::string_view WithoutPlus(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  return text;
}

enum class Number { Ok, Malformed, TooLarge };

Number ParseInt64(std::string_view text, int64_t& value) {
  text = WithoutPlus(text);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size()) {
    // A run of digits too long for 64 bits is still a well-formed number.
    return ec == std::errc::result_out_of_range && end == text.data() + text.size() ? Number::TooLarge
                                                                                       : Number::Malformed;
  }
  return ec == std::errc() ? Number::Ok : Number::TooLarge;
}

Number ParseDouble(std::string_view text, double& value) {
  text = WithoutPlus(text);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size()) return Number::Malformed;
  return ec == std::errc() ? Number::Ok : Number::TooLarge;
}

// Splits "a<sep>b<sep>..." into exactly count parts.
bool Split(const std::string& text, char sep, size_t count, std::vector<std::string>& parts) {
  parts.clear();
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t end = i + 1 < count ? text.find(sep, pos) : text.size();
    if (end == std::string::npos) return false;
    parts.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts.back().find(sep) == std::string::npos;
}

std::string IntRangeText(int64_t minimum, int64_t maximum) {
  return std::to_string(minimum) + " to " + std::to_string(maximum);
}

[[noreturn]] void OutOfRange(size_t row, int part, const std::string& subject, const std::string& range) {
  throw ParamError(row, part, subject + " is out of range (allowed: " + range + ")");
}

size_t RowOf(const ParamDescription& row) { return FindParam(row.name); }

// The ROI's four parts as typed, each within its range; head is "ROI x,y,w,h".
void CheckRoiParts(size_t row, const std::string& head, const int64_t (&v)[4]) {
  // x and w belong to the lines of left and right, y and h to top and bottom.
  constexpr int kLine[4] = {0, 1, 2, 3};
  for (int i = 0; i < 4; ++i) {
    if (v[i] < kRoiMinimum[i] || v[i] > kRoiMaximum[i]) {
      OutOfRange(row, kLine[i], head + ": " + kRoiParts[i] + " " + std::to_string(v[i]),
                 IntRangeText(kRoiMinimum[i], kRoiMaximum[i]));
    }
  }
}

void CheckRansacParts(size_t row, const ParamDescription& d, const std::string& head, const int64_t (&v)[2]) {
  for (int i = 0; i < 2; ++i) {
    if (v[i] < d.minimum || v[i] > d.maximum) {
      OutOfRange(row, i, head + ": " + kRansacParts[i] + " " + std::to_string(v[i]),
                 IntRangeText(static_cast<int64_t>(d.minimum), static_cast<int64_t>(d.maximum)));
    }
  }
}

std::string ChoiceText(const std::string& choices) {
  std::string text = choices;
  const size_t bar = text.rfind('|');
  if (bar != std::string::npos) text.replace(bar, 1, " or ");
  for (size_t at; (at = text.find('|')) != std::string::npos;) text.replace(at, 1, ", ");
  return text;
}

bool IsChoice(const std::string& choices, const std::string& value) {
  std::string_view rest = choices;
  while (!rest.empty()) {
    const size_t bar = rest.find('|');
    if (rest.substr(0, bar) == value) return true;
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
  }
  return false;
}

}  // namespace

bool ParseInt32Text(const std::string& text, int32_t& value) {
  int64_t v = 0;
  if (ParseInt64(text, v) != Number::Ok || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

bool ParseFiniteText(const std::string& text, double& value) {
  double v = 0.0;
  if (ParseDouble(text, v) != Number::Ok || !std::isfinite(v)) return false;
  value = v;
  return true;
}

const std::vector<ParamDescription>& ParamRows() {
  // Reserved so that rows added later never move the ones handed out.
  constexpr size_t kMostRows = 512;
  static std::mutex mutex;
  static std::vector<ParamDescription> rows;
  static size_t methodsSeen = 0;
  const std::lock_guard<std::mutex> lock(mutex);
  if (rows.empty()) {
    rows.reserve(kMostRows);
    rows.assign(kCommonRows.begin(), kCommonRows.end());
  }
  const std::vector<const ReconstructionMethod*>& methods = ReconstructionMethods();
  while (methodsSeen < methods.size()) {
    const ReconstructionMethod& method = *methods[methodsSeen++];
    std::vector<ParamDescription> added;
    for (const MethodParam& m : method.Params()) {
      const auto same = std::find_if(rows.begin(), rows.end(), [&](const ParamDescription& r) {
        return std::strcmp(r.name, m.name) == 0 || std::strcmp(r.flag, m.flag) == 0;
      });
      // Methods declare a shared name alike (RegisterReconstructionMethod); one row serves them.
      if (same != rows.end() && same->methodValue && std::strcmp(same->name, m.name) == 0) continue;
      if (same != rows.end()) {
        throw Error("the " + method.Word() + " method's parameter " + m.name + " (" + m.flag +
                    ") is named like the parameter " + same->name + "; the method's parameters are left out");
      }
      added.push_back({.name = m.name, .flag = m.flag, .label = m.label,
                       .kind = m.whole ? ParamKind::Int : ParamKind::Double, .typeName = m.typeName, .help = m.help,
                       .defaultText = m.defaultText, .line = 0, .minimum = m.minimum, .maximum = m.maximum,
                       .minimumExcluded = m.minimumExcluded, .methodValue = true, .onOff = m.onOff});
    }
    if (rows.size() + added.size() > kMostRows) throw Error("the methods declare more parameters than the table holds");
    rows.insert(rows.end(), added.begin(), added.end());
  }
  return rows;
}

size_t FindParam(const std::string& name) {
  const std::vector<ParamDescription>& rows = ParamRows();
  for (size_t i = 0; i < rows.size(); ++i) {
    if (name == rows[i].name) return i;
  }
  return rows.size();
}

double NumberOf(const ParamDescription& d, const ParamSet& p) {
  if (d.methodValue) {
    const auto found = p.methodValues.find(d.name);
    return found != p.methodValues.end() ? found->second : 0.0;
  }
  return d.kind == ParamKind::Int ? static_cast<double>(p.*d.integer) : p.*d.real;
}

void SetNumber(const ParamDescription& d, double value, ParamSet& p) {
  if (d.methodValue) {
    p.methodValues[d.name] = value;
  } else if (d.kind == ParamKind::Int) {
    p.*d.integer = static_cast<int32_t>(value);
  } else {
    p.*d.real = value;
  }
}

std::string ParamValueText(const ParamDescription& d, const ParamSet& p) {
  switch (d.kind) {
    case ParamKind::Text:
    case ParamKind::Choice:
      return p.*d.text;
    case ParamKind::Int: {
      // A method's whole number set from outside may hold a fraction, which the check refuses.
      const double v = NumberOf(d, p);
      if (d.onOff && (v == 0.0 || v == 1.0)) return v == 1.0 ? "on" : "off";
      const bool whole = v == std::trunc(v) && v >= std::numeric_limits<int32_t>::min() &&
                         v <= std::numeric_limits<int32_t>::max();
      return whole ? std::to_string(static_cast<int32_t>(v)) : FormatG6(v);
    }
    case ParamKind::Double:
    case ParamKind::Scale:
      return FormatG6(NumberOf(d, p));
    case ParamKind::Roi:
      return RoiText(p.*d.roi);
    case ParamKind::Ransac:
      return std::to_string(p.*d.integer) + "/" + std::to_string(p.*d.integer2);
  }
  return {};
}

std::string SetParamFromText(const ParamDescription& d, const std::string& text, ParamSet& p) {
  const size_t row = RowOf(d);
  const std::string subject = std::string(d.label) + " " + text;
  switch (d.kind) {
    case ParamKind::Text:
    case ParamKind::Choice:
      p.*d.text = text;
      return {};
    case ParamKind::Int: {
      if (d.onOff) {
        if (text != "on" && text != "off") return "on or off";
        SetNumber(d, text == "on" ? 1.0 : 0.0, p);
        return {};
      }
      int64_t v = 0;
      const Number n = ParseInt64(text, v);
      if (n == Number::Malformed) return "a whole number";
      if (n == Number::TooLarge || v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
        OutOfRange(row, 0, subject, ParamRangeText(d));
      }
      SetNumber(d, static_cast<double>(v), p);
      return {};
    }
    case ParamKind::Double:
    case ParamKind::Scale: {
      double v = 0.0;
      const Number n = ParseDouble(text, v);
      if (n == Number::Malformed) return "a number";
      if (n == Number::TooLarge) OutOfRange(row, 0, subject, ParamRangeText(d));
      SetNumber(d, v, p);
      return {};
    }
    case ParamKind::Roi: {
      std::vector<std::string> parts;
      int64_t v[4] = {};
      bool tooLarge = false;
      if (!Split(text, ',', 4, parts)) return "X,Y,W,H: four whole numbers";
      for (size_t i = 0; i < 4; ++i) {
        const Number n = ParseInt64(parts[i], v[i]);
        if (n == Number::Malformed) return "X,Y,W,H: four whole numbers";
        if (n == Number::TooLarge) v[i] = parts[i][0] == '-' ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
        tooLarge = tooLarge || n == Number::TooLarge;
      }
      RoiRect roi;
      if (tooLarge || !RoiFromXywh(v[0], v[1], v[2], v[3], roi)) {
        CheckRoiParts(row, "ROI " + text, v);  // throws: the parts allowed all fit
      }
      p.*d.roi = roi;
      return {};
    }
    case ParamKind::Ransac: {
      std::vector<std::string> parts;
      int64_t v[2] = {};
      if (!Split(text, '/', 2, parts)) return "U/N: two whole numbers";
      bool tooLarge = false;
      for (size_t i = 0; i < 2; ++i) {
        const Number n = ParseInt64(parts[i], v[i]);
        if (n == Number::Malformed) return "U/N: two whole numbers";
        if (n == Number::TooLarge) v[i] = parts[i][0] == '-' ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
        tooLarge = tooLarge || n == Number::TooLarge || v[i] < std::numeric_limits<int32_t>::min() ||
                   v[i] > std::numeric_limits<int32_t>::max();
      }
      if (tooLarge) CheckRansacParts(row, d, "RANSAC " + text, v);
      p.*d.integer = static_cast<int32_t>(v[0]);
      p.*d.integer2 = static_cast<int32_t>(v[1]);
      return {};
    }
  }
  return {};
}

std::string TypeNameOf(const ParamDescription& row) {
  return row.kind == ParamKind::Choice ? row.choices() : std::string(row.typeName);
}

std::string ParamRangeText(const ParamDescription& d) {
  switch (d.kind) {
    case ParamKind::Text:
      return d.text == &ParamSet::lrPattern ? "one word with one %d for the frame number, or a wildcard such as *.png"
                                            : "one word without %";
    case ParamKind::Choice:
      return ChoiceText(d.choices());
    case ParamKind::Int:
      if (d.onOff) return "on or off";
      [[fallthrough]];
    case ParamKind::Ransac:
      return IntRangeText(static_cast<int64_t>(d.minimum), static_cast<int64_t>(d.maximum));
    case ParamKind::Scale:
      return "2, 3 or 4";
    case ParamKind::Roi:
      return "x, y " + IntRangeText(0, kMaxFrameSide - 1) + "; w, h " + IntRangeText(1, kMaxFrameSide);
    case ParamKind::Double: {
      if (std::isinf(d.minimum) && std::isinf(d.maximum)) return "any finite number";
      const std::string low = (d.minimumExcluded ? "above " : "at least ") + FormatG6(d.minimum);
      return std::isinf(d.maximum) ? low : low + ", at most " + FormatG6(d.maximum);
    }
  }
  return {};
}

void CheckParamValues(const ParamSet& p) {
  const std::vector<ParamDescription>& rows = ParamRows();
  for (size_t row = 0; row < rows.size(); ++row) {
    const ParamDescription& d = rows[row];
    const std::string subject = std::string(d.label) + " " + ParamValueText(d, p);
    switch (d.kind) {
      case ParamKind::Text: {
        const std::string problem = d.textProblem(p.*d.text);
        if (!problem.empty()) throw ParamError(row, 0, std::string(d.label) + " " + QuotedValue(p.*d.text) + " " + problem);
        break;
      }
      case ParamKind::Choice:
        if (!IsChoice(d.choices(), p.*d.text)) OutOfRange(row, 0, std::string(d.label) + " " + QuotedValue(p.*d.text), ParamRangeText(d));
        break;
      case ParamKind::Int: {
        const double v = NumberOf(d, p);
        if (!(v >= d.minimum && v <= d.maximum) || v != std::trunc(v)) OutOfRange(row, 0, subject, ParamRangeText(d));
        break;
      }
      case ParamKind::Double: {
        const double v = NumberOf(d, p);
        const bool below = d.minimumExcluded ? !(v > d.minimum) : !(v >= d.minimum);
        if (!std::isfinite(v) || below || v > d.maximum) OutOfRange(row, 0, subject, ParamRangeText(d));
        break;
      }
      case ParamKind::Scale:
        if (!IsScaleChoice(p.*d.real)) OutOfRange(row, 0, subject, ParamRangeText(d));
        break;
      case ParamKind::Roi: {
        const RoiRect& roi = p.*d.roi;
        const int64_t v[4] = {roi.left, roi.top, roi.Width(), roi.Height()};
        CheckRoiParts(row, subject, v);
        break;
      }
      case ParamKind::Ransac: {
        const int64_t v[2] = {p.*d.integer, p.*d.integer2};
        CheckRansacParts(row, d, subject, v);
        break;
      }
    }
  }
  for (const auto& [name, value] : p.methodValues) {
    const size_t row = FindParam(name);
    if (row == rows.size() || !rows[row].methodValue) {
      throw ParamError(FindParam("method"), 0, "no method has a parameter called " + QuotedValue(name));
    }
  }
}

ParamSet InitParams() {
  ParamSet p;
  for (const ParamDescription& row : ParamRows()) SetParamFromText(row, row.defaultText, p);
  p.firstFrame = 1;
  DeriveNames(p);
  return p;
}

std::string DescribeParams(const ParamSet& p) {
  std::string s;
  for (const ParamDescription& d : ParamRows()) {
    s += std::string(d.name) + " = " + ParamValueText(d, p);
    if (d.kind == ParamKind::Roi) s += " (x,y,w,h)";
    if (d.kind == ParamKind::Ransac) s += " (sample size/pool size)";
    s += "\n";
  }
  s += "referenceFile = " + p.referenceFile + "\n";
  s += "resultFile = " + p.resultFile + "\n";
  s += "homographyPattern = " + p.homographyPattern + "\n";
  return s;
}

}  // namespace lumet
