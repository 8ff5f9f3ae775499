#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "util/folder_lock.h"

namespace lumet::testing {

// Another process that holds a folder's writer lock until Release() (or destruction): the
// child takes the lock, says so through a pipe, and waits for the word to end.
class FolderLockHolder {
 public:
  explicit FolderLockHolder(const std::string& folder) {
    if (::pipe(ready_) != 0 || ::pipe(release_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      LockWorkingFolder(folder);
      char byte = 1;
      (void)!::write(ready_[1], &byte, 1);
      (void)!::read(release_[0], &byte, 1);
      ::_exit(0);
    }
    char byte = 0;
    holding_ = pid_ > 0 && ::read(ready_[0], &byte, 1) == 1;
  }
  ~FolderLockHolder() {
    Release();
    for (int fd : {ready_[0], ready_[1], release_[0], release_[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }
  FolderLockHolder(const FolderLockHolder&) = delete;
  FolderLockHolder& operator=(const FolderLockHolder&) = delete;

  // True once the other process holds the lock.
  bool Holding() const { return holding_; }

  // Ends the other process, and with it its lock.
  void Release() {
    if (pid_ <= 0) return;
    char byte = 0;
    (void)!::write(release_[1], &byte, 1);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    holding_ = false;
  }

 private:
  int ready_[2] = {-1, -1};
  int release_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool holding_ = false;
};

}  // namespace lumet::testing
