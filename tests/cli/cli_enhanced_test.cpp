#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "support/temp_folder.h"

namespace lumet::testing {
namespace {

namespace fs = std::filesystem;

TEST(CliEnhanced, ItsValuesAreRefusedBeforeAnythingIsReadOrWritten) {
  TempFolder dir;
  const struct {
    const char* args;
    const char* named;
  } cases[] = {
      {"reconstruct --iterations 0", "iteration cap 0 is out of range (allowed: 1 to 100000)"},
      {"run --iterations 100001", "iteration cap 100001"},
      {"reconstruct --tolerance 1.5", "tolerance 1.5"},
      {"run --tolerance -0.5", "tolerance -0.5"},
      {"run --method enhanced --beta 0", "beta 0 is out of range for the enhanced method"},
      {"register --method enhanced --lambda -1", "lambda -1 is out of range for the enhanced method"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ExpectError(RunCli(c.args, dir.Path()), c.named);
    EXPECT_FALSE(fs::exists(dir.Path() / "param.txt"));
  }
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
  const std::string stored = ReadText(dir.Path() / "seq" / "param.txt");
  EXPECT_NE(stored.find("\nmethod enhanced\niterations 10"), std::string::npos) << stored;
}

// The names after "read " in a --record file, in order.
std::vector<std::string> ReadInRecord(const fs::path& file) {
  std::vector<std::string> read;
  for (const std::string& line : Lines(ReadText(file))) {
    if (line.rfind("read ", 0) == 0) read.push_back(line.substr(5));
  }
  return read;
}

// Frames 0 .. last and the homography files 1 .. lastHomography (0: none).
std::vector<std::string> FramesAndHomographies(int last, int lastHomography) {
  std::vector<std::string> names;
  for (int k = 0; k <= last; ++k) names.push_back("./images/lr-" + std::to_string(k) + ".bmp");
  for (int k = 1; k <= lastHomography; ++k) names.push_back("./result/hr_hom-" + std::to_string(k) + ".txt");
  return names;
}

// A batch tells an up-to-date job by the files its record names: each method's record names
// the frames and homography files that method reads (the enhanced one the last registered
// frame too), a run none of the homography files it wrote itself.
TEST(CliEnhanced, TheRecordNamesTheFramesAndHomographiesTheMethodReads) {
  TempFolder dir;
  ASSERT_EQ(RunCli("synth seq --lr-count 3 --size 220x160 --seed 5", dir.Path()).exitCode, 0);
  const std::string job = " --roi 168,108,16,16 --iterations 5 --record rec.txt";
  const struct {
    const char* command;
    std::vector<std::string> read;
  } cases[] = {
      {"register", FramesAndHomographies(3, 0)},
      {"reconstruct --method classic", FramesAndHomographies(2, 2)},
      {"reconstruct --method enhanced", FramesAndHomographies(3, 3)},
      {"run --method enhanced", FramesAndHomographies(3, 0)},
      {"run --method classic", FramesAndHomographies(3, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const CliResult r = RunCli(std::string("-C seq ") + c.command + job, dir.Path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadInRecord(dir.Path() / "seq/rec.txt"), c.read);
    fs::remove(dir.Path() / "seq/rec.txt");
  }
}

}  // namespace
}  // namespace lumet::testing
