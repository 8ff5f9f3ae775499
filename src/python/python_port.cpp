#include "python/python_port.h"

#include "python/keyword_text.h"
#include "workbench/warning_groups.h"

namespace lumet::python {

PythonPort::~PythonPort() {
  // Abandon leaves nothing of Python here; otherwise the caller ends the call with the GIL.
  if (error_ || progress_) {
    const py::gil_scoped_acquire gil;
    error_.reset();
    progress_ = py::object();
  }
}

void PythonPort::Keep(py::error_already_set&& error) {
  if (!error_) error_ = std::make_unique<py::error_already_set>(std::move(error));
  stopped_.store(true);
}

void PythonPort::ReportProgress(const std::string& stage, int step, int total) {
  if (stopped_.load()) return;
  const py::gil_scoped_acquire gil;
  if (stopped_.load() || !progress_ || progress_.is_none()) return;
  try {
    progress_(stage, step, total);
  } catch (py::error_already_set& e) {
    Keep(std::move(e));
  }
}

std::string PythonPort::InCallersWords(const std::string& text) const { return FlagsAsKeywords(text, startKeyword); }

void PythonPort::Cancel(py::error_already_set&& error) { Keep(std::move(error)); }

void PythonPort::Abandon() {
  stopped_.store(true);
  progress_ = py::object();
  error_.reset();
}

void PythonPort::Finish() {
  if (error_) {
    py::error_already_set error = std::move(*error_);
    error_.reset();
    throw error;
  }
  const py::object warn = py::module_::import("warnings").attr("warn");
  const py::object category = py::module_::import("builtins").attr("RuntimeWarning");
  for (const std::string& line : GroupWarnings(warnings_)) {
    // "Warning: " is what the command line puts before it; Python names the category itself.
    // Called from the module's function, which has no Python frame of its own: level 1 is
    // the caller's line.
    warn(InCallersWords(line.substr(line.rfind("Warning: ", 0) == 0 ? 9 : 0)), category, 1);
  }
  warnings_.clear();
}

}  // namespace lumet::python
