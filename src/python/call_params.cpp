#include "python/call_params.h"

#include <algorithm>
#include <map>

#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "python/keyword_text.h"
#include "util/memory_limit.h"
#include "util/error.h"

namespace lumet::python {

namespace {

// Rows that name files: the frames and results of a call are arrays.
bool IsFileRow(const ParamDescription& row) { return row.kind == ParamKind::Text; }

// A keyword the caller gave: the name used, its value's text for the engine, its repr.
struct Given {
  std::string asked;
  std::string text;
  std::string repr;
};

// The engine's refusal of a parameter starts with its label and value ("PSF sigma 7 is out
// of range ..."); the caller reads it with the keyword and value given ("psf_sigma=7.0 ...").
std::string InCallersWords(const std::string& message, const ParamDescription& row, const Given& given) {
  const std::string label = std::string(row.label) + " ";
  if (message.rfind(label, 0) != 0) return FlagsAsKeywords(message);
  const size_t end = std::min(message.find_first_of(" :", label.size()), message.size());
  return FlagsAsKeywords(given.asked + "=" + given.repr + message.substr(end));
}

// The value as the command line would be typed: numbers in their shortest exact form,
// a ROI as x,y,w,h and a RANSAC pair as U/N from tuples.
std::string ValueText(const ParamDescription& row, const std::string& name, const py::handle& value) {
  if (row.onOff) {
    // A switch takes True or False (or the command line's "on" and "off").
    if (py::isinstance<py::bool_>(value)) return value.cast<bool>() ? "on" : "off";
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    throw py::type_error(name + " must be True or False, not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
  }
  if (py::isinstance<py::bool_>(value)) throw py::type_error(name + " must be a number, not a bool");
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (row.kind == ParamKind::Roi || row.kind == ParamKind::Ransac) {
    if (!py::isinstance<py::sequence>(value)) {
      throw py::type_error(name + (row.kind == ParamKind::Roi ? " must be (x, y, w, h)" : " must be (U, N)"));
    }
    std::string text;
    for (const py::handle part : py::reinterpret_borrow<py::sequence>(value)) {
      if (!text.empty()) text += row.kind == ParamKind::Roi ? "," : "/";
      text += ValueText(ParamRows()[FindParam("lrCount")], name, part);
    }
    return text;
  }
  const py::object builtins = py::module_::import("builtins");
  const py::object operatorModule = py::module_::import("operator");
  if (row.kind == ParamKind::Double) {
    // repr of a float is its shortest text that reads back as the same number.
    return py::repr(builtins.attr("float")(value)).cast<std::string>();
  }
  try {
    return py::str(operatorModule.attr("index")(value)).cast<std::string>();
  } catch (py::error_already_set&) {
    if (row.kind == ParamKind::Scale) return py::repr(builtins.attr("float")(value)).cast<std::string>();
    throw py::type_error(name + " must be a whole number, not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
  }
}

}  // namespace

std::string KeywordList() {
  std::string list;
  for (const ParamDescription& row : ParamRows()) {
    if (IsFileRow(row)) continue;
    list += (list.empty() ? "" : ", ") + KeywordOf(row);
  }
  return list;
}

ParamSet ParamsFromKeywords(const py::dict& keywords, int frameCount) {
  ParamSet p = InitParams();
  p.lrCount = std::max(0, frameCount - 1);
  if (frameCount < 2 && !keywords.contains("lr_count")) {
    throw py::value_error("frames holds " + std::to_string(frameCount) + (frameCount == 1 ? " frame" : " frames") +
                          ": registration needs frame 0 and at least one more");
  }
  std::map<size_t, Given> givenRows;
  for (const auto& [key, value] : keywords) {
    const std::string asked = py::str(key).cast<std::string>();
    if (value.is_none()) continue;  // the default
    const std::string name = asked == "lambda" ? "lambda_" : asked;
    const auto row = std::find_if(ParamRows().begin(), ParamRows().end(),
                                  [&](const ParamDescription& r) { return KeywordOf(r) == name; });
    if (row == ParamRows().end() || IsFileRow(*row)) {
      throw py::type_error("unexpected keyword argument " + asked + (row == ParamRows().end() ? "" : " (frames and results are arrays here)") +
                           "; the parameters are " + KeywordList());
    }
    const Given& given = givenRows[static_cast<size_t>(row - ParamRows().begin())] =
        Given{asked, ValueText(*row, asked, value), py::repr(value).cast<std::string>()};
    std::string expected;
    try {
      expected = SetParamFromText(*row, given.text, p);
    } catch (const ParamError& e) {
      throw py::value_error(InCallersWords(e.what(), *row, given));
    }
    if (!expected.empty()) throw py::value_error(asked + ": expected " + expected + ", got " + given.repr);
  }
  try {
    CheckParams(p);
  } catch (const ParamError& e) {
    const auto given = givenRows.find(e.Row());
    throw py::value_error(given == givenRows.end() ? FlagsAsKeywords(e.what())
                                                   : InCallersWords(e.what(), ParamRows()[e.Row()], given->second));
  }
  DeriveNames(p);
  p.referenceFile = "frames[" + std::to_string(p.startIndex) + "]";
  return p;
}

int ThreadsOf(const py::handle& value) {
  if (value.is_none()) return 0;
  if (py::isinstance<py::bool_>(value) || !py::isinstance<py::int_>(value)) {
    throw py::type_error("threads must be a whole number or None, not " + py::repr(value).cast<std::string>());
  }
  const long long threads = value.cast<long long>();
  if (threads < 0 || threads > kMostThreads) {
    throw py::value_error("threads=" + std::to_string(threads) + " is out of range (allowed: 0 to " +
                          std::to_string(kMostThreads) + "; None or 0 for every core)");
  }
  return static_cast<int>(threads);
}

size_t MemoryLimitOf(const py::handle& value) {
  if (value.is_none()) return DefaultMemoryLimit();
  if (py::isinstance<py::str>(value)) {
    try {
      return ParseMemorySize(value.cast<std::string>());
    } catch (const Error& e) {
      throw py::value_error(std::string("memory_limit: ") + e.what());
    }
  }
  if (py::isinstance<py::bool_>(value) || !py::isinstance<py::int_>(value)) {
    throw py::type_error("memory_limit must be a number of bytes or a size such as '1.5G', not " +
                         py::repr(value).cast<std::string>());
  }
  const long long bytes = value.cast<long long>();
  if (bytes < 1) throw py::value_error("memory_limit=" + std::to_string(bytes) + " is out of range (allowed: 1 byte or more)");
  return static_cast<size_t>(bytes);
}

namespace {

// A keyword's whole number (anything operator.index takes, but not a bool), its errors
// naming the keyword and what it counts.
int WholeNumberOf(const py::handle& value, const char* keyword, const char* what) {
  const std::string name(keyword);
  if (py::isinstance<py::bool_>(value)) throw py::type_error(name + " must be " + what + ", not a bool");
  try {
    return py::module_::import("operator").attr("index")(value).cast<int>();
  } catch (py::error_already_set&) {
    throw py::type_error(name + " must be " + what + ", not " + py::repr(value).cast<std::string>());
  } catch (py::cast_error&) {
    throw py::value_error(name + "=" + py::repr(value).cast<std::string>() + " is not " + what);
  }
}

}  // namespace

int RadiusOf(const py::handle& value) {
  const int radius = WholeNumberOf(value, "radius", "a whole number");
  if (radius < 1) throw py::value_error("radius=" + std::to_string(radius) + ": a window needs radius 1 or more");
  return radius;
}

int ReferenceOf(const py::handle& value, int lrCount) {
  const int reference = WholeNumberOf(value, "reference", "a frame number");
  if (reference < 0 || reference > lrCount) {
    throw py::value_error("reference=" + std::to_string(reference) + " is not one of the frames 0 .. " +
                          std::to_string(lrCount) + " (lr_count=" + std::to_string(lrCount) + ")");
  }
  return reference;
}

}  // namespace lumet::python
