#include "util/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_folder.h"
#include "util/error.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = folder_.Path(); }

  lumet::testing::TempFolder folder_;

  // Names in the folder other than the expected ones (temporary files left behind).
  std::vector<std::string> Entries(const fs::path& folder) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    return names;
  }

  fs::path dir_;
};

TEST_F(AtomicFileTest, WritesExactBytesIntoNewFoldersAndLeavesNoTemporary) {
  const fs::path target = dir_ / "a" / "b" / "out.txt";
  const std::string bytes("line 1\r\nline 2\0tail", 19);
  WriteFileAtomically(target.string(), bytes);
  EXPECT_EQ(ReadWholeFile(target.string()), bytes);
  EXPECT_EQ(Entries(target.parent_path()), std::vector<std::string>{"out.txt"});

  // Replacing an existing, longer file leaves exactly the new bytes.
  WriteFileAtomically(target.string(), "x");
  EXPECT_EQ(ReadWholeFile(target.string()), "x");
  EXPECT_EQ(Entries(target.parent_path()), std::vector<std::string>{"out.txt"});

  WriteFileAtomically(target.string(), "");
  EXPECT_EQ(fs::file_size(target), 0u);
}

TEST_F(AtomicFileTest, FolderThatCannotBeCreatedThrowsNamingThePath) {
  // A regular file where a folder is needed stops even a privileged user.
  const fs::path blocker = dir_ / "blocker";
  WriteFileAtomically(blocker.string(), "not a folder");
  const std::string target = (blocker / "sub" / "out.txt").string();
  try {
    WriteFileAtomically(target, "data");
    FAIL() << "no error for " << target;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadWholeFile(blocker.string()), "not a folder");
}

TEST_F(AtomicFileTest, TargetThatIsAFolderIsLeftAndNoTemporaryRemains) {
  const fs::path target = dir_ / "taken";
  fs::create_directories(target / "inner");
  EXPECT_THROW(WriteFileAtomically(target.string(), "data"), Error);
  EXPECT_TRUE(fs::is_directory(target / "inner"));
  EXPECT_EQ(Entries(dir_), std::vector<std::string>{"taken"});
}

TEST_F(AtomicFileTest, FailedWriteLeavesTheTargetUntouched) {
  const fs::path target = dir_ / "param.txt";
  WriteFileAtomically(target.string(), "old");

  // A file-size limit makes the write itself fail part-way, whoever runs the test.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 16;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  std::string message;
  try {
    WriteFileAtomically(target.string(), std::string(4096, 'n'));
  } catch (const Error& e) {
    threw = true;
    message = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_TRUE(threw);
  EXPECT_NE(message.find(target.string()), std::string::npos) << message;
  EXPECT_EQ(ReadWholeFile(target.string()), "old");
  EXPECT_EQ(Entries(dir_), std::vector<std::string>{"param.txt"});
}

TEST_F(AtomicFileTest, UnwritableFolderThrowsNamingThePath) {
  if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind the superuser";
  const fs::path locked = dir_ / "locked";
  fs::create_directories(locked);
  WriteFileAtomically((locked / "out.txt").string(), "old");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  const std::string target = (locked / "out.txt").string();
  try {
    WriteFileAtomically(target, "new");
    ADD_FAILURE() << "no error for " << target;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
  }
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(ReadWholeFile(target), "old");
}

TEST_F(AtomicFileTest, ReadingAMissingFileOrAFolderThrowsNamingIt) {
  const std::string missing = (dir_ / "missing.txt").string();
  try {
    ReadWholeFile(missing);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  EXPECT_THROW(ReadWholeFile(dir_.string()), Error);
  EXPECT_THROW(WriteFileAtomically("", "x"), Error);
}

}  // namespace
}  // namespace lumet
