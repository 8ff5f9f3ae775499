#pragma once

#include <stdexcept>
#include <string>

namespace lumet {

// A user-facing failure: a file that cannot be read or written, a bad parameter, a
// malformed file. The message names the file or value and says what is wrong; each
// command reports it at its boundary as "Error: <message>".
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// Thrown out of a command when the user asked it to stop. Not an error: front ends
// report it as "Cancelled".
class Cancelled : public std::runtime_error {
 public:
  Cancelled() : std::runtime_error("Cancelled") {}
};

}  // namespace lumet
