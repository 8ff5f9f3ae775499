#include "python/engine_call.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "util/error.h"

namespace lumet::python {

namespace {

// The engine's thread pool and the codec module serve one command at a time.
std::mutex& EngineMutex() {
  static std::mutex mutex;
  return mutex;
}

// How often the waiting caller looks for Ctrl+C.
constexpr std::chrono::milliseconds kSignalInterval{50};

enum class Outcome { Running, Done, Cancelled, Failed, OutOfMemory };

// What the command's thread and the caller share; either may be the last to let go of it.
struct Job {
  std::function<void()> work;
  std::mutex mutex;
  std::condition_variable finished;
  Outcome outcome = Outcome::Running;
  std::string message;
};

void RunJob(const std::shared_ptr<Job>& job) {
  Outcome outcome = Outcome::Done;
  std::string message;
  {
    const std::lock_guard<std::mutex> engine(EngineMutex());
    try {
      job->work();
    } catch (const Cancelled&) {
      outcome = Outcome::Cancelled;
    } catch (const Error& e) {
      outcome = Outcome::Failed;
      message = e.what();
    } catch (const std::bad_alloc&) {
      outcome = Outcome::OutOfMemory;
    }
    // What the work holds goes before the caller hears of the end, so that a caller still
    // waiting is the one that lets go of its Python objects, with the GIL.
    job->work = nullptr;
  }
  const std::lock_guard<std::mutex> lock(job->mutex);
  job->outcome = outcome;
  job->message = std::move(message);
  job->finished.notify_all();
}

}  // namespace

void RunEngine(PythonPort& port, std::function<void()> work, OnInterrupt onInterrupt, PyObject* failureType) {
  auto job = std::make_shared<Job>();
  job->work = std::move(work);
  std::unique_ptr<py::error_already_set> interrupt;  // OnInterrupt::Return: raised at once
  bool told = false;                                 // OnInterrupt::Wait: the command is told to stop
  {
    const py::gil_scoped_release release;
    std::thread([job] { RunJob(job); }).detach();
    std::unique_lock<std::mutex> lock(job->mutex);
    while (!job->finished.wait_for(lock, kSignalInterval, [&] { return job->outcome != Outcome::Running; })) {
      if (told) continue;
      lock.unlock();
      {
        const py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) {
          py::error_already_set error;
          port.RequestStop();
          if (onInterrupt == OnInterrupt::Return) {
            interrupt = std::make_unique<py::error_already_set>(std::move(error));
          } else {
            port.Cancel(std::move(error));
            told = true;
          }
        }
      }
      lock.lock();
      if (interrupt) break;
    }
  }
  if (interrupt) {
    port.Abandon();
    throw std::move(*interrupt);
  }
  port.Finish();  // raises what stopped a cancelled command
  switch (job->outcome) {
    case Outcome::Running:
    case Outcome::Done: return;
    case Outcome::Cancelled: PyErr_SetNone(PyExc_KeyboardInterrupt); throw py::error_already_set();
    case Outcome::Failed:
      PyErr_SetString(failureType, port.InCallersWords(job->message).c_str());
      throw py::error_already_set();
    case Outcome::OutOfMemory: throw std::bad_alloc();
  }
}

void RaiseFileNotFound(const std::string& message, const std::string& path) {
  const py::object error = py::module_::import("builtins").attr("FileNotFoundError")(ENOENT, message, path);
  PyErr_SetObject(PyExc_FileNotFoundError, error.ptr());
  throw py::error_already_set();
}

}  // namespace lumet::python
