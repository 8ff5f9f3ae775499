#include "python/python_port.h"

#include "workbench/warning_groups.h"

namespace lumet::python {

namespace {

// How often a running command looks for Ctrl+C: well within the half second a user waits.
constexpr std::chrono::milliseconds kSignalInterval{100};

}  // namespace

PythonPort::~PythonPort() {
  if (error_ != nullptr) {
    const py::gil_scoped_acquire gil;
    delete error_;
  }
}

bool PythonPort::CheckSignals() {
  if (failed_) return false;
  try {
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  } catch (py::error_already_set& e) {
    error_ = new py::error_already_set(std::move(e));
    failed_ = true;
  }
  return !failed_;
}

void PythonPort::ReportProgress(const std::string& stage, int step, int total) {
  if (failed_) return;
  const py::gil_scoped_acquire gil;
  if (!CheckSignals() || progress_.is_none()) return;
  lastCheck_ = std::chrono::steady_clock::now();
  try {
    progress_(stage, step, total);
  } catch (py::error_already_set& e) {
    error_ = new py::error_already_set(std::move(e));
    failed_ = true;
  }
}

bool PythonPort::CancelRequested() {
  if (failed_) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastCheck_ < kSignalInterval) return false;
  lastCheck_ = now;
  const py::gil_scoped_acquire gil;
  return !CheckSignals();
}

void PythonPort::Finish() {
  if (error_ != nullptr) {
    py::error_already_set error = std::move(*error_);
    delete error_;
    error_ = nullptr;
    throw error;
  }
  const py::object warn = py::module_::import("warnings").attr("warn");
  for (const std::string& line : GroupWarnings(warnings_)) {
    // "Warning: " is what the command line puts before it; Python names the category itself.
    warn(line.substr(line.rfind("Warning: ", 0) == 0 ? 9 : 0), py::module_::import("builtins").attr("RuntimeWarning"),
         2);
  }
  warnings_.clear();
}

}  // namespace lumet::python
