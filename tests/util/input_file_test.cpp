#include "util/input_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/bounded_run.h"
#include "support/temp_folder.h"
#include "util/error.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;
using lumet::testing::RunBounded;
using lumet::testing::TempFolder;

// Exit statuses of the child that reads.
constexpr int kRefusedAsExpected = 0;
constexpr int kReadSomething = 1;
constexpr int kWrongMessage = 2;

// Reads path in a child process, within two seconds; the read must be refused with a
// message that names path and holds reason.
void ExpectRefusedAtOnce(const std::string& path, const std::string& reason, size_t maxBytes = kDefaultMaxReadBytes) {
  const auto outcome = RunBounded(
      [&] {
        try {
          ReadWholeFile(path, maxBytes);
        } catch (const Error& e) {
          const std::string message = e.what();
          const bool named = message.find(path) != std::string::npos && message.find(reason) != std::string::npos;
          if (!named) std::fprintf(stderr, "message: %s\n", e.what());
          return named ? kRefusedAsExpected : kWrongMessage;
        }
        return kReadSomething;
      },
      2.0);
  ASSERT_TRUE(outcome.finished) << "reading " << path << " blocked";
  EXPECT_EQ(outcome.exitCode, kRefusedAsExpected) << "reading " << path;
}

TEST(InputFileTest, AnythingButARegularFileIsRefusedWithoutBlocking) {
  TempFolder dir;
  const std::string fifo = dir.File("lr-0.bmp");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string zeroLink = dir.File("lr-1.bmp");
  fs::create_symlink("/dev/zero", zeroLink);
  const std::string folder = dir.File("folder.bmp");
  fs::create_directory(folder);
  const std::string dangling = dir.File("dangling.bmp");
  fs::create_symlink(dir.File("nowhere"), dangling);

  struct Case {
    std::string path, reason;
  };
  const std::vector<Case> cases = {
      {fifo, "FIFO"},
      {zeroLink, "device"},
      {"/dev/zero", "device"},
      {folder, "folder"},
      {dangling, "No such file"},
      {dir.File("missing.bmp"), "No such file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ExpectRefusedAtOnce(c.path, c.reason);
  }
}

TEST(InputFileTest, ReadsUpToTheLimitAndRefusesALargerFileUnread) {
  TempFolder dir;
  const std::string path = dir.File("h.txt");
  static constexpr char kBytes[] = "1 0 0\r\n0 1 0\0 0 0\n";  // a NUL inside, 18 bytes
  const std::string bytes(kBytes, sizeof kBytes - 1);
  lumet::testing::WriteText(path, bytes);
  EXPECT_EQ(ReadWholeFile(path, bytes.size()), bytes);
  EXPECT_EQ(ReadWholeFile(path), bytes);
  ExpectRefusedAtOnce(path, "larger than the 17 bytes", bytes.size() - 1);

  // A sparse file far beyond its limit is refused from its size alone.
  const std::string huge = dir.File("huge.bmp");
  lumet::testing::WriteText(huge, "BM");
  fs::resize_file(huge, std::uintmax_t{1} << 34);
  ExpectRefusedAtOnce(huge, "larger than the 4096 bytes", 4096);
  lumet::testing::WriteText(dir.File("empty"), "");
  EXPECT_EQ(ReadWholeFile(dir.File("empty"), 0), "");
}

}  // namespace
}  // namespace lumet
