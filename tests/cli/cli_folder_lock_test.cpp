#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/cli_runner.h"
#include "support/folder_lock_holder.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

// While another Lumet process writes in a folder, every command that would write there is
// refused naming it and changes nothing; one that only reads (compare) still runs.
TEST(CliFolderLock, CommandsThatWriteWaitForNoOtherWriterOfTheFolder) {
  TempFolder dir;
  ASSERT_EQ(RunCli("synth seq --lr-count 3 --size 220x160 --seed 3", dir.Path()).exitCode, 0);
  const fs::path seq = fs::canonical(dir.Path() / "seq");
  const std::string params = ReadText(seq / "param.txt");
  FolderLockHolder holder(seq.string());
  ASSERT_TRUE(holder.Holding());
  for (const char* command : {"init-params", "params --scale 3", "run", "register", "synth ."}) {
    SCOPED_TRACE(command);
    const CliResult r = RunCli(std::string("-C seq ") + command, dir.Path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Error: folder " + seq.string() +
                         " is in use by another Lumet command writing there; wait until that one has ended\n");
  }
  EXPECT_EQ(ReadText(seq / "param.txt"), params);
  EXPECT_FALSE(fs::exists(seq / "result"));
  EXPECT_EQ(RunCli("-C seq compare images/lr-0.bmp images/lr-1.bmp", dir.Path()).exitCode, 0);
  holder.Release();
  EXPECT_EQ(RunCli("-C seq run", dir.Path()).exitCode, 0);
}

}  // namespace
}  // namespace lumet
