#include "util/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <utility>

#include "util/error.h"

namespace lumet {

namespace fs = std::filesystem;

namespace {

std::string SystemReason(int err) { return std::strerror(err); }

// Unique within the process and across processes writing to the same folder.
std::string TemporaryName(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  std::ostringstream name;
  name << "." << target.filename().string() << ".tmp-" << ::getpid() << "-" << counter++;
  return (target.parent_path() / name.str()).string();
}

// Flushes the folder's entries, so that a finished rename survives a power loss. Returns
// 0 or the error of a failed flush. A folder that may be written but not read (mode -wx)
// cannot be opened for the flush, and file systems that cannot flush a folder say EINVAL:
// the file is in place all the same, so neither is an error.
int SyncFolder(const fs::path& folder) {
  const std::string name = folder.empty() ? std::string(".") : folder.string();
  const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  int err = 0;
  if (::fsync(fd) != 0 && errno != EINVAL) err = errno;
  ::close(fd);
  return err;
}

}  // namespace

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

void WriteFileAtomically(const std::string& path, std::string_view bytes) { StagedFile(path, bytes).Publish(); }

StagedFile::StagedFile(const std::string& path, std::string_view bytes) {
  if (path.empty()) throw Error("cannot write a file with an empty name");
  const fs::path target(path);
  const fs::path parent = target.parent_path();
  if (!parent.empty()) {
    std::error_code ec;
    fs::create_directories(parent, ec);
    if (ec) {
      throw Error("cannot create folder " + parent.string() + " for " + path + ": " + ec.message());
    }
  }
  IgnoreFileSizeSignal();
  const std::string temp = TemporaryName(target);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw Error("cannot write " + path + ": " + SystemReason(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      throw Error("cannot write " + path + ": " + SystemReason(err));
    }
    done += static_cast<size_t>(n);
  }
  // The data must be on the disk before the rename makes it the target; fdatasync is
  // enough (the size is data, times and owner do not matter here).
  if (::fdatasync(fd) != 0 && errno != EINVAL) {
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    throw Error("cannot write " + path + ": " + SystemReason(err));
  }
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw Error("cannot write " + path + ": " + SystemReason(err));
  }
  path_ = path;
  temp_ = temp;
}

StagedFile::~StagedFile() { Discard(); }

StagedFile::StagedFile(StagedFile&& other) noexcept : path_(std::move(other.path_)), temp_(std::move(other.temp_)) {
  other.temp_.clear();
}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
  if (this != &other) {
    Discard();
    path_ = std::move(other.path_);
    temp_ = std::move(other.temp_);
    other.temp_.clear();
  }
  return *this;
}

void StagedFile::Discard() noexcept {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void FlushFolderOf(const std::string& path) {
  if (const int err = SyncFolder(fs::path(path).parent_path()); err != 0) {
    throw Error("wrote " + path + " but could not flush its folder to the disk: " + SystemReason(err));
  }
}

void StagedFile::Publish(bool flushFolder) {
  if (temp_.empty()) throw Error("cannot write " + path_ + ": nothing is staged for it");
  const std::string temp = std::move(temp_);
  temp_.clear();
  if (std::rename(temp.c_str(), path_.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    throw Error("cannot write " + path_ + ": " + SystemReason(err));
  }
  if (flushFolder) FlushFolderOf(path_);
}

}  // namespace lumet
