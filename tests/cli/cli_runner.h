#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace lumet::testing {

struct CliResult {
  int exitCode = -1;
  std::string out, err;
};

// The leak checker of a sanitized build crashed at the program's exit, while its threads
// wound down: an intermittent fault of the sanitizer runtime, with no report of the
// program's own (scripts/lsan-retry.sh retries the test programs for it).
inline bool LeakCheckerCrashed(const std::string& err) {
  return err.find("LeakSanitizer has encountered a fatal error") != std::string::npos &&
         err.find("ERROR: LeakSanitizer: detected memory leaks") == std::string::npos &&
         err.find("ERROR: AddressSanitizer") == std::string::npos && err.find("runtime error:") == std::string::npos;
}

// Runs program in folder with the given (already shell-quoted) arguments; a run whose leak
// checker crashed at exit is made again, at most twice more.
inline CliResult RunProgram(const std::string& program, const std::string& args, const std::filesystem::path& folder) {
  const auto errFile = folder / ".cli-stderr.txt";
  const std::string command =
      "cd '" + folder.string() + "' && '" + program + "' " + args + " 2>'" + errFile.string() + "'";
  CliResult result;
  for (int attempt = 0; attempt < 3; ++attempt) {
    result = CliResult();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadText(errFile);
    std::filesystem::remove(errFile);
    if (!LeakCheckerCrashed(result.err)) break;
  }
  return result;
}

// Runs the built lumet-cli in folder with the given (already shell-quoted) arguments.
inline CliResult RunCli(const std::string& args, const std::filesystem::path& folder) {
  return RunProgram(LUMET_CLI_PATH, args, folder);
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Expects a run that failed with exit status 1 and an error message naming what.
inline void ExpectError(const CliResult& r, const std::string& what) {
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
}

}  // namespace lumet::testing
