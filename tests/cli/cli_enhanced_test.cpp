#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_runner.h"
#include "support/temp_folder.h"

namespace lumet::testing {
namespace {

namespace fs = std::filesystem;

TEST(CliEnhanced, ItsOwnValuesAreRefusedBeforeAnythingIsReadOrWritten) {
  TempFolder dir;
  const struct {
    const char* args;
    const char* named;
  } cases[] = {
      {"reconstruct --iterations 0", "--iterations 0"},
      {"run --iterations 100001", "--iterations 100001"},
      {"reconstruct --tolerance 1", "--tolerance 1"},
      {"run --tolerance -0.5", "--tolerance -0.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ExpectError(RunCli(c.args, dir.Path()), c.named);
    EXPECT_FALSE(fs::exists(dir.Path() / "param.txt"));
  }
  EXPECT_EQ(RunCli("register --iterations 5", dir.Path()).exitCode, 2);  // registration has no iterations
  ExpectError(RunCli("demo --method fast demo", dir.Path()), "--method fast");
  EXPECT_FALSE(fs::exists(dir.Path() / "demo"));
}

TEST(CliEnhanced, RunEnhancedWritesTheClassicFilesAndStoresTheMethod) {
  TempFolder dir;
  ASSERT_EQ(RunCli("synth seq --lr-count 3 --size 220x160 --seed 5", dir.Path()).exitCode, 0);
  const CliResult r = RunCli("-C seq run --method enhanced --roi 168,108,16,16 --iterations 10", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Enhanced = "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(", 4/4 frames"), std::string::npos) << r.out;
  for (const char* file : {"result/hr.bmp", "result/first_lr.bmp", "result/hr_hom-3.txt", "steet_rms.txt"}) {
    EXPECT_TRUE(fs::exists(dir.Path() / "seq" / file)) << file;
  }
  EXPECT_NE(ReadText(dir.Path() / "seq" / "param.txt").find("method enhanced"), std::string::npos);
}

}  // namespace
}  // namespace lumet::testing
