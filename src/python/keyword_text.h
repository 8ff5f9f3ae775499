#pragma once

#include <string>

#include "params/param_description.h"

namespace lumet::python {

// A parameter row's keyword: the option's name with "_" for "-", "lambda_" for lambda
// (a Python word).
std::string KeywordOf(const ParamDescription& row);

// The engine's messages name command-line options; a Python caller passes keywords. Every
// option a call has ("--psf-sigma", "--memory-limit", ...) becomes its keyword form, its
// value with it as Python writes it: "--ransac 20/25" -> "ransac=(20, 25)",
// "--method classic" -> "method='classic'", "--lr-count auto" -> "lr_count=None", a lone
// "(--memory-limit)" -> "(memory_limit=)". startKeyword names the start index (read_frames
// calls it `start`).
std::string FlagsAsKeywords(const std::string& text, const std::string& startKeyword = "start_index");

// A parameter's value as Python writes it, from its command-line text ("20/25" -> "(20, 25)"),
// or "" when the text is no value of the row.
std::string PythonValueText(const ParamDescription& row, const std::string& text);

// The signature Python's inspect reads from a builtin's docstring: "name(leading, <every
// parameter keyword with its default>)\n--\n\n". leading holds the call's own arguments and
// ends with the keyword-only ones (after "*"); roi, scale and method are among them.
std::string SignatureText(const std::string& name, const std::string& leading);

}  // namespace lumet::python
