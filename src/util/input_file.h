#pragma once

#include <cstddef>
#include <string>

namespace lumet {

// Reading of input files (frames, param.txt, homography files). A FIFO would block the
// reader for ever and a device such as /dev/zero would fill memory, so only regular files
// are read, and each kind of file is read up to the largest size a valid one can have.

// An open file descriptor, closed when the handle goes.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Largest file ReadWholeFile reads when its caller names no smaller limit.
inline constexpr size_t kDefaultMaxReadBytes = size_t{1} << 30;

// Opens path for reading when it is a regular file (symbolic links followed). Anything
// else -- folder, FIFO, socket, device -- is refused at once with a lumet::Error naming
// path and what it is; the check never blocks (a FIFO without a writer included). A path
// that cannot be opened is a lumet::Error with the system's reason.
FileHandle OpenRegularFile(const std::string& path);

// Reads the whole regular file at path (see OpenRegularFile). A file of more than
// maxBytes bytes is refused with a lumet::Error naming path and the limit, before any of
// it is read.
std::string ReadWholeFile(const std::string& path, size_t maxBytes = kDefaultMaxReadBytes);

}  // namespace lumet
