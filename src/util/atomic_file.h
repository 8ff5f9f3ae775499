#pragma once

#include <string>
#include <string_view>

#include "util/input_file.h"
#include "util/non_copyable.h"

namespace lumet {

// The one writer of every output file: the bytes go to a temporary file in the target's
// folder, which is then renamed over the target, so an interrupted write never leaves a
// truncated file. The temporary file is flushed to the disk before the rename and the
// folder after it, so the new file survives a power loss too. Missing parent folders are
// created. Throws lumet::Error naming the path when anything fails (a full disk, a
// file-size limit, ...); the target is then left as it was and no temporary file remains.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// The same writer in two steps, for commands that prepare many files at once and put them
// in place in order: the constructor writes the bytes to the temporary file and flushes
// it (the slow part, safe to run on several threads for different targets); Publish
// renames it over the target and flushes the folder. Errors are WriteFileAtomically's,
// word for word. A staged file that is never published is removed, the target untouched.
class StagedFile;

// Flushes the folder of path to the disk (the last step of WriteFileAtomically), with its
// error naming path.
void FlushFolderOf(const std::string& path);

class StagedFile : NonCopyable {
 public:
  StagedFile() = default;
  StagedFile(const std::string& path, std::string_view bytes);
  ~StagedFile();
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&& other) noexcept;

  // True from construction until Publish (or a move from it).
  bool Staged() const { return !temp_.empty(); }
  // flushFolder false leaves the folder's flush to one FlushFolderOf after several files.
  void Publish(bool flushFolder = true);

 private:
  void Discard() noexcept;
  std::string path_;
  std::string temp_;
};

// A file written as a stream (a video, whose size is not known in advance) under the
// temporary name the writer above uses, in the target's folder (created when missing), and
// put in place by Publish. Until then nothing is under the target's name; an unpublished
// file is removed. Errors name path, as the writer's do.
class StreamedFile : NonCopyable {
 public:
  explicit StreamedFile(const std::string& path);
  ~StreamedFile();

  // The temporary file, open for writing.
  int Fd() const { return fd_; }
  // Flushes the file to the disk, renames it over the target and flushes the folder.
  void Publish();

 private:
  std::string path_;
  std::string temp_;
  int fd_ = -1;
};

// Makes a write beyond the file-size limit (ulimit -f) fail with EFBIG, which the writer
// reports, instead of ending the process by SIGXFSZ without a word. Both programs call it
// first thing in main; the writer calls it too, so every user of the engine has it.
void IgnoreFileSizeSignal();

}  // namespace lumet
