#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/error.h"

namespace lumet::testing {

// Runs action and expects a lumet::Error whose message holds every given part (the file
// or value it names, what is wrong). Returns the message for further checks.
template <typename Action>
std::string ExpectError(Action&& action, const std::vector<std::string>& parts = {}) {
  try {
    action();
  } catch (const Error& e) {
    const std::string message = e.what();
    for (const std::string& part : parts) {
      EXPECT_NE(message.find(part), std::string::npos) << "\"" << message << "\" does not say \"" << part << "\"";
    }
    return message;
  }
  ADD_FAILURE() << "no error";
  return {};
}

}  // namespace lumet::testing
