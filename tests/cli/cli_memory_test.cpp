// --memory-limit: a reconstruction that does not fit is refused before it starts, naming
// what it needs; one that fits writes the same files as without a limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/cli_runner.h"

namespace lumet::testing {
namespace {

namespace fs = std::filesystem;

TEST(CliMemory, AJobThatFitsTheLimitWritesTheSameFilesAndOneThatDoesNotIsRefusedUpFront) {
  TempFolder tmp;
  const fs::path root = tmp.Path();
  ASSERT_EQ(RunCli("synth s --lr-count 4 --size 220x160 --scene texture", root).exitCode, 0);
  for (const char* scale : {"2", "4"}) {
    SCOPED_TRACE(std::string("scale ") + scale);
    const std::string job = std::string(" --roi 20,15,60,50 --scale ") + scale;
    ASSERT_EQ(RunCli("-C s register --threads 1" + job, root).exitCode, 0);
    ASSERT_EQ(RunCli("-C s reconstruct --threads 1" + job, root).exitCode, 0);
    const std::string unbounded = ReadText(root / "s/result/hr.bmp");
    const std::string first = ReadText(root / "s/result/first_lr.bmp");
    fs::remove(root / "s/result/hr.bmp");

    const CliResult refused = RunCli("-C s reconstruct --threads 1 --memory-limit 8M" + job, root);
    ExpectError(refused, "HR grid needs about ");
    EXPECT_NE(refused.err.find("more than the memory limit of 8 MiB (--memory-limit)"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(root / "s/result/hr.bmp")) << "a refused job writes no result";
    // The figure it names is enough.
    const size_t at = refused.err.find("needs about ") + 12;
    const std::string needed = refused.err.substr(at, refused.err.find(" MiB", at) - at);
    const CliResult fits = RunCli("-C s reconstruct --threads 1 --memory-limit " + needed + "M" + job, root);
    ASSERT_EQ(fits.exitCode, 0) << fits.err;
    EXPECT_TRUE(ReadText(root / "s/result/hr.bmp") == unbounded);
    EXPECT_TRUE(ReadText(root / "s/result/first_lr.bmp") == first);
  }
  for (const char* bad : {"lots", "0", "12X"}) {
    const CliResult r = RunCli(std::string("-C s reconstruct --memory-limit ") + bad, root);
    EXPECT_EQ(r.exitCode, 2) << bad;
    EXPECT_NE(r.err.find("memory size"), std::string::npos) << r.err;
  }
}

// run checks the reconstruction's need before the registration: a refused job leaves
// param.txt as it was (although its --scale changes it) and writes no homography file.
TEST(CliMemory, ARunTheReconstructionWouldRefuseWritesNothing) {
  TempFolder tmp;
  const fs::path root = tmp.Path();
  ASSERT_EQ(RunCli("synth s --lr-count 4 --size 220x160", root).exitCode, 0);
  const std::string params = ReadText(root / "s/param.txt");
  for (const char* method : {"classic", "enhanced"}) {
    SCOPED_TRACE(method);
    const CliResult refused =
        RunCli(std::string("-C s run --scale 2 --memory-limit 1M --method ") + method, root);
    ExpectError(refused, "The reconstruction of the 80 x 80 HR grid needs about ");
    EXPECT_NE(refused.err.find("more than the memory limit of 1 MiB (--memory-limit)"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(ReadText(root / "s/param.txt") == params) << "param.txt changed";
    EXPECT_FALSE(fs::exists(root / "s/result")) << "a homography file or result was written";
    EXPECT_FALSE(fs::exists(root / "s/steet_rms.txt"));
    EXPECT_EQ(refused.out.find("MAE("), std::string::npos) << "the registration ran: " << refused.out;
    // The figure it names is enough for the whole run.
    const size_t at = refused.err.find("needs about ") + 12;
    const std::string needed = refused.err.substr(at, refused.err.find(" MiB", at) - at);
    const CliResult fits =
        RunCli("-C s run --scale 2 --method " + std::string(method) + " --memory-limit " + needed + "M", root);
    ASSERT_EQ(fits.exitCode, 0) << fits.err;
    EXPECT_TRUE(fs::exists(root / "s/result/hr_hom-4.txt"));
    EXPECT_TRUE(fs::exists(root / "s/result/hr.bmp"));
    fs::remove_all(root / "s/result");
    fs::remove(root / "s/steet_rms.txt");
    WriteText(root / "s/param.txt", params);
  }
}

}  // namespace
}  // namespace lumet::testing
