#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <string>

#include "python/python_port.h"

namespace lumet::python {

namespace py = pybind11;

// How RunEngine treats Ctrl+C.
enum class OnInterrupt {
  // The caller gets KeyboardInterrupt at once; the command, told to stop, ends on its own
  // at its next cancel point. Its work must own everything it uses (the port included).
  Return,
  // The command is told to stop and waited for (work may use the caller's locals).
  Wait,
};

// Runs work (an engine command) on a thread of its own, one engine command at a time, while
// the calling thread waits without the GIL and looks for Ctrl+C every few tens of
// milliseconds. Then reports the outcome in Python terms: Ctrl+C or an exception from the
// progress callback is raised as such, any failure of the command as failureType (its
// message in the caller's words, PythonPort::InCallersWords)
// (ValueError for the commands, OSError for files), out of memory as MemoryError.
// Called with the GIL held.
void RunEngine(PythonPort& port, std::function<void()> work, OnInterrupt onInterrupt,
               PyObject* failureType = PyExc_ValueError);

// Raises FileNotFoundError(ENOENT, message, path).
[[noreturn]] void RaiseFileNotFound(const std::string& message, const std::string& path);

}  // namespace lumet::python
