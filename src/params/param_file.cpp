#include "params/param_file.h"

#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>

#include "util/atomic_file.h"
#include "util/error.h"
#include "util/folder_lock.h"
#include "util/input_file.h"
#include "util/text_format.h"

namespace lumet {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

struct Word {
  std::string text;
  int line = 0;
};

// The words of a text with the line each stands on; "\r\n", "\n" and a lone "\r" each end
// a line.
std::vector<Word> SplitWords(const std::string& text) {
  std::vector<Word> words;
  int line = 1;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\n' || c == '\r') {
      ++line;
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    } else if (IsSpace(c)) {
      ++i;
    } else {
      size_t end = i;
      while (end < text.size() && !IsSpace(text[end])) ++end;
      words.push_back({text.substr(i, end - i), line});
      i = end;
    }
  }
  return words;
}

// The number of stored parts (lines) of a row.
int PartCount(const ParamDescription& d) {
  return d.kind == ParamKind::Roi ? 4 : d.kind == ParamKind::Ransac ? 2 : 1;
}

// Reads one stored part of a row from its word; false when the word is no value of it.
bool ReadPart(const ParamDescription& d, int part, const std::string& word, ParamSet& p, std::string& why) {
  switch (d.kind) {
    case ParamKind::Text:
    case ParamKind::Choice: {
      why = d.textProblem != nullptr ? d.textProblem(word) : std::string();
      if (!why.empty()) return false;
      p.*d.text = word;
      return true;
    }
    case ParamKind::Int:
    case ParamKind::Roi:
    case ParamKind::Ransac: {
      int32_t v = 0;
      if (!ParseInt32Text(word, v)) {
        why = "cannot be read as a 32-bit whole number";
        return false;
      }
      if (d.kind == ParamKind::Int) {
        SetNumber(d, v, p);
      } else if (d.kind == ParamKind::Ransac) {
        (part == 0 ? p.*d.integer : p.*d.integer2) = v;
      } else {
        int32_t RoiRect::*const edges[4] = {&RoiRect::left, &RoiRect::top, &RoiRect::right, &RoiRect::bottom};
        (p.*d.roi).*edges[part] = v;
      }
      return true;
    }
    case ParamKind::Double:
    case ParamKind::Scale: {
      double v = 0.0;
      const bool read = ParseFiniteText(word, v);
      if (read) SetNumber(d, v, p);
      why = read ? "" : "cannot be read as a number";
      return read;
    }
  }
  return false;
}

std::string Where(const std::string& path, int line) { return path + " line " + std::to_string(line); }

// A byte-order mark (editors on some systems write one, a file saved twice by them two) is
// no part of the first value. All of them go, wherever that word starts: a first value that
// kept one would lose it when the file it is saved to is read again.
void DropByteOrderMarks(std::vector<Word>& words) {
  constexpr std::string_view bom = "\xEF\xBB\xBF";
  while (!words.empty() && words.front().text.compare(0, bom.size(), bom) == 0) {
    std::string& first = words.front().text;
    size_t start = 0;
    while (first.compare(start, bom.size(), bom) == 0) start += bom.size();
    first.erase(0, start);
    if (!first.empty()) break;
    words.erase(words.begin());  // a mark alone: the first value is the next word
  }
}

void ReadText(const std::string& text, ParamSet& p, ParamFileReport& report) {
  std::vector<Word> words = SplitWords(text);
  DropByteOrderMarks(words);
  size_t next = 0;
  const std::vector<ParamDescription>& rows = ParamRows();
  report.lines.resize(rows.size());
  auto fail = [&](size_t row, const std::string& problem) {
    report.problem = problem;
    for (size_t r = row; r < rows.size(); ++r) {
      if (rows[r].line > 0) report.reset.push_back(r);
    }
  };
  // Lines 1 to 17, one word per stored part.
  int lastLine = 0;
  for (size_t row = 0; row < rows.size(); ++row) {
    const ParamDescription& d = rows[row];
    if (d.line == 0) continue;
    for (int part = 0; part < PartCount(d); ++part) {
      const std::string where = std::string(" (") + d.label + ")";
      if (next >= words.size()) {
        fail(row, Where(report.path, d.line + part) + where + ": missing; the file ends after " +
                      std::to_string(report.valuesRead) + " of the 17 values");
        return;
      }
      const Word& word = words[next++];
      std::string why;
      if (!ReadPart(d, part, word.text, p, why)) {
        fail(row, Where(report.path, word.line) + where + ": " + QuotedValue(word.text) + " " + why);
        return;
      }
      report.lines[row][static_cast<size_t>(part)] = word.line;
      ++report.valuesRead;
      lastLine = word.line;
    }
  }
  // Later lines: "name value" each.
  std::vector<bool> seen(rows.size(), false);
  while (next < words.size()) {
    const int line = words[next].line;
    std::vector<std::string> items;
    for (; next < words.size() && words[next].line == line; ++next) items.push_back(words[next].text);
    if (line == lastLine) {
      report.problem = Where(report.path, line) + ": " + QuotedValue(items.front()) + " follows the 17th value";
      return;
    }
    const size_t row = FindParam(items.front());
    if (row == rows.size() || rows[row].line != 0) {
      std::string known;
      for (const ParamDescription& d : rows) {
        if (d.line == 0) known += std::string(known.empty() ? "" : ", ") + d.name;
      }
      report.problem = Where(report.path, line) + ": unknown name " + QuotedValue(items.front()) +
                       " (the names after line 17 are " + known + ")";
      return;
    }
    const ParamDescription& d = rows[row];
    const std::string where = Where(report.path, line) + " (" + d.label + ")";
    if (seen[row]) {
      report.problem = where + ": " + d.name + " is given a second time";
      return;
    }
    if (items.size() != 2) {
      report.problem = where + ": expected \"" + d.name + " value\", one word each";
      report.reset.push_back(row);
      return;
    }
    std::string malformed;
    try {
      malformed = SetParamFromText(d, items[1], p);
    } catch (const ParamError&) {
      malformed = "a 32-bit whole number";
    }
    if (!malformed.empty()) {
      report.problem = where + ": " + QuotedValue(items[1]) + " cannot be read (expected " + malformed + ")";
      report.reset.push_back(row);
      return;
    }
    seen[row] = true;
    report.lines[row][0] = line;
  }
}

std::string ResetText(const ParamFileReport& report) {
  const ParamSet standard = InitParams();
  std::string text;
  for (size_t i = 0; i < report.reset.size(); ++i) {
    const ParamDescription& d = ParamRows()[report.reset[i]];
    if (i > 0) text += ", ";
    text += std::string(d.label) + " " + ParamValueText(d, standard);
  }
  return text;
}

std::string BadCopyPath(const ParamFileReport& report) { return report.path + ".bad"; }

}  // namespace

ParamFileReport ReadParamFile(const std::string& path, ParamSet& params) {
  ParamFileReport report;
  report.path = path;
  // A missing file is no problem; one that is there must be a regular file (a FIFO would
  // block, a device never end) of a size a parameter file can have.
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return report;
  const std::string content = ReadWholeFile(path, kMaxParamFileBytes);
  report.found = true;
  ReadText(content, params, report);
  return report;
}

int LoadParams(const std::string& path, ParamSet& params) { return ReadParamFile(path, params).valuesRead; }

std::string FormatParamFile(const ParamSet& p) {
  const ParamSet standard = InitParams();
  std::string out;
  auto line = [&out](const std::string& text) {
    if (!out.empty()) out += "\n";
    out += text;
  };
  for (const ParamDescription& d : ParamRows()) {
    if (d.line == 0) {
      const std::string value = ParamValueText(d, p);
      if (value != ParamValueText(d, standard)) line(std::string(d.name) + " " + value);
      continue;
    }
    switch (d.kind) {
      case ParamKind::Roi: {
        const RoiRect& roi = p.*d.roi;
        for (int32_t edge : {roi.left, roi.top, roi.right, roi.bottom}) line(std::to_string(edge));
        break;
      }
      case ParamKind::Ransac:
        line(std::to_string(p.*d.integer));
        line(std::to_string(p.*d.integer2));
        break;
      default:
        line(ParamValueText(d, p));
    }
  }
  return out;
}

void SaveParams(const std::string& path, const ParamSet& params) { WriteFileAtomically(path, FormatParamFile(params)); }

void CheckLoadedParams(const ParamSet& params, const ParamFileReport& report) {
  try {
    CheckParams(params);
  } catch (const ParamError& e) {
    const int line = e.Row() < report.lines.size() ? report.lines[e.Row()][static_cast<size_t>(e.Part())] : 0;
    if (line == 0) throw;
    throw ParamError(e.Row(), e.Part(), Where(report.path, line) + ": " + e.what());
  }
}

LoadedParams LoadForCommand(const std::function<void(ParamSet&, ParamFileReport&)>& edit) {
  LoadedParams loaded;
  loaded.values = InitParams();
  loaded.report = ReadParamFile(kParamFileName, loaded.values);
  loaded.values.scale = ChosenScale(loaded.values.scale);
  if (edit) edit(loaded.values, loaded.report);
  try {
    CheckLoadedParams(loaded.values, loaded.report);
  } catch (const Error&) {
    loaded.refusal = std::current_exception();
  }
  return loaded;
}

std::string UnreadableParamFileNotice(const ParamFileReport& report) {
  std::string text = report.problem;
  text += report.reset.empty() ? "; the line is left out" : "; reset to the standard values: " + ResetText(report);
  return text + "; the old file is kept as " + BadCopyPath(report);
}

void KeepUnreadableParamFile(const ParamFileReport& report) {
  WriteFileAtomically(BadCopyPath(report), ReadWholeFile(report.path, kMaxParamFileBytes));
}

std::string UnreadableParamFileError(const ParamFileReport& report) {
  std::string text = report.problem;
  if (!report.reset.empty()) text += "; the standard values would replace " + ResetText(report);
  return text + "; correct the line, or run lumet-cli params (or start the window) to reset " +
         (report.reset.empty() ? "it" : "them") + ", keeping the old file as " + BadCopyPath(report);
}

void AdoptParams(ParamSet& params, const std::string& savePath) {
  ParamSet adopted = params;
  CheckParams(adopted);
  DeriveNames(adopted);
  adopted.firstFrame = 1;
  // From here on this process writes in the folder: the parameters, then whatever the
  // command that adopts them writes.
  LockWorkingFolder(std::filesystem::path(savePath).parent_path().string());
  SaveParams(savePath, adopted);
  params = std::move(adopted);
}

}  // namespace lumet
