#pragma once

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "imageio/codec_module.h"

namespace lumet::codec {

// How the module's own code reports a failure; it never leaves the module: Guard turns it
// into a status and a message at each entry.
struct Failure {
  Status status;
  std::string message;
};

// message is the whole user-facing message.
[[noreturn]] inline void Fail(std::string message) { throw Failure{Status::kFailed, std::move(message)}; }

// A still frame that cannot be decoded: reason is what the library said.
[[noreturn]] inline void FailUnreadable(std::string reason) { throw Failure{Status::kUnreadable, std::move(reason)}; }

// Runs body (which returns a Status) and catches everything it throws.
template <typename Body>
Status Guard(std::string* message, Body&& body) noexcept {
  try {
    return body();
  } catch (Failure& failure) {
    message->swap(failure.message);
    return failure.status;
  } catch (const std::bad_alloc&) {
    return Status::kOutOfMemory;
  } catch (const std::exception& e) {
    try {
      *message = e.what();
    } catch (...) {
      return Status::kOutOfMemory;
    }
    return Status::kInternal;
  } catch (...) {
    try {
      *message = "unknown exception in the codec module";
    } catch (...) {
      return Status::kOutOfMemory;
    }
    return Status::kInternal;
  }
}

}  // namespace lumet::codec
