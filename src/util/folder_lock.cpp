#include "util/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "util/error.h"

namespace lumet {

namespace fs = std::filesystem;

namespace {

std::mutex lockMutex;
int lockFd = -1;
std::string lockedFolder;  // absolute, normalised

}  // namespace

namespace {

std::string FolderKey(const std::string& folder) {
  std::error_code ec;
  const fs::path absolute = fs::weakly_canonical(fs::absolute(folder.empty() ? "." : folder, ec), ec);
  return ec ? folder : absolute.string();
}

// The folder's descriptor, locked; -1 where it cannot be opened or the file system has no
// locks. lumet::Error when another process holds the lock.
int LockFolder(const std::string& key) {
  // The folder itself carries the lock: no file is added to it.
  const int fd = ::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) {
      throw Error("folder " + key + " is in use by another Lumet command writing there; wait until that one has ended");
    }
    return -1;
  }
  return fd;
}

}  // namespace

void LockWorkingFolder(const std::string& folder) {
  const std::string key = FolderKey(folder);
  std::lock_guard<std::mutex> guard(lockMutex);
  if (lockFd >= 0 && key == lockedFolder) return;
  const int fd = LockFolder(key);
  if (fd < 0) return;
  if (lockFd >= 0) ::close(lockFd);  // releases the previous folder
  lockFd = fd;
  lockedFolder = key;
}

ScopedFolderLock::ScopedFolderLock(const std::string& folder) {
  const std::string key = FolderKey(folder);
  std::lock_guard<std::mutex> guard(lockMutex);
  if (lockFd >= 0 && key == lockedFolder) return;  // this process is the folder's writer already
  fd_ = LockFolder(key);
}

ScopedFolderLock::~ScopedFolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace lumet
