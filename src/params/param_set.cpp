#include "params/param_set.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

#include "util/error.h"

namespace lumet {

namespace {

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

}  // namespace

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
  // The result is BASE.bmp: a base that names a folder would give the hidden file FOLDER/.bmp.
  if (value.back() == '/' || value == "." || value == ".." || value.ends_with("/.") || value.ends_with("/..")) {
    return "names a folder; give the start of the result's file name, such as ./result/hr";
  }
  return {};
}

std::string QuotedValue(const std::string& value) {
  constexpr size_t kShown = 60;
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on '"' + value + '"'.
  std::string text(1, '"');
  // Control characters shown as \xNN: a NUL would end the message where it is printed.
  for (size_t i = 0; i < std::min(value.size(), kShown); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      text.append(escaped);
    } else {
      text.push_back(value[i]);
    }
  }
  if (value.size() <= kShown) return text.append(1, '"');
  return text.append("...\" (").append(std::to_string(value.size())).append(" characters)");
}

namespace {

// The folder part of a pattern and its file-name part; only the file name may hold a
// wildcard, so a pattern lists one folder (a wildcard in the folders could walk the whole
// disk, millions of files, on every frame name formatted).
std::filesystem::path PatternFolder(const std::string& pattern) {
  const std::filesystem::path path(pattern);
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

std::string PatternFileName(const std::string& pattern) {
  const size_t slash = pattern.find_last_of('/');
  return slash == std::string::npos ? pattern : pattern.substr(slash + 1);
}

}  // namespace

bool IsFrameGlob(const std::string& pattern) {
  return pattern.find('%') == std::string::npos && PatternFileName(pattern).find_first_of("*?[") != std::string::npos;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      // Runs of digits by their value: leading zeros aside, the longer run is larger.
      size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      const std::string_view da(a.data() + si, ei - si);
      const std::string_view db(b.data() + sj, ej - sj);
      if (da.size() != db.size()) return da.size() < db.size();
      if (da != db) return da < db;
      if (ei - i != ej - j) return ei - i < ej - j;  // 7 before 007: a fixed order for equal values
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::vector<std::string> FrameGlobMatches(const std::string& pattern) {
  // Listed again only when the folder changed: names are formatted once per frame and more.
  struct Listing {
    std::filesystem::file_time_type folderTime;
    std::vector<std::string> names;
  };
  static std::mutex mutex;
  static std::map<std::string, Listing> listings;
  const std::filesystem::path folder = PatternFolder(pattern);
  const std::string namePattern = PatternFileName(pattern);
  std::error_code error;
  const auto folderTime = std::filesystem::last_write_time(folder, error);
  const std::lock_guard<std::mutex> lock(mutex);
  const auto cached = listings.find(pattern);
  if (!error && cached != listings.end() && cached->second.folderTime == folderTime) return cached->second.names;
  std::vector<std::string> names;
  // The folder as written, "[" and "*" included; a leading "." is matched only by a "." of
  // the pattern, so hidden files stay out of "*.png".
  std::error_code listError;
  for (std::filesystem::directory_iterator it(folder, listError), end; !listError && it != end; it.increment(listError)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (::fnmatch(namePattern.c_str(), name.c_str(), FNM_PERIOD) == 0 && it->is_regular_file(typeError)) {
      names.push_back(pattern.find('/') == std::string::npos ? name : (folder / name).string());
    }
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  if (!error) listings[pattern] = {folderTime, names};
  return names;
}

std::string FormatFrameName(const std::string& pattern, int k) {
  if (IsFrameGlob(pattern)) {
    const std::vector<std::string> names = FrameGlobMatches(pattern);
    if (k >= 0 && static_cast<size_t>(k) < names.size()) return names[static_cast<size_t>(k)];
    // No such file: what the callers name in their messages.
    return pattern + " (match " + std::to_string(k) + " of " + std::to_string(names.size()) + ")";
  }
  std::vector<Conversion> conversions;
  const std::string reason = ParsePattern(pattern, conversions);
  if (!reason.empty()) throw Error("file name pattern " + QuotedValue(pattern) + " " + reason);
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
  params.referenceFile = FormatFrameName(params.lrPattern, params.startIndex);
  params.resultFile = params.outputBase + ".bmp";
  params.homographyPattern = params.outputBase + "_hom-%d.txt";
}

}  // namespace lumet
