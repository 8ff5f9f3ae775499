// batch: many sequences, each a run in its own folder, here or on GNU parallel or Slurm.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch_runner.h"
#include "cli/cli_commands.h"
#include "util/error.h"
#include "util/parallel.h"
#include "workbench/batch.h"

namespace lumet::cli {

namespace {

struct BatchOptions {
  std::string manifest;
  int jobs = 1;
  int threads = 0;
  int job = 0;
  std::string emit;
  std::string summary;
  SlurmSettings slurm;
};

// Values written into the Slurm script as they stand: only the shapes Slurm reads.
size_t Digits(const std::string& text, size_t at) {
  size_t end = at;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  return end - at;
}

// "4G", "500M", "2048".
bool IsSlurmSize(const std::string& text) {
  const size_t n = Digits(text, 0);
  return n > 0 && (n == text.size() || (n + 1 == text.size() && std::string("KMGT").find(text[n]) != std::string::npos));
}

// "30", "01:00:00", "2-12:00:00": [days-]minutes or hours:minutes[:seconds].
bool IsSlurmTime(const std::string& text) {
  size_t at = 0;
  const size_t dash = text.find('-');
  if (dash != std::string::npos) {
    if (dash == 0 || Digits(text, 0) != dash) return false;
    at = dash + 1;
  }
  const size_t lead = Digits(text, at);
  if (lead == 0) return false;
  at += lead;
  for (int parts = 0; at < text.size(); ++parts) {
    if (parts == 2 || text[at] != ':' || Digits(text, at + 1) != 2) return false;
    at += 3;
  }
  return true;
}

CLI::Validator SlurmWord(const std::string& what, bool (*valid)(const std::string&)) {
  return CLI::Validator(
      [what, valid](std::string& value) { return valid(value) ? std::string() : value + " is not " + what; }, "");
}

std::string ProgramPath() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) throw Error("cannot find the path of lumet-cli itself (/proc/self/exe)");
  return std::string(path, static_cast<size_t>(n));
}

// Every line's options must be ones its command (`run` or `video`) takes, checked before any
// job starts.
void CheckJobOptions(const std::string& manifest, const std::vector<BatchJob>& jobs) {
  for (const BatchJob& job : jobs) {
    const std::string where = manifest + " line " + std::to_string(job.line) + ": ";
    for (const std::string& a : job.args) {
      if (a == "--record" || a.rfind("--record=", 0) == 0 || a == "-C" || a == "--help" || a == "-h") {
        throw Error(where + a + " has no place in a batch line (the batch gives it)");
      }
      if (job.video && (a == "--split-every" || a.rfind("--split-every=", 0) == 0)) {
        throw Error(where + a + " has no place in a batch line (it prints range jobs instead of running one)");
      }
    }
    std::vector<const char*> argv{"lumet-cli", JobCommand(job)};
    for (const std::string& a : job.args) argv.push_back(a.c_str());
    std::string folder;
    CommandSlot slot;
    std::ostringstream out;
    std::ostringstream err;
    char* hintText = nullptr;
    size_t hintSize = 0;
    FILE* hints = ::open_memstream(&hintText, &hintSize);
    if (hints == nullptr) throw std::bad_alloc();
    const int parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), folder, slot, out, err, hints);
    std::fclose(hints);
    std::string message = std::string(hintText, hintSize) + err.str();
    std::free(hintText);
    if (parsed != kParsedCommand) {
      message = message.substr(0, message.find('\n'));
      throw Error(where + (message.empty() ? std::string("the options are not those of lumet-cli ") + JobCommand(job)
                                           : message));
    }
  }
}

// What --help says after the options: video lines, split videos and their joins.
constexpr const char* kBatchFooter =
    "A line FOLDER video INPUT OUTPUT [VIDEO OPTIONS] runs lumet-cli -C FOLDER video INPUT OUTPUT with those "
    "options (its folder, which holds only its log, is made when missing). The video lines with --parts-only are "
    "range jobs of a split video; a video line without --parts-only naming the same OUTPUT is their join: it "
    "encodes the parts they made. The batch runs the joins after every other line, each once its range jobs "
    "succeeded. A video job is run again each time (it keeps the frames it made before, and a finished video "
    "whole), so its summary line says done, not skipped. lumet-cli video INPUT OUTPUT [OPTIONS] --split-every N prints such a manifest, e.g.\n"
    "  lumet-cli video clip.mkv sr.mkv --scale 2 --split-every 500 > split.txt\n"
    "  lumet-cli batch split.txt --jobs 4\n"
    "--emit parallel leaves the joins out of the job list and prints on stderr the commands that run them once "
    "the list succeeded:\n"
    "  lumet-cli batch split.txt --emit parallel > jobs.list   # prints the join: lumet-cli batch ... --job L\n"
    "  parallel --jobs 4 < jobs.list && lumet-cli batch split.txt --job L\n"
    "--emit slurm makes the joins tasks submitted after the array with sbatch --dependency=afterok, so the script "
    "is submitted with bash:\n"
    "  lumet-cli batch split.txt --emit slurm > split.sh && bash split.sh";

int RunBatchCommand(const BatchOptions& o) {
  std::vector<BatchJob> jobs = ReadBatchManifest(o.manifest);
  CheckJobOptions(o.manifest, jobs);
  const std::string program = ProgramPath();
  const std::string summary = o.summary.empty() ? o.manifest + ".summary.jsonl" : o.summary;
  // Each of --jobs jobs at once gets its share of the CPUs this process may use.
  const int threads = o.threads != 0 ? o.threads : std::max(1, UsableCpus() / o.jobs);
  if (o.emit == "parallel") {
    std::fputs(EmitParallelJobs(program, o.manifest, jobs, threads).c_str(), stdout);
    // The joins are no jobs of the list (parallel would start them with their range jobs).
    std::fflush(stdout);
    std::fputs(ParallelJoinNote(program, o.manifest, jobs, threads).c_str(), stderr);
    return kExitOk;
  }
  if (o.emit == "slurm") {
    SlurmSettings slurm = o.slurm;
    slurm.summary = summary;
    std::fputs(EmitSlurmScript(program, o.manifest, jobs, slurm).c_str(), stdout);
    return kExitOk;
  }
  BatchSettings settings;
  settings.program = program;
  if (o.job != 0) {
    // One job, as GNU parallel runs it: its summary line on stdout.
    const auto it = std::find_if(jobs.begin(), jobs.end(), [&](const BatchJob& j) { return j.line == o.job; });
    if (it == jobs.end()) throw Error(o.manifest + " line " + std::to_string(o.job) + " is not a job");
    jobs = {*it};
    settings.summaryToStdout = true;
    settings.summaryShared = o.summary;
    settings.threadsPerJob = o.threads;
  } else {
    settings.maxJobs = o.jobs;
    settings.threadsPerJob = threads;
    settings.summaryPath = summary;
  }
  return RunBatch(jobs, settings);
}

}  // namespace

void AddBatchCommand(CLI::App& app, CommandSlot& slot) {
  auto o = std::make_shared<BatchOptions>();
  auto* command = app.add_subcommand(
      "batch",
      "run many sequences: each line of MANIFEST is a folder and its run options; skips jobs whose results are "
      "up to date, so a stopped batch resumes");
  command
      ->add_option("MANIFEST", o->manifest,
                   "text file, one job a line: FOLDER [RUN OPTIONS], or FOLDER video INPUT OUTPUT [VIDEO OPTIONS]; # "
                   "starts a comment")
      ->required()
      ->type_name("MANIFEST");
  command->add_option("--jobs", o->jobs, "jobs run at once on this machine")
      ->type_name("N")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  command
      ->add_option("--threads", o->threads,
                   "threads of each job (0: the cores shared among the jobs, the default); the results are the same "
                   "for every N")
      ->type_name("N")
      ->check(CLI::Range(0, 1024));
  command
      ->add_option("--summary", o->summary,
                   "JSON-lines summary, one line a job (default MANIFEST.summary.jsonl); with --job, the line is also "
                   "put into FILE, replacing that job's earlier one, safely from many tasks at once")
      ->type_name("FILE");
  command
      ->add_option("--emit", o->emit,
                   "print the jobs instead of running them: a job list for GNU parallel, or a Slurm array script")
      ->type_name("parallel|slurm")
      ->check(CLI::IsMember({"parallel", "slurm"}));
  command->add_option("--cpus-per-task", o->slurm.cpusPerTask, "--emit slurm: CPUs each task asks for (its threads)")
      ->type_name("N")
      ->check(CLI::Range(1, 1024))
      ->capture_default_str();
  command->add_option("--mem", o->slurm.memory, "--emit slurm: memory each task asks for (Slurm's form: 4G, 500M)")
      ->type_name("SIZE")
      ->check(SlurmWord("a size such as 4G or 500M", IsSlurmSize))
      ->capture_default_str();
  command->add_option("--time", o->slurm.time, "--emit slurm: time limit of each task (Slurm's form: 01:00:00, 2-00:00:00)")
      ->type_name("TIME")
      ->check(SlurmWord("a time such as 01:00:00, 30 or 2-12:00:00", IsSlurmTime))
      ->capture_default_str();
  command->add_option("--array-max", o->slurm.arrayMax,
                      "--emit slurm: the largest array the site allows (its MaxArraySize); more jobs are submitted as "
                      "several arrays")
      ->type_name("N")
      ->check(CLI::Range(1, 100000000))
      ->capture_default_str();
  command->add_option("--job", o->job, "run only the job of manifest line L and print its summary line (GNU parallel)")
      ->type_name("L")
      ->check(CLI::Range(1, 100000000));
  command->footer(kBatchFooter);
  command->callback([&slot, o] { slot.run = [o] { return RunBatchCommand(*o); }; });
}

}  // namespace lumet::cli
