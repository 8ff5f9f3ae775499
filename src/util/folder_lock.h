#pragma once

#include <string>

#include "util/non_copyable.h"

namespace lumet {

// One writer per working folder. Two commands writing in the same folder at once would
// leave param.txt and the homographies of one beside the result of the other, so every
// command that writes there first makes its process the folder's one writer: an exclusive
// advisory lock (flock) on the folder itself (no file is added), held until the process ends
// or locks another folder. Locking the folder the process already holds does nothing. When
// another process holds it: lumet::Error naming the folder. A folder that cannot be opened
// (no permission) or a file system without locks is not locked; the writes there fail on
// their own with their reason.
void LockWorkingFolder(const std::string& folder);

// The same lock for the object's lifetime only (a command that writes a folder once, such
// as writing a synthetic sequence). Nothing when the process holds the folder already.
class ScopedFolderLock : NonCopyable {
 public:
  explicit ScopedFolderLock(const std::string& folder);
  ~ScopedFolderLock();

 private:
  int fd_ = -1;
};

}  // namespace lumet
