#include "python/call_params.h"

#include <algorithm>

#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "util/error.h"

namespace lumet::python {

namespace {

// Rows that name files: the frames and results of a call are arrays.
bool IsFileRow(const ParamDescription& row) { return row.kind == ParamKind::Text; }

std::string KeywordOf(const ParamDescription& row) {
  std::string name = std::string(row.flag).substr(2);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

// The value as the command line would be typed: numbers in their shortest exact form,
// a ROI as x,y,w,h and a RANSAC pair as U/N from tuples.
std::string ValueText(const ParamDescription& row, const std::string& name, const py::handle& value) {
  if (py::isinstance<py::bool_>(value)) throw py::type_error(name + " must be a number, not a bool");
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (row.kind == ParamKind::Roi || row.kind == ParamKind::Ransac) {
    if (!py::isinstance<py::sequence>(value)) {
      throw py::type_error(name + (row.kind == ParamKind::Roi ? " must be (x, y, w, h)" : " must be (U, N)"));
    }
    std::string text;
    for (const py::handle part : py::reinterpret_borrow<py::sequence>(value)) {
      if (!text.empty()) text += row.kind == ParamKind::Roi ? "," : "/";
      text += ValueText(kParams[FindParam("lrCount")], name, part);
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
  for (const ParamDescription& row : kParams) {
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
  for (const auto& [key, value] : keywords) {
    std::string name = py::str(key).cast<std::string>();
    if (value.is_none()) continue;  // the default
    const std::string asked = name;
    if (name == "lambda_") name = "lambda";
    const auto row = std::find_if(kParams.begin(), kParams.end(),
                                  [&](const ParamDescription& r) { return KeywordOf(r) == name; });
    if (row == kParams.end() || IsFileRow(*row)) {
      throw py::type_error("unexpected keyword argument " + asked + (row == kParams.end() ? "" : " (frames and results are arrays here)") +
                           "; the parameters are " + KeywordList());
    }
    const std::string text = ValueText(*row, asked, value);
    std::string expected;
    try {
      expected = SetParamFromText(*row, text, p);
    } catch (const ParamError& e) {
      throw py::value_error(e.what());
    }
    if (!expected.empty()) throw py::value_error(asked + ": expected " + expected + ", got \"" + text + "\"");
  }
  try {
    CheckParams(p);
  } catch (const ParamError& e) {
    throw py::value_error(e.what());
  }
  DeriveNames(p);
  p.referenceFile = "frames[" + std::to_string(p.startIndex) + "]";
  return p;
}

}  // namespace lumet::python
