#pragma once

#include <pybind11/pybind11.h>

#include <functional>

#include "python/python_port.h"

namespace lumet::python {

namespace py = pybind11;

// Runs work (an engine command) with the GIL released, one call into the engine at a time,
// then reports its outcome in Python terms: Ctrl+C or an exception from the progress
// callback is raised as such, a refused value as ValueError, any other failure as the
// exception type given (ValueError for the commands, OSError for files), out of memory as
// MemoryError. Called with the GIL held.
void RunEngine(PythonPort& port, const std::function<void()>& work, PyObject* failureType = PyExc_ValueError);

// Raises FileNotFoundError(ENOENT, message, path).
[[noreturn]] void RaiseFileNotFound(const std::string& message, const std::string& path);

}  // namespace lumet::python
