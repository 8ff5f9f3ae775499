#pragma once

#include <stdexcept>
#include <string>

#include "lumet/export.h"

namespace lumet {

// A user-facing failure: a file that cannot be read or written, a bad parameter, a
// malformed file. The message names the file or value and says what is wrong.
class LUMET_API Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// Thrown out of a stage when its observer asked it to stop. Not an error.
class LUMET_API Cancelled : public std::runtime_error {
 public:
  Cancelled() : std::runtime_error("Cancelled") {}
};

}  // namespace lumet
