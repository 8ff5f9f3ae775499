#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

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

// A fresh empty folder under the system's temporary folder, removed when it goes.
class TempFolder {
 public:
  TempFolder() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("lumet-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

}  // namespace lumet::testing
