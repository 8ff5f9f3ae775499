#include "python/keyword_text.h"

#include <algorithm>
#include <cctype>
#include <regex>

namespace lumet::python {

namespace {

// Options of a call that are no parameter row.
constexpr const char* kCallOptions[] = {"--memory-limit", "--threads"};

bool Matches(const std::string& text, const char* pattern) { return std::regex_match(text, std::regex(pattern)); }

// "a,b,c" (separated by sep) -> "(a, b, c)".
std::string Tuple(std::string text, char sep) {
  std::string out = "(";
  for (const char c : text) out += c == sep ? std::string(", ") : std::string(1, c);
  return out + ")";
}

const ParamDescription* RowOfFlag(const std::string& flag) {
  const auto row = std::find_if(ParamRows().begin(), ParamRows().end(), [&](const ParamDescription& r) { return flag == r.flag; });
  return row == ParamRows().end() ? nullptr : &*row;
}

bool IsCallOption(const std::string& flag) {
  return std::any_of(std::begin(kCallOptions), std::end(kCallOptions), [&](const char* o) { return flag == o; });
}

// --threads N, --memory-limit 1.5G: a count, a size in bytes or a size's text.
std::string CallOptionValue(const std::string& text) {
  if (Matches(text, R"(\d+)")) return text;
  return Matches(text, R"(\d+(\.\d+)?[KMGT])") ? "'" + text + "'" : "";
}

}  // namespace

std::string KeywordOf(const ParamDescription& row) {
  std::string name = std::string(row.flag).substr(2);
  std::replace(name.begin(), name.end(), '-', '_');
  return name == "lambda" ? "lambda_" : name;
}

std::string PythonValueText(const ParamDescription& row, const std::string& text) {
  constexpr const char* kNumber = R"([-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?)";
  switch (row.kind) {
    case ParamKind::Int:
      if (row.onOff) return text == "on" ? "True" : text == "off" ? "False" : "";
      if (std::string(row.name) == "lrCount" && text == "auto") return "None";
      return Matches(text, R"([-+]?\d+)") ? text : "";
    case ParamKind::Double:
    case ParamKind::Scale: return Matches(text, kNumber) ? text : "";
    case ParamKind::Roi: return Matches(text, R"(-?\d+(,-?\d+){3})") ? Tuple(text, ',') : "";
    case ParamKind::Ransac: return Matches(text, R"(-?\d+/-?\d+)") ? Tuple(text, '/') : "";
    case ParamKind::Choice: {
      const std::string choices = "|" + row.choices() + "|";
      return choices.find("|" + text + "|") != std::string::npos ? "'" + text + "'" : "";
    }
    case ParamKind::Text: break;
  }
  return "";
}

namespace {

// A message that starts with a parameter's label and value ("ROI 300,100,40,40: x + w ...")
// starts with its keyword form instead ("roi=(300, 100, 40, 40): x + w ...").
std::string LeadingLabelAsKeyword(const std::string& text) {
  for (const ParamDescription& row : ParamRows()) {
    const std::string label = std::string(row.label) + " ";
    if (row.kind == ParamKind::Text || text.rfind(label, 0) != 0) continue;
    const size_t end = std::min(text.find_first_of(" :;", label.size()), text.size());
    const std::string value = PythonValueText(row, text.substr(label.size(), end - label.size()));
    if (!value.empty()) return KeywordOf(row) + "=" + value + text.substr(end);
  }
  return text;
}

}  // namespace

std::string FlagsAsKeywords(const std::string& message, const std::string& startKeyword) {
  const std::string text = LeadingLabelAsKeyword(message);
  static const std::regex flagPattern(R"(--([a-z][a-z-]*[a-z])( ([-+]?[A-Za-z0-9.,/+]*[A-Za-z0-9]))?)");
  std::string out;
  auto from = text.cbegin();
  for (std::sregex_iterator it(text.begin(), text.end(), flagPattern), end; it != end; ++it) {
    const std::smatch& m = *it;
    const std::string flag = "--" + m[1].str();
    const ParamDescription* row = RowOfFlag(flag);
    if (row == nullptr && !IsCallOption(flag)) continue;
    std::string keyword = row != nullptr ? KeywordOf(*row) : m[1].str();
    std::replace(keyword.begin(), keyword.end(), '-', '_');
    if (row != nullptr && std::string(row->name) == "startIndex") keyword = startKeyword;
    // A value follows when the next word is one of the option's values; else the words
    // after it are the sentence's.
    std::string value;
    if (m[2].matched) value = row != nullptr ? PythonValueText(*row, m[3].str()) : CallOptionValue(m[3].str());
    out.append(from, m[0].first);
    out += keyword + "=";
    if (value.empty()) {
      from = m[1].second;
    } else {
      out += value;
      from = m[0].second;
      // lr_count=None is what the command line's "auto" is.
      if (value != "None" && std::string(row != nullptr ? row->name : "") == "lrCount" &&
          std::string(from, text.cend()).rfind(" or auto", 0) == 0) {
        out += " or None";
        from += 8;
      }
    }
  }
  out.append(from, text.cend());
  return out;
}

std::string SignatureText(const std::string& name, const std::string& leading) {
  std::string text = name + "(" + leading;
  for (const ParamDescription& row : ParamRows()) {
    const std::string keyword = KeywordOf(row);
    if (row.kind == ParamKind::Text || keyword == "roi" || keyword == "scale" || keyword == "method") continue;
    std::string value = PythonValueText(row, row.defaultText);
    // lr_count's default is every frame given after frame 0, not the table's.
    if (keyword == "lr_count") value = "None";
    // A real parameter reads as a float, as its value comes back.
    if (row.kind == ParamKind::Double && value.find_first_of(".eE") == std::string::npos) value += ".0";
    text += ", " + keyword + "=" + value;
  }
  return text + ")\n--\n\n";
}

}  // namespace lumet::python
