// What kill -9, containers and a second run in the same folder do to the written files:
// temporary names that do not repeat with the process number, stale temporaries cleaned,
// and one writer per folder.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/folder_lock_holder.h"
#include "support/temp_folder.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/folder_lock.h"
#include "util/input_file.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;
using testing::FolderLockHolder;
using testing::TempFolder;

std::vector<std::string> HiddenFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Runs action in a child that is process 1 of a new PID namespace (as every run in a fresh
// container is), and returns its exit code; -1 when no namespace can be made here.
int RunAsProcessOne(const std::function<int()>& action) {
  const pid_t outer = ::fork();
  if (outer == 0) {
    if (::unshare(CLONE_NEWPID) != 0) ::_exit(100);
    const pid_t inner = ::fork();
    if (inner == 0) ::_exit(::getpid() == 1 ? action() : 101);
    int status = 0;
    ::waitpid(inner, &status, 0);
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 102);
  }
  int status = 0;
  ::waitpid(outer, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 103;
  return code == 100 ? -1 : code;
}

// Two runs with the same process number, the first killed between writing its temporary
// file and renaming it: the second still writes (with process-number names it met the
// first one's file and failed with "File exists"), and cleans the leftover.
TEST(TemporaryFiles, ARunWithTheSameProcessNumberAsAKilledOneStillWrites) {
  TempFolder dir;
  const std::string target = dir.File("hr.bmp");
  const int killed = RunAsProcessOne([&] {
    StagedFile staged(target, "first");
    ::_exit(0);  // as kill -9: no destructor removes the temporary
    return 0;
  });
  if (killed < 0) GTEST_SKIP() << "no new PID namespace can be made here";
  ASSERT_EQ(killed, 0);
  const std::vector<std::string> left = HiddenFiles(dir.Path());
  ASSERT_EQ(left.size(), 1u);
  // Left before the next run started (a forked child keeps this process's start time).
  fs::last_write_time(dir.File(left[0]), fs::file_time_type::clock::now() - std::chrono::minutes(5));
  const int second = RunAsProcessOne([&] {
    try {
      WriteFileAtomically(target, "second");
    } catch (const Error&) {
      return 1;
    }
    return 0;
  });
  EXPECT_EQ(second, 0);
  EXPECT_EQ(ReadWholeFile(target), "second");
  EXPECT_TRUE(HiddenFiles(dir.Path()).empty());
}

// Leftovers of ours older than the run are removed when the folder is next written, in the
// present and the earlier naming; files of others, and ours younger than the run, stay.
TEST(TemporaryFiles, StaleTemporariesOfOursAreCleanedWhenTheFolderIsNextWritten) {
  TempFolder dir;
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  const std::vector<std::string> stale = {".hr.bmp.tmp-0123456789abcdef", ".param.txt.tmp-4242-3",
                                          ".out_hom-7.txt.tmp-1-0"};
  const std::vector<std::string> kept = {".hidden", ".notes.tmp-old", ".hr.bmp.tmp-young000000000"};
  for (const std::string& name : stale) {
    std::ofstream(dir.File(name)) << "x";
    fs::last_write_time(dir.File(name), old);
  }
  for (const std::string& name : kept) {
    std::ofstream(dir.File(name)) << "x";
    fs::last_write_time(dir.File(name), old);
  }
  std::ofstream(dir.File(".first_lr.bmp.tmp-fedcba9876543210")) << "being written by another run";
  // The file system's clock runs coarser than the process's: the time is set, not left to it.
  fs::last_write_time(dir.File(".first_lr.bmp.tmp-fedcba9876543210"), fs::file_time_type::clock::now());
  std::vector<std::string> expected = kept;
  expected.push_back(".first_lr.bmp.tmp-fedcba9876543210");
  std::sort(expected.begin(), expected.end());

  WriteFileAtomically(dir.File("param.txt"), "p");
  EXPECT_EQ(HiddenFiles(dir.Path()), expected);
}

// A second process that would write in a folder another one writes in is refused, naming
// the folder; once the first has ended, it may. The same process may lock it again.
TEST(FolderLock, ASecondWriterOfTheSameFolderIsRefusedNamingIt) {
  TempFolder dir;
  FolderLockHolder holder(dir.Path().string());
  ASSERT_TRUE(holder.Holding());
  const std::string canonical = fs::canonical(dir.Path()).string();
  try {
    LockWorkingFolder(dir.Path().string());
    ADD_FAILURE() << "the second writer was let in";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("folder " + canonical + " is in use by another Lumet command"),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(ScopedFolderLock{dir.Path().string()}, Error);
  holder.Release();
  EXPECT_NO_THROW(LockWorkingFolder(dir.Path().string()));
  EXPECT_NO_THROW(LockWorkingFolder(dir.File(".")));
  EXPECT_NO_THROW(ScopedFolderLock{dir.Path().string()});
  // Releases this folder before the temporary folder goes.
  TempFolder other;
  LockWorkingFolder(other.Path().string());
}

}  // namespace
}  // namespace lumet
