#include "cli/batch_runner.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "util/atomic_file.h"
#include "util/error.h"
#include "util/input_file.h"
#include "util/text_format.h"

namespace lumet::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecordName = ".lumet-batch-record";
constexpr size_t kMaxLogBytes = size_t{64} << 20;

volatile std::sig_atomic_t gStopSignal = 0;

void OnStopSignal(int signal) { gStopSignal = signal; }

// Without SA_RESTART, so that a signal interrupts the wait for the jobs.
void CatchStopSignals() {
  struct sigaction action{};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

double Now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<std::string> ChildArguments(const BatchJob& job, const BatchSettings& settings) {
  std::vector<std::string> args{settings.program, "-C", job.folder, JobCommand(job)};
  args.insert(args.end(), job.args.begin(), job.args.end());
  bool threads = false;
  for (const std::string& a : job.args) threads = threads || a == "--threads" || a.rfind("--threads=", 0) == 0;
  if (!threads) args.insert(args.end(), {"--threads", std::to_string(settings.threadsPerJob)});
  // A video job keeps what it made itself (it resumes from its frames), so it needs no record.
  if (!job.video) args.insert(args.end(), {"--record", kRecordName});
  return args;
}

// In the child: its output to the log, ended with the batch if that dies, then the run.
[[noreturn]] void ExecJob(const std::vector<std::string>& args, const std::string& logPath) {
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  struct sigaction original{};
  original.sa_handler = SIG_DFL;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &original, nullptr);
  const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (log >= 0) {
    ::dup2(log, STDOUT_FILENO);
    ::dup2(log, STDERR_FILENO);
  }
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  std::fprintf(stderr, "Error: cannot start %s: %s\n", argv[0], std::strerror(errno));
  ::_exit(127);
}

// The last "Error: ..." line of a job's log, without the prefix.
std::string ErrorOfLog(const std::string& logPath) {
  std::string text;
  try {
    text = ReadWholeFile(logPath, kMaxLogBytes);
  } catch (const Error&) {
    return {};
  }
  const size_t at = text.rfind("Error: ");
  if (at == std::string::npos) return {};
  const size_t end = text.find('\n', at);
  return text.substr(at + 7, end == std::string::npos ? std::string::npos : end - at - 7);
}

class Batch {
 public:
  Batch(const std::vector<BatchJob>& jobs, const BatchSettings& settings)
      : jobs_(jobs), settings_(settings), outcomes_(jobs.size()) {}

  int Run();

 private:
  void RunAll(const std::vector<size_t>& order);
  std::string FailedBefore(const BatchJob& join) const;
  void Start(size_t index);
  void Finish(size_t index, int status);
  void Report(size_t index);
  void StopRunning();
  int ExitStatus() const;

  const std::vector<BatchJob>& jobs_;
  const BatchSettings& settings_;
  std::vector<std::optional<JobOutcome>> outcomes_;
  std::map<pid_t, size_t> running_;
  bool stopping_ = false;
};

int Batch::Run() {
  gStopSignal = 0;
  CatchStopSignals();
  // The joins after every other job: each encodes the parts its range jobs made.
  std::vector<size_t> jobs;
  std::vector<size_t> joins;
  for (size_t i = 0; i < jobs_.size(); ++i) (jobs_[i].after.empty() ? jobs : joins).push_back(i);
  RunAll(jobs);
  if (gStopSignal == 0 && !joins.empty()) {
    std::vector<size_t> ready;
    for (const size_t i : joins) {
      const std::string failed = FailedBefore(jobs_[i]);
      if (failed.empty()) {
        ready.push_back(i);
        continue;
      }
      JobOutcome outcome;
      outcome.startedAt = Now();
      outcome.outcome = "failed";
      outcome.exitStatus = 1;
      outcome.error = "not joined: its range " + failed + " did not succeed";
      outcomes_[i] = outcome;
      Report(i);
    }
    RunAll(ready);
  }
  return ExitStatus();
}

// The range jobs of this batch a join waits for that did not end done or skipped: "job of
// line 3" or "jobs of lines 3, 5"; "" when there is none.
std::string Batch::FailedBefore(const BatchJob& join) const {
  std::vector<int> failed;
  for (size_t i = 0; i < jobs_.size(); ++i) {
    if (std::find(join.after.begin(), join.after.end(), jobs_[i].line) == join.after.end()) continue;
    const bool ok = outcomes_[i] && (outcomes_[i]->outcome == "done" || outcomes_[i]->outcome == "skipped");
    if (!ok) failed.push_back(jobs_[i].line);
  }
  if (failed.empty()) return {};
  std::string lines;
  for (const int line : failed) lines += (lines.empty() ? "" : ", ") + std::to_string(line);
  return failed.size() == 1 ? "job of line " + lines : "jobs of lines " + lines;
}

void Batch::RunAll(const std::vector<size_t>& order) {
  size_t next = 0;
  while (true) {
    while (gStopSignal == 0 && next < order.size() && running_.size() < static_cast<size_t>(settings_.maxJobs)) {
      Start(order[next++]);
    }
    if (running_.empty()) break;
    if (gStopSignal != 0) StopRunning();
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      throw Error(std::string("waiting for the batch's jobs failed: ") + std::strerror(errno));
    }
    if (const auto it = running_.find(pid); it != running_.end()) {
      const size_t index = it->second;
      running_.erase(it);
      Finish(index, status);
    }
  }
}

void Batch::Start(size_t index) {
  const BatchJob& job = jobs_[index];
  JobOutcome outcome;
  outcome.startedAt = Now();
  std::error_code error;
  std::string why;
  // A video job's folder holds only its log: made when missing.
  if (job.video && !fs::is_directory(job.folder, error) && !fs::create_directories(job.folder, error) && error) {
    outcome.outcome = "failed";
    outcome.exitStatus = 1;
    outcome.error = "cannot create the folder " + job.folder + ": " + error.message();
  } else if (!fs::is_directory(job.folder, error)) {
    outcome.outcome = "failed";
    outcome.exitStatus = 1;
    outcome.error = "the folder " + job.folder + " does not exist";
  } else if (!job.video && JobIsUpToDate(job, outcome.record, why)) {
    outcome.outcome = "skipped";
  }
  if (!outcome.outcome.empty()) {
    outcomes_[index] = outcome;
    Report(index);
    return;
  }
  // No stamp while the job runs: a batch stopped now runs it again.
  fs::remove(fs::path(job.folder) / kBatchStampName, error);
  const std::vector<std::string> args = ChildArguments(job, settings_);
  const std::string logPath = (fs::path(job.folder) / kBatchLogName).string();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw Error(std::string("cannot start a job: ") + std::strerror(errno));
  if (pid == 0) ExecJob(args, logPath);
  outcomes_[index] = outcome;
  running_.emplace(pid, index);
}

void Batch::Finish(size_t index, int status) {
  const BatchJob& job = jobs_[index];
  JobOutcome& outcome = *outcomes_[index];
  outcome.seconds = Now() - outcome.startedAt;
  const fs::path record = fs::path(job.folder) / kRecordName;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && job.video) {
    outcome.outcome = "done";
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    try {
      outcome.record = ParseRunRecord(ReadWholeFile(record.string()));
      WriteFileAtomically((fs::path(job.folder) / kBatchStampName).string(),
                          FormatBatchStamp(job.args, outcome.record));
      outcome.outcome = "done";
    } catch (const Error& e) {
      outcome.outcome = "failed";
      outcome.exitStatus = 1;
      outcome.error = e.what();
    }
  } else if (WIFEXITED(status)) {
    outcome.outcome = "failed";
    outcome.exitStatus = WEXITSTATUS(status);
    outcome.error = ErrorOfLog((fs::path(job.folder) / kBatchLogName).string());
  } else {
    outcome.outcome = stopping_ ? "interrupted" : "failed";
    outcome.exitStatus = 128 + WTERMSIG(status);
    outcome.error = std::string("ended by signal ") + strsignal(WTERMSIG(status));
  }
  std::error_code error;
  fs::remove(record, error);
  Report(index);
}

void Batch::Report(size_t index) {
  const BatchJob& job = jobs_[index];
  const JobOutcome& o = *outcomes_[index];
  if (settings_.summaryToStdout) {
    std::printf("%s\n", FormatSummaryLine(job, o).c_str());
    if (!settings_.summaryShared.empty()) PutSummaryLine(settings_.summaryShared, job.line, FormatSummaryLine(job, o));
  } else if (o.outcome == "skipped") {
    std::printf("line %d %s: skipped, its results are up to date\n", job.line, job.folder.c_str());
  } else if (o.outcome == "done") {
    std::printf("line %d %s: done in %.1f s\n", job.line, job.folder.c_str(), o.seconds);
  } else {
    std::error_code error;
    const fs::path log = fs::path(job.folder) / kBatchLogName;
    const std::string where = fs::exists(log, error) ? "; log " + log.string() : std::string();
    std::printf("line %d %s: %s (exit %d) after %.1f s: %s%s\n", job.line, job.folder.c_str(), o.outcome.c_str(),
                o.exitStatus, o.seconds, o.error.c_str(), where.c_str());
  }
  std::fflush(stdout);
  if (settings_.summaryPath.empty()) return;
  std::string text;
  for (size_t i = 0; i < jobs_.size(); ++i) {
    if (outcomes_[i] && !outcomes_[i]->outcome.empty()) text += FormatSummaryLine(jobs_[i], *outcomes_[i]) + "\n";
  }
  WriteFileAtomically(settings_.summaryPath, text);
}

void Batch::StopRunning() {
  if (stopping_) return;
  stopping_ = true;
  for (const auto& [pid, index] : running_) ::kill(pid, SIGTERM);
}

int Batch::ExitStatus() const {
  if (gStopSignal != 0) {
    std::fprintf(stderr, "Error: the batch was stopped by signal %s; run it again to resume\n",
                 strsignal(gStopSignal));
    return 128 + gStopSignal;
  }
  std::string failed;
  int count = 0;
  for (size_t i = 0; i < jobs_.size(); ++i) {
    if (!outcomes_[i] || outcomes_[i]->outcome != "failed") continue;
    ++count;
    failed += Format("\n  line %d %s: %s", jobs_[i].line, jobs_[i].folder.c_str(), outcomes_[i]->error.c_str());
  }
  if (count == 0) return 0;
  std::fprintf(stderr, "Error: %d of %zu jobs failed (their logs are %s in their folders):%s\n", count, jobs_.size(),
               kBatchLogName, failed.c_str());
  return 1;
}

}  // namespace

int RunBatch(const std::vector<BatchJob>& jobs, const BatchSettings& settings) {
  return Batch(jobs, settings).Run();
}

}  // namespace lumet::cli
