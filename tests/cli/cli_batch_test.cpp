// lumet-cli batch: many sequences on this machine, through GNU parallel, and as a Slurm script.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_runner.h"

namespace lumet::testing {
namespace {

namespace fs = std::filesystem;

struct Sequence {
  const char* name;
  const char* options;  // the manifest line's run options
};

// Three quick classic jobs and, last, a slower enhanced one, so that a batch stopped when
// the first job is done still has work left.
const Sequence kSequences[] = {
    {"street-a", ""}, {"street-b", "--scale 2"}, {"street-c", "--scale 3 --lambda 0.004"},
    {"street-d", "--method enhanced"}};

const char* const kResultFiles[] = {"param.txt",           "steet_rms.txt",       "result/hr.bmp",
                                    "result/first_lr.bmp", "result/hr_hom-1.txt", "result/hr_hom-6.txt"};

// The sequences in root/batch/NAME and, run one by one with lumet-cli run, in root/single/NAME.
void MakeSequences(const fs::path& root) {
  fs::create_directories(root / "batch");
  fs::create_directories(root / "single");
  int seed = 3;
  for (const Sequence& s : kSequences) {
    const std::string synth = std::string("synth batch/") + s.name + " --lr-count 6 --size 220x160 --seed " +
                              std::to_string(seed++);
    ASSERT_EQ(RunCli(synth, root).exitCode, 0) << synth;
    fs::copy(root / "batch" / s.name, root / "single" / s.name, fs::copy_options::recursive);
    const CliResult r = RunCli(std::string("-C single/") + s.name + " run --threads 1 " + s.options, root);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  std::string manifest = "# one street a line\n";
  for (const Sequence& s : kSequences) manifest += std::string(s.name) + " " + s.options + "\n";
  WriteText(root / "batch/jobs.txt", manifest);
}

void ExpectSameAsSingleRuns(const fs::path& root) {
  for (const Sequence& s : kSequences) {
    for (const char* file : kResultFiles) {
      SCOPED_TRACE(std::string(s.name) + "/" + file);
      const fs::path batch = root / "batch" / s.name / file;
      ASSERT_TRUE(fs::exists(batch));
      EXPECT_TRUE(ReadText(batch) == ReadText(root / "single" / s.name / file));
    }
  }
}

int CountStamps(const fs::path& root) {
  int n = 0;
  for (const Sequence& s : kSequences) n += fs::exists(root / "batch" / s.name / ".lumet-batch-done") ? 1 : 0;
  return n;
}

// Starts a shell command in folder as the leader of its own process group.
pid_t StartShell(const std::string& command, const fs::path& folder) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::setpgid(pid, pid);
  return pid;
}

// Sends signal to the process group of leader once the first job is done, and returns
// the leader's wait status.
int StopAfterFirstJob(pid_t leader, int signal, const fs::path& root) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (CountStamps(root) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(-leader, signal);
  int status = 0;
  ::waitpid(leader, &status, 0);
  return status;
}

TEST(CliBatch, AStoppedBatchResumesWithTheJobsLeftAndMatchesSingleRuns) {
  TempFolder tmp;
  MakeSequences(tmp.Path());
  // Only the batch itself is stopped: it stops its jobs.
  const pid_t batch = StartShell("exec '" LUMET_CLI_PATH "' batch batch/jobs.txt --jobs 2 > first.out 2>&1",
                                 tmp.Path());
  const int status = StopAfterFirstJob(batch, SIGTERM, tmp.Path());
  ASSERT_TRUE(WIFEXITED(status)) << ReadText(tmp.Path() / "first.out");
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM) << ReadText(tmp.Path() / "first.out");
  const int done = CountStamps(tmp.Path());
  ASSERT_GE(done, 1);
  ASSERT_LT(done, 4) << "the batch ran to its end before it was stopped";

  const CliResult resumed = RunCli("batch batch/jobs.txt --jobs 2", tmp.Path());
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  const std::vector<std::string> summary = Lines(ReadText(tmp.Path() / "batch/jobs.txt.summary.jsonl"));
  ASSERT_EQ(summary.size(), 4u);
  int skipped = 0;
  for (const std::string& line : summary) skipped += line.find("\"outcome\":\"skipped\"") != std::string::npos;
  EXPECT_EQ(skipped, done) << ReadText(tmp.Path() / "batch/jobs.txt.summary.jsonl");
  EXPECT_NE(summary[1].find("\"folder\":\"" + (tmp.Path() / "batch/street-b").string() + "\""), std::string::npos);
  EXPECT_NE(summary[1].find("/street-b/result/hr.bmp\""), std::string::npos) << summary[1];
  ExpectSameAsSingleRuns(tmp.Path());

  // Everything up to date: nothing runs again.
  const CliResult again = RunCli("batch batch/jobs.txt", tmp.Path());
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(Lines(again.out).size(), 4u);
  EXPECT_EQ(again.out.find("done"), std::string::npos) << again.out;
}

TEST(CliBatch, GnuParallelRunsTheJobListAndResumesAfterAnInterrupt) {
  if (std::system("parallel --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "GNU parallel is not installed";
  TempFolder tmp;
  MakeSequences(tmp.Path());
  const CliResult list = RunCli("batch batch/jobs.txt --emit parallel", tmp.Path());
  ASSERT_EQ(list.exitCode, 0) << list.err;
  ASSERT_EQ(Lines(list.out).size(), 4u);
  WriteText(tmp.Path() / "jobs.list", list.out);
  // As a user's Ctrl-C does: SIGINT to parallel, the jobs and their runs.
  const pid_t parallel = StartShell("parallel --jobs 2 < jobs.list > first.jsonl 2> first.err", tmp.Path());
  StopAfterFirstJob(parallel, SIGINT, tmp.Path());
  const int done = CountStamps(tmp.Path());
  ASSERT_GE(done, 1);
  ASSERT_LT(done, 4) << "parallel ran every job before it was stopped";

  const CliResult resumed = RunProgram("parallel", "--jobs 2 < jobs.list", tmp.Path());
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  const std::vector<std::string> summary = Lines(resumed.out);  // one JSON line a job, in the order they ended
  ASSERT_EQ(summary.size(), 4u) << resumed.out;
  int skipped = 0;
  for (const std::string& line : summary) {
    EXPECT_EQ(line.front(), '{');
    skipped += line.find("\"outcome\":\"skipped\"") != std::string::npos;
  }
  EXPECT_EQ(skipped, done) << resumed.out;
  ExpectSameAsSingleRuns(tmp.Path());
}

TEST(CliBatch, ASlurmArraySubmittedTwiceRunsEachJobOnce) {
  TempFolder tmp;
  const fs::path root = tmp.Path();
  for (const char* name : {"a", "b c", "d"}) {
    ASSERT_EQ(RunCli(std::string("synth '") + name + "' --lr-count 3 --size 220x160", root).exitCode, 0);
  }
  WriteText(root / "jobs.txt", "a --scale 2\n'b c' --threads 1 --lambda 0.004\nd\n");
  // Two arrays, as on a site that allows two tasks an array.
  const CliResult script = RunCli("batch jobs.txt --emit slurm --array-max 2 --cpus-per-task 3 --mem 2G --time 30", root);
  ASSERT_EQ(script.exitCode, 0) << script.err;
  WriteText(root / "array.sh", script.out);
  EXPECT_EQ(std::system(("bash -n '" + (root / "array.sh").string() + "'").c_str()), 0) << script.out;
  for (const char* part : {"#SBATCH --cpus-per-task=3\n", "#SBATCH --mem=2G\n", "#SBATCH --time=30\n",
                           "submits 2 arrays of at most 2 tasks"}) {
    EXPECT_NE(script.out.find(part), std::string::npos) << part << "\n" << script.out;
  }
  EXPECT_EQ(script.out.find("#SBATCH --array"), std::string::npos) << "two arrays: the script submits them";

  // Stand-ins: sbatch runs every task of the array it is given, one after the other, as
  // Slurm would (with the task's id and CPUs); srun runs its command.
  WriteText(root / "bin/sbatch",
            "#!/bin/bash\nset -e\nrange=${1#--array=}; export=${2#--export=ALL,}; script=$3\n"
            "for ((t = ${range%-*}; t <= ${range#*-}; t++)); do\n"
            "  env \"$export\" SLURM_ARRAY_TASK_ID=$t SLURM_CPUS_PER_TASK=3 bash \"$script\"\ndone\n");
  WriteText(root / "bin/srun", "#!/bin/sh\nexec \"$@\"\n");
  fs::permissions(root / "bin/sbatch", fs::perms::owner_all);
  fs::permissions(root / "bin/srun", fs::perms::owner_all);
  const std::string env = "PATH=\"$PWD/bin:$PATH\" ";
  const CliResult first = RunProgram("env", env + "bash array.sh", root);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  const std::vector<std::string> summary = Lines(ReadText(root / "jobs.txt.summary.jsonl"));
  ASSERT_EQ(summary.size(), 3u);
  for (const std::string& line : summary) EXPECT_NE(line.find("\"outcome\":\"done\""), std::string::npos) << line;
  EXPECT_NE(summary[1].find("\"folder\":\"" + (root / "b c").string() + "\""), std::string::npos) << summary[1];
  // Each task ran what lumet-cli run makes of its line.
  fs::copy(root / "b c", root / "single", fs::copy_options::recursive);
  fs::remove_all(root / "single/result");
  ASSERT_EQ(RunCli("-C single run --lambda 0.004", root).exitCode, 0);
  EXPECT_TRUE(ReadText(root / "b c/result/hr.bmp") == ReadText(root / "single/result/hr.bmp"));

  // Submitted again: every job is up to date, and the summary holds one line a job.
  const CliResult second = RunProgram("env", env + "bash array.sh", root);
  ASSERT_EQ(second.exitCode, 0) << second.err;
  const std::vector<std::string> again = Lines(ReadText(root / "jobs.txt.summary.jsonl"));
  ASSERT_EQ(again.size(), 3u);
  for (const std::string& line : again) EXPECT_NE(line.find("\"outcome\":\"skipped\""), std::string::npos) << line;

  const CliResult stray = RunProgram("env", env + "SLURM_ARRAY_TASK_ID=1 LUMET_TASK_OFFSET=2 bash array.sh", root);
  EXPECT_EQ(stray.exitCode, 2);
  EXPECT_NE(stray.err.find("no job for array task 3"), std::string::npos) << stray.err;
  EXPECT_NE(RunCli("batch jobs.txt --emit slurm --mem lots", root).err.find("lots is not a size"), std::string::npos);
  EXPECT_NE(RunCli("batch jobs.txt --emit slurm --time 1:2", root).err.find("1:2 is not a time"), std::string::npos);
  EXPECT_EQ(RunCli("batch jobs.txt --emit slurm --time 2-12:00:00 --mem 500M", root).exitCode, 0);
}

TEST(CliBatch, JobsTakeTheirShareOfTheCpusTheBatchMayUse) {
  if (std::system("taskset -c 0 true > /dev/null 2>&1") != 0) GTEST_SKIP() << "taskset cannot pin to CPU 0";
  TempFolder tmp;
  WriteText(tmp.Path() / "jobs.txt", "a\nb --threads 4\n");
  fs::create_directories(tmp.Path() / "a");
  fs::create_directories(tmp.Path() / "b");
  const CliResult pinned = RunProgram("taskset", std::string("-c 0 ") + LUMET_CLI_PATH + " batch jobs.txt --emit parallel", tmp.Path());
  ASSERT_EQ(pinned.exitCode, 0) << pinned.err;
  for (const std::string& line : Lines(pinned.out)) EXPECT_NE(line.find(" --threads 1"), std::string::npos) << line;
  const CliResult given = RunCli("batch jobs.txt --emit parallel --threads 3", tmp.Path());
  for (const std::string& line : Lines(given.out)) EXPECT_NE(line.find(" --threads 3"), std::string::npos) << line;
}

TEST(CliBatch, FailedJobsAreNamedAndBadLinesRefusedBeforeAnythingRuns) {
  TempFolder tmp;
  const fs::path root = tmp.Path();
  ASSERT_EQ(RunCli("synth good --lr-count 3 --size 220x160", root).exitCode, 0);
  ASSERT_EQ(RunCli("synth short --lr-count 3 --size 220x160", root).exitCode, 0);
  WriteText(root / "jobs.txt", "good\nshort --lr-count 9\nnowhere\n");
  const CliResult r = RunCli("batch jobs.txt --jobs 2 --summary out.jsonl", root);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Error: 2 of 3 jobs failed"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("line 2 " + (root / "short").string() + ": "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("line 3 " + (root / "nowhere").string() + ": the folder"), std::string::npos) << r.err;
  const std::vector<std::string> summary = Lines(ReadText(root / "out.jsonl"));
  ASSERT_EQ(summary.size(), 3u);
  EXPECT_NE(summary[0].find("\"outcome\":\"done\""), std::string::npos);
  EXPECT_NE(summary[1].find("\"outcome\":\"failed\",\"exit\":1"), std::string::npos) << summary[1];
  EXPECT_NE(summary[1].find("frame"), std::string::npos) << summary[1];  // the run's own error
  EXPECT_TRUE(fs::exists(root / "short/lumet-run.log"));
  EXPECT_FALSE(fs::exists(root / "short/.lumet-batch-done"));

  for (const auto& [line, what] : {std::pair{"good --scale two", "jobs.txt line 2"}, {"good --bogus", "jobs.txt line 2"},
                                   {"good --record x", "--record"}}) {
    SCOPED_TRACE(line);
    WriteText(root / "jobs.txt", std::string("short\n") + line + "\n");
    fs::remove(root / "short/lumet-run.log");
    ExpectError(RunCli("batch jobs.txt", root), what);
    EXPECT_FALSE(fs::exists(root / "short/lumet-run.log")) << "a job ran before the manifest was checked";
  }
}

}  // namespace
}  // namespace lumet::testing
