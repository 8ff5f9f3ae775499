#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace lumet::fuzz {

// The readers under test take a path: each input is written to one file in a folder of
// this process (in memory where /dev/shm exists), without the atomic writer's flushes,
// which would make every run wait for the disk.
inline std::filesystem::path InputFolder() {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
  return base / ("lumet-fuzz-" + std::to_string(::getpid()));
}

inline std::string InputPath(const char* name) {
  static const std::filesystem::path folder = [] {
    std::filesystem::create_directories(InputFolder());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(InputFolder(), ignored);
    });
    return InputFolder();
  }();
  return (folder / name).string();
}

inline std::string WriteInput(const char* name, const uint8_t* data, size_t size) {
  const std::string path = InputPath(name);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                static_cast<std::streamsize>(size));
  return path;
}

// A broken invariant: stop so that the fuzzer keeps the input.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace lumet::fuzz
