#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "workbench/model_port.h"

namespace lumet::python {

namespace py = pybind11;

// The UI port of a call from Python. The command runs on a thread of its own without the
// GIL: progress goes to the caller's callback (the GIL taken for it), log lines and warnings
// are kept. The calling thread looks for Ctrl+C meanwhile and asks the command to stop
// (Cancel); an exception the callback raises stops it too. Python errors are kept and
// raised by Finish, on the calling thread.
class PythonPort : public ModelPort {
 public:
  explicit PythonPort(py::object progress) : progress_(std::move(progress)) {}
  ~PythonPort() override;
  PythonPort(const PythonPort&) = delete;
  PythonPort& operator=(const PythonPort&) = delete;

  void AppendLog(const std::string& text) override { log.push_back(text); }
  void Warn(const FrameWarning& warning) override { warnings_.push_back(warning); }
  void ReportProgress(const std::string& stage, int step, int total) override;
  bool CancelRequested() override { return stopped_.load(); }
  bool ShowsWorkInProgress() const override { return false; }

  // From any thread: the command is to stop; progress is no longer reported.
  void RequestStop() { stopped_.store(true); }
  // With the GIL held: the command is to stop because of `error` (a KeyboardInterrupt).
  void Cancel(py::error_already_set&& error);
  // With the GIL held: lets go of every Python object, for a command left to stop on its
  // own after the caller has gone on; the command then calls nothing in Python.
  void Abandon();
  // With the GIL held, after the command: raises the kept Python error, if any, else
  // issues the warnings (RuntimeWarning, one per kind, attributed to the caller's line).
  void Finish();

  // The engine's words for a Python caller: its options' flags as the call's keywords.
  std::string InCallersWords(const std::string& text) const;

  std::vector<std::string> log;
  // The keyword of the start index in this call's messages.
  std::string startKeyword = "start_index";

 private:
  void Keep(py::error_already_set&& error);

  py::object progress_;
  std::vector<FrameWarning> warnings_;
  std::atomic<bool> stopped_{false};
  std::unique_ptr<py::error_already_set> error_;
};

}  // namespace lumet::python
