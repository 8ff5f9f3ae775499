#include "util/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/bounded_run.h"
#include "support/temp_folder.h"
#include "util/error.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

size_t EntryCount(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// The message of the Error that action throws, or "no error".
template <typename F>
std::string ErrorOf(F action) {
  try {
    action();
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(AtomicFileTest, WritesExactBytesIntoNewFoldersAndLeavesNoTemporary) {
  lumet::testing::TempFolder dir;
  const std::string target = dir.File("a/b/out.txt");
  const std::string bytes("line 1\r\nline 2\0tail", 19);
  WriteFileAtomically(target, bytes);
  EXPECT_EQ(ReadWholeFile(target), bytes);
  WriteFileAtomically(target, "x");  // replacing a longer file
  EXPECT_EQ(ReadWholeFile(target), "x");
  EXPECT_EQ(EntryCount(dir.Path() / "a" / "b"), 1u);
  EXPECT_NE(ErrorOf([&] { ReadWholeFile(dir.File("missing.txt")); }).find(dir.File("missing.txt")), std::string::npos);
  EXPECT_THROW(ReadWholeFile(dir.Path().string()), Error);
  EXPECT_THROW(WriteFileAtomically("", "x"), Error);

  // A name without a folder is written in, and its folder flushed as, the current folder.
  const fs::path before = fs::current_path();
  fs::current_path(dir.Path());
  WriteFileAtomically("plain.txt", "flushed");
  fs::current_path(before);
  EXPECT_EQ(ReadWholeFile(dir.File("plain.txt")), "flushed");
}

// Staged files change nothing until published; one dropped unpublished leaves no trace;
// publishing puts each in place in the order asked for.
TEST(AtomicFileTest, StagedFilesChangeTheTargetOnlyWhenPublished) {
  lumet::testing::TempFolder dir;
  const std::string first = dir.File("out/hr_hom-1.txt");
  const std::string second = dir.File("out/hr_hom-2.txt");
  WriteFileAtomically(first, "old 1");
  WriteFileAtomically(second, "old 2");
  {
    StagedFile one(first, "new 1");
    StagedFile two(second, "new 2");
    EXPECT_TRUE(one.Staged());
    EXPECT_EQ(ReadWholeFile(first), "old 1");
    EXPECT_EQ(EntryCount(dir.Path() / "out"), 4u);  // the two targets and two temporaries
    one.Publish();
    EXPECT_FALSE(one.Staged());
    EXPECT_EQ(ReadWholeFile(first), "new 1");
    StagedFile moved = std::move(two);
    EXPECT_FALSE(two.Staged());  // a moved-from file owns nothing
    EXPECT_TRUE(moved.Staged());
    EXPECT_NE(ErrorOf([&] { one.Publish(); }).find(first), std::string::npos);  // only once
  }  // the second never published
  EXPECT_EQ(ReadWholeFile(second), "old 2");
  EXPECT_EQ(EntryCount(dir.Path() / "out"), 2u);
  EXPECT_NE(ErrorOf([&] { StagedFile(dir.File("out/hr_hom-1.txt/x"), "data"); }).find("hr_hom-1.txt/x"),
            std::string::npos);
}

TEST(AtomicFileTest, FailuresThrowNamingThePathAndLeaveTheTarget) {
  lumet::testing::TempFolder dir;
  // A regular file where a folder is needed stops even a privileged user.
  WriteFileAtomically(dir.File("blocker"), "not a folder");
  const std::string inside = dir.File("blocker/sub/out.txt");
  EXPECT_NE(ErrorOf([&] { WriteFileAtomically(inside, "data"); }).find(inside), std::string::npos);
  EXPECT_EQ(ReadWholeFile(dir.File("blocker")), "not a folder");
  fs::create_directories(dir.Path() / "taken" / "inner");  // a target that is a folder
  EXPECT_THROW(WriteFileAtomically(dir.File("taken"), "data"), Error);
  EXPECT_TRUE(fs::is_directory(dir.Path() / "taken" / "inner"));

  // A file-size limit makes the write itself fail part-way, whoever runs the test. The
  // child starts with the signal's default action, which would end it without a word.
  const std::string target = dir.File("param.txt");
  WriteFileAtomically(target, "old");
  const auto outcome = lumet::testing::RunBounded(
      [&] {
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit small{};
        ::getrlimit(RLIMIT_FSIZE, &small);
        small.rlim_cur = 16;
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return 3;
        const std::string message = ErrorOf([&] { WriteFileAtomically(target, std::string(4096, 'n')); });
        const bool named = message.find(target) != std::string::npos && message.find("too large") != std::string::npos;
        if (!named) std::fprintf(stderr, "message: %s\n", message.c_str());
        return named ? 0 : 2;
      },
      10.0);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0) << "the write under the limit was not reported (exit -1: killed by a signal)";
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_EQ(EntryCount(dir.Path()), 3u) << "a temporary file is left";  // blocker, taken, param.txt
}

}  // namespace
}  // namespace lumet
