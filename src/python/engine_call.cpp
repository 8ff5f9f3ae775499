#include "python/engine_call.h"

#include <cerrno>
#include <mutex>
#include <new>
#include <string>

#include "util/error.h"

namespace lumet::python {

namespace {

// The engine's thread pool and the codec module serve one command at a time.
std::mutex& EngineMutex() {
  static std::mutex mutex;
  return mutex;
}

enum class Outcome { Done, Cancelled, Failed, OutOfMemory };

}  // namespace

void RunEngine(PythonPort& port, const std::function<void()>& work, PyObject* failureType) {
  Outcome outcome = Outcome::Done;
  std::string message;
  {
    const py::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(EngineMutex());
    try {
      work();
    } catch (const Cancelled&) {
      outcome = Outcome::Cancelled;
    } catch (const Error& e) {
      outcome = Outcome::Failed;
      message = e.what();
    } catch (const std::bad_alloc&) {
      outcome = Outcome::OutOfMemory;
    }
  }
  port.Finish();  // raises what stopped a cancelled command
  switch (outcome) {
    case Outcome::Done: return;
    case Outcome::Cancelled: PyErr_SetNone(PyExc_KeyboardInterrupt); throw py::error_already_set();
    case Outcome::Failed: PyErr_SetString(failureType, message.c_str()); throw py::error_already_set();
    case Outcome::OutOfMemory: throw std::bad_alloc();
  }
}

void RaiseFileNotFound(const std::string& message, const std::string& path) {
  const py::object error =
      py::module_::import("builtins").attr("FileNotFoundError")(ENOENT, message, path);
  PyErr_SetObject(PyExc_FileNotFoundError, error.ptr());
  throw py::error_already_set();
}

}  // namespace lumet::python
