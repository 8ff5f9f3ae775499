// The command line against inputs that are not files and outputs that cannot be written:
// each run must end within seconds with an "Error: " line and leave no temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "support/bounded_run.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

struct LimitedRun {
  BoundedOutcome outcome;
  std::string err;
};

// Runs lumet-cli with args in folder, the signals at their default actions and, when
// fileSizeLimit is not 0, that many bytes as the file-size limit; stderr goes to a file
// beside the folder. Killed after ten seconds.
LimitedRun RunCliLimited(const std::vector<std::string>& args, const fs::path& folder, rlim_t fileSizeLimit = 0) {
  const fs::path errFile = folder.parent_path() / (folder.filename().string() + "-stderr.txt");
  const auto outcome = RunBounded(
      [&] {
        std::signal(SIGXFSZ, SIG_DFL);
        if (::chdir(folder.c_str()) != 0) return 120;
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_WRONLY);
        if (err < 0 || null < 0 || ::dup2(err, 2) < 0 || ::dup2(null, 1) < 0) return 121;
        if (fileSizeLimit != 0) {
          rlimit limit{};
          ::getrlimit(RLIMIT_FSIZE, &limit);
          limit.rlim_cur = fileSizeLimit;
          if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 122;
        }
        std::vector<char*> argv;
        std::string program = LUMET_CLI_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (auto& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        return 123;
      },
      10.0);
  return {outcome, ReadText(errFile)};
}

// Every "*.tmp-*" file under folder: the atomic writer's leftovers.
std::vector<std::string> Temporaries(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().filename().string().find(".tmp-") != std::string::npos) found.push_back(entry.path().string());
  }
  return found;
}

void ExpectErrorWithin(const LimitedRun& run, const std::string& what) {
  ASSERT_TRUE(run.outcome.finished) << "still running after 10 s";
  EXPECT_EQ(run.outcome.exitCode, 1) << run.err;
  EXPECT_EQ(run.err.rfind("Error: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(what), std::string::npos) << run.err;
}

TEST(CliHardening, FramesHomographiesAndParamFilesThatAreNoRegularFilesAreRefusedAtOnce) {
  TempFolder dir;
  ASSERT_EQ(RunCli("synth seq --lr-count 3 --size 220x160 --seed 3", dir.Path()).exitCode, 0);
  const fs::path seq = dir.Path() / "seq";
  ASSERT_EQ(RunCli("-C seq register", dir.Path()).exitCode, 0);

  struct Case {
    const char* what;
    std::string replaced;  // relative to seq
    bool fifo;             // else a link to /dev/zero
    std::vector<std::string> args;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"reference frame FIFO", "images/lr-0.bmp", true, {"show-reference"}, "FIFO"},
      {"frame 2 FIFO", "images/lr-2.bmp", true, {"register"}, "FIFO"},
      {"frame 1 linked to /dev/zero", "images/lr-1.bmp", false, {"register"}, "device"},
      {"frame 1 linked to /dev/zero", "images/lr-1.bmp", false, {"reconstruct"}, "device"},
      {"homography FIFO", "result/hr_hom-2.txt", true, {"reconstruct"}, "FIFO"},
      {"param.txt FIFO", "param.txt", true, {"params"}, "FIFO"},
      {"param.txt linked to /dev/zero", "param.txt", false, {"run"}, "device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what + std::string(", ") + c.args[0]);
    const fs::path target = seq / c.replaced;
    const fs::path saved = target.string() + ".saved";
    fs::rename(target, saved);
    if (c.fifo) {
      ASSERT_EQ(::mkfifo(target.c_str(), 0644), 0);
    } else {
      fs::create_symlink("/dev/zero", target);
    }
    ExpectErrorWithin(RunCliLimited(c.args, seq), c.replaced);
    fs::remove(target);
    fs::rename(saved, target);
    EXPECT_TRUE(Temporaries(seq).empty());
  }
}

TEST(CliHardening, AWriteBeyondTheFileSizeLimitIsReportedAndLeavesNoTemporaryFile) {
  TempFolder dir;
  const fs::path work = dir.Path() / "work";
  fs::create_directories(work);
  // A 220 x 160 frame is about 100 kB, beyond the limit; param.txt (about 100 bytes) fits.
  ExpectErrorWithin(RunCliLimited({"synth", "seq", "--lr-count", "2", "--size", "220x160"}, work, 8192), "too large");
  EXPECT_TRUE(Temporaries(work).empty());

  ASSERT_EQ(RunCli("synth seq --lr-count 2 --size 220x160 --seed 3", dir.Path()).exitCode, 0);
  const fs::path seq = dir.Path() / "seq";
  const auto run = RunCliLimited({"run"}, seq, 8192);  // the HR result is 160 x 160 pixels, 77 kB
  ExpectErrorWithin(run, "too large");
  EXPECT_TRUE(Temporaries(seq).empty());
}

}  // namespace
}  // namespace lumet
