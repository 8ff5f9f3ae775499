#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <string>
#include <vector>

#include "workbench/model_port.h"

namespace lumet::python {

namespace py = pybind11;

// The UI port of a call from Python, which runs the command with the GIL released. Log
// lines are kept; progress goes to the caller's callback and warnings are kept for
// warnings.warn, both taken up again with the GIL. Cancel is asked for by Ctrl+C (the
// interpreter's pending signals, looked at every kSignalInterval) or by an exception the
// callback raised; the Python error is kept and raised once the command has stopped.
class PythonPort : public ModelPort {
 public:
  explicit PythonPort(py::object progress) : progress_(std::move(progress)) {}
  ~PythonPort() override;
  PythonPort(const PythonPort&) = delete;
  PythonPort& operator=(const PythonPort&) = delete;

  void AppendLog(const std::string& text) override { log.push_back(text); }
  void Warn(const FrameWarning& warning) override { warnings_.push_back(warning); }
  void ReportProgress(const std::string& stage, int step, int total) override;
  bool CancelRequested() override;
  bool ShowsWorkInProgress() const override { return false; }

  // With the GIL held, after the command: raises the kept Python error, if any, else
  // issues the warnings (RuntimeWarning, one per kind).
  void Finish();

  std::vector<std::string> log;

 private:
  // Calls with the GIL held; false once a Python error is kept.
  bool CheckSignals();

  py::object progress_;
  std::vector<FrameWarning> warnings_;
  bool failed_ = false;
  py::error_already_set* error_ = nullptr;
  std::chrono::steady_clock::time_point lastCheck_{};
};

}  // namespace lumet::python
