#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_folder.h"

namespace lumet::testing {

// Result of one lumet-cli run.
struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs the built lumet-cli with the given argument text (already shell-quoted) in folder,
// capturing stdout and stderr.
inline CliResult RunCli(const std::string& args, const std::filesystem::path& folder) {
  const auto errFile = folder / ".cli-stderr.txt";
  const std::string command = "cd '" + folder.string() + "' && '" + std::string(LUMET_CLI_PATH) + "' " + args +
                              " 2>'" + errFile.string() + "'";
  CliResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errFile, std::ios::binary);
  std::ostringstream text;
  text << err.rdbuf();
  result.err = text.str();
  std::filesystem::remove(errFile);
  return result;
}

}  // namespace lumet::testing
