#include "util/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/error.h"

namespace lumet {

namespace {

[[noreturn]] void CannotRead(const std::string& path, const std::string& reason) {
  throw Error("cannot read " + path + ": " + reason);
}

// Empty for a regular file, else what the file is instead.
std::string NotRegularReason(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return "it is a folder";
  if (S_ISFIFO(mode)) return "it is a FIFO (named pipe), not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
  return "it is not a regular file";
}

}  // namespace

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

FileHandle OpenRegularFile(const std::string& path) {
  // Looked at before opening, so that no device is ever opened (opening some has effects);
  // looked at again on the open descriptor, in case the name was replaced in between.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) CannotRead(path, std::strerror(errno));
  std::string reason = NotRegularReason(info.st_mode);
  if (!reason.empty()) CannotRead(path, reason);

  // O_NONBLOCK keeps the open of a FIFO that appeared in the meantime from waiting for a
  // writer; it makes no difference to reading a regular file.
  FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.IsOpen()) CannotRead(path, std::strerror(errno));
  if (::fstat(file.Get(), &info) != 0) CannotRead(path, std::strerror(errno));
  reason = NotRegularReason(info.st_mode);
  if (!reason.empty()) CannotRead(path, reason);
  const int flags = ::fcntl(file.Get(), F_GETFL);
  if (flags >= 0) ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK);
  return file;
}

std::string ReadWholeFile(const std::string& path, size_t maxBytes) {
  const FileHandle file = OpenRegularFile(path);
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) CannotRead(path, std::strerror(errno));
  const auto tooLarge = [&](const std::string& size) {
    CannotRead(path, "file of " + size + " bytes is larger than the " + std::to_string(maxBytes) +
                         " bytes such a file can have");
  };
  const auto size = static_cast<unsigned long long>(info.st_size);
  if (size > maxBytes) tooLarge(std::to_string(size));

  // The file may grow while it is read: no more than maxBytes + 1 bytes are taken.
  std::string content;
  content.resize(static_cast<size_t>(size));
  size_t done = 0;
  char spare[4096];
  for (;;) {
    char* at = done < content.size() ? content.data() + done : spare;
    const size_t room = done < content.size() ? content.size() - done : sizeof spare;
    const ssize_t n = ::read(file.Get(), at, room);
    if (n < 0) {
      if (errno == EINTR) continue;
      CannotRead(path, std::strerror(errno));
    }
    if (n == 0) break;
    if (at == spare) content.append(spare, static_cast<size_t>(n));
    done += static_cast<size_t>(n);
    if (done > maxBytes) tooLarge("more than " + std::to_string(maxBytes));
  }
  content.resize(done);
  return content;
}

}  // namespace lumet
