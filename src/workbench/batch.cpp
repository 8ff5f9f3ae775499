#include "workbench/batch.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "util/atomic_file.h"
#include "util/error.h"
#include "util/input_file.h"
#include "util/text_format.h"

namespace lumet {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxManifestBytes = size_t{16} << 20;
constexpr size_t kMaxStampBytes = size_t{16} << 20;
constexpr size_t kMaxSummaryBytes = size_t{256} << 20;
constexpr const char* kStampHeader = "lumet batch stamp 1";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string IsoTime(double secondsSinceEpoch) {
  const std::time_t whole = static_cast<std::time_t>(std::floor(secondsSinceEpoch));
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string JoinedArgs(const std::vector<std::string>& args) {
  std::string joined;
  for (const std::string& a : args) {
    if (!joined.empty()) joined += ' ';
    joined += ShellQuote(a);
  }
  return joined;
}

// The modification time of folder/name; false when the file does not exist.
bool ModifiedAt(const std::string& folder, const std::string& name, fs::file_time_type& at) {
  std::error_code error;
  at = fs::last_write_time(fs::path(folder) / name, error);
  return !error;
}

bool IsSafeWord(const std::string& word) {
  return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("%+,-./:=@_").find(c) != std::string_view::npos;
  });
}

bool IsPartsOnly(const std::string& word) { return word == "--parts-only" || word.rfind("--parts-only=", 0) == 0; }

// A video line: "video INPUT OUTPUT [OPTION ...]" after the folder, INPUT and OUTPUT first.
void ReadVideoLine(const std::string& where, const std::vector<std::string>& words, BatchJob& job) {
  job.video = true;
  job.args.assign(words.begin() + 2, words.end());
  const char* const names[] = {"INPUT", "OUTPUT"};
  for (size_t i = 0; i < 2; ++i) {
    if (job.args.size() <= i || job.args[i].empty() || job.args[i][0] == '-') {
      throw Error(where + ": a video line is FOLDER video INPUT OUTPUT [VIDEO OPTIONS], and " + names[i] + " is " +
                  (job.args.size() <= i ? std::string("missing") : "\"" + job.args[i] + "\""));
    }
  }
}

// Each video line without --parts-only waits for the --parts-only lines of its OUTPUT.
void FindJoins(std::vector<BatchJob>& jobs) {
  const auto output = [](const BatchJob& job) { return (fs::path(job.folder) / job.args[1]).lexically_normal().string(); };
  const auto partsOnly = [](const BatchJob& job) { return std::any_of(job.args.begin(), job.args.end(), IsPartsOnly); };
  std::map<std::string, std::vector<int>> rangeLines;
  for (const BatchJob& job : jobs) {
    if (job.video && partsOnly(job)) rangeLines[output(job)].push_back(job.line);
  }
  for (BatchJob& job : jobs) {
    if (!job.video || partsOnly(job)) continue;
    if (const auto it = rangeLines.find(output(job)); it != rangeLines.end()) job.after = it->second;
  }
}

}  // namespace

std::vector<std::string> SplitManifestWords(const std::string& line, std::string& problem) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote == '\'') {
      if (c == '\'') {
        quote = 0;
      } else {
        word += c;
      }
    } else if (quote == '"') {
      if (c == '"') {
        quote = 0;
      } else {
        word += c == '\\' && i + 1 < line.size() ? line[++i] : c;
      }
    } else if (IsBlank(c)) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      inWord = true;
      if (c == '\'' || c == '"') {
        quote = c;
      } else {
        word += c;
      }
    }
  }
  if (quote != 0) {
    problem = std::string("a quote ") + quote + " is not closed";
  } else if (inWord) {
    words.push_back(word);
  }
  return words;
}

std::vector<BatchJob> ReadBatchManifest(const std::string& path) {
  const std::string text = ReadWholeFile(path, kMaxManifestBytes);
  const fs::path base = fs::absolute(fs::path(path)).parent_path();
  std::vector<BatchJob> jobs;
  std::map<std::string, int> lineOfFolder;
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    std::string problem;
    std::vector<std::string> words = SplitManifestWords(line, problem);
    const std::string where = path + " line " + std::to_string(number);
    if (!problem.empty()) throw Error(where + ": " + problem);
    BatchJob job;
    job.line = number;
    job.folder = (base / words[0]).lexically_normal().string();
    if (job.folder.size() > 1 && job.folder.back() == '/') job.folder.pop_back();
    if (words.size() > 1 && words[1] == "video") {
      ReadVideoLine(where, words, job);
    } else {
      job.args.assign(words.begin() + 1, words.end());
    }
    if (const auto [it, added] = lineOfFolder.emplace(job.folder, number); !added) {
      throw Error(where + ": the folder " + job.folder + " is the folder of line " + std::to_string(it->second) +
                  " already (two runs in one folder overwrite each other's files)");
    }
    jobs.push_back(std::move(job));
  }
  if (jobs.empty()) throw Error(path + " names no job: write one line per job, a folder followed by run options");
  FindJoins(jobs);
  return jobs;
}

std::string ShellQuote(const std::string& word) {
  if (IsSafeWord(word)) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ManifestWord(const std::string& word) {
  if (IsSafeWord(word)) return word;
  std::string quoted = "\"";
  for (const char c : word) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string JsonString(const std::string& text) {
  // Bytes that are no UTF-8 (a folder named in Latin-1) become U+FFFD: every line stays JSON.
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string FormatRunRecord(const RunRecord& record) {
  std::string text;
  for (const std::string& name : record.read) text += "read " + name + "\n";
  for (const std::string& name : record.written) text += "wrote " + name + "\n";
  return text;
}

RunRecord ParseRunRecord(const std::string& text) {
  RunRecord record;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("read ", 0) == 0) record.read.push_back(line.substr(5));
    if (line.rfind("wrote ", 0) == 0) record.written.push_back(line.substr(6));
  }
  return record;
}

std::string FormatBatchStamp(const std::vector<std::string>& args, const RunRecord& record) {
  return std::string(kStampHeader) + "\nargs " + JoinedArgs(args) + "\n" + FormatRunRecord(record);
}

bool JobIsUpToDate(const BatchJob& job, RunRecord& record, std::string& why) {
  const std::string stampPath = (fs::path(job.folder) / kBatchStampName).string();
  fs::file_time_type stampTime;
  if (!ModifiedAt(job.folder, kBatchStampName, stampTime)) {
    why = "no finished run";
    return false;
  }
  std::string text;
  try {
    text = ReadWholeFile(stampPath, kMaxStampBytes);
  } catch (const Error&) {
    why = "its stamp cannot be read";
    return false;
  }
  const std::string header = std::string(kStampHeader) + "\nargs " + JoinedArgs(job.args) + "\n";
  if (text.rfind(header, 0) != 0) {
    why = "the options changed";
    return false;
  }
  record = ParseRunRecord(text.substr(header.size()));
  if (record.written.empty()) {
    why = "its stamp names no result";
    return false;
  }
  fs::file_time_type newestRead = fs::file_time_type::min();
  fs::file_time_type oldestWritten = fs::file_time_type::max();
  for (const std::string& name : record.read) {
    fs::file_time_type at;
    if (!ModifiedAt(job.folder, name, at)) return why = name + " is missing", false;
    newestRead = std::max(newestRead, at);
  }
  for (const std::string& name : record.written) {
    fs::file_time_type at;
    if (!ModifiedAt(job.folder, name, at)) return why = name + " is missing", false;
    if (at > stampTime) return why = name + " changed after the run", false;
    oldestWritten = std::min(oldestWritten, at);
  }
  if (newestRead > oldestWritten) return why = "an input is newer than the results", false;
  return true;
}

std::string FormatSummaryLine(const BatchJob& job, const JobOutcome& outcome) {
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  for (const std::string& name : outcome.record.written) {
    files.push_back((fs::path(job.folder) / name).lexically_normal().string());
  }
  const nlohmann::ordered_json line = {
      {"line", job.line},
      {"folder", job.folder},
      {"outcome", outcome.outcome},
      {"exit", outcome.exitStatus},
      {"started", IsoTime(outcome.startedAt)},
      {"finished", IsoTime(outcome.startedAt + outcome.seconds)},
      {"seconds", std::round(outcome.seconds * 1000.0) / 1000.0},
      {"log", (fs::path(job.folder) / kBatchLogName).string()},
      {"error", outcome.error},
      {"files", files}};
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void PutSummaryLine(const std::string& path, int manifestLine, const std::string& summaryLine) {
  // Concurrent tasks take turns on a lock file beside the summary; a line of the same
  // manifest line (a task run again) is replaced, the others kept in their order.
  const std::string lockPath = path + ".lock";
  const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) throw Error("cannot open the summary's lock " + lockPath + ": " + std::strerror(errno));
  while (::flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(lock);
      throw Error("cannot lock the summary " + path + ": " + std::strerror(errno));
    }
  }
  try {
    std::string kept;
    std::error_code error;
    if (fs::exists(path, error)) {
      std::istringstream in(ReadWholeFile(path, kMaxSummaryBytes));
      const std::string mine = "{\"line\":" + std::to_string(manifestLine) + ",";
      for (std::string row; std::getline(in, row);) {
        if (!row.empty() && row.rfind(mine, 0) != 0) kept += row + "\n";
      }
    }
    WriteFileAtomically(path, kept + summaryLine + "\n");
  } catch (...) {
    ::close(lock);
    throw;
  }
  ::close(lock);
}

namespace {

std::string ParallelCommand(const std::string& program, const std::string& manifest, int line, int threads) {
  return ShellQuote(program) + " batch " + ShellQuote(fs::absolute(fs::path(manifest)).lexically_normal().string()) +
         " --job " + std::to_string(line) + " --threads " + std::to_string(threads);
}

// The sbatch lines of tasks offset .. offset + count - 1, at most arrayMax an array. With
// parsable, each array's id is added to $after.
std::string SubmitArrays(size_t offset, size_t count, size_t arrayMax, const std::string& options, bool parsable) {
  std::string text;
  for (size_t first = 0; first < count; first += arrayMax) {
    const size_t size = std::min(arrayMax, count - first);
    const std::string submit = "sbatch " + options + "--array=0-" + std::to_string(size - 1) +
                               " --export=ALL,LUMET_TASK_OFFSET=" + std::to_string(offset + first) + " \"$0\"";
    text += parsable ? "  id=$(" + submit + ")\n  after=$after:${id%%;*}\n" : "  " + submit + "\n";
  }
  return text;
}

}  // namespace

std::string EmitParallelJobs(const std::string& program, const std::string& manifest,
                             const std::vector<BatchJob>& jobs, int threads) {
  std::string text;
  for (const BatchJob& job : jobs) {
    if (job.after.empty()) text += ParallelCommand(program, manifest, job.line, threads) + "\n";
  }
  return text;
}

std::string ParallelJoinNote(const std::string& program, const std::string& manifest,
                             const std::vector<BatchJob>& jobs, int threads) {
  std::string text;
  for (const BatchJob& job : jobs) {
    if (!job.after.empty()) text += "  " + ParallelCommand(program, manifest, job.line, threads) + "\n";
  }
  if (text.empty()) return text;
  return "Once every job of the list has succeeded (parallel's exit status 0), run the joins, which encode the "
         "videos from the parts the range jobs made:\n" +
         text;
}

std::string EmitSlurmScript(const std::string& program, const std::string& manifest,
                            const std::vector<BatchJob>& jobs, const SlurmSettings& slurm) {
  const fs::path absolute = fs::absolute(fs::path(manifest)).lexically_normal();
  const std::string logs = (absolute.parent_path() / "lumet-%A_%a.log").string();
  const std::string summary = fs::absolute(fs::path(slurm.summary)).lexically_normal().string();
  // The tasks: the jobs in their order, then the joins, which wait for them.
  std::vector<const BatchJob*> tasks;
  for (const BatchJob& job : jobs) {
    if (job.after.empty()) tasks.push_back(&job);
  }
  const size_t count = tasks.size();
  for (const BatchJob& job : jobs) {
    if (!job.after.empty()) tasks.push_back(&job);
  }
  const size_t joins = tasks.size() - count;
  const size_t arrayMax = static_cast<size_t>(std::max(1, slurm.arrayMax));
  const size_t arrays = (count + arrayMax - 1) / arrayMax;
  std::string text = "#!/bin/bash\n# Lumet batch " + absolute.string() + ": " + std::to_string(count) +
                     " jobs, one array task each, skipping those whose results are up to date";
  if (joins == 0) {
    text += ".\n";
    text += arrays == 1 ? "# Submit with: sbatch THIS-SCRIPT (or bash THIS-SCRIPT, which calls sbatch).\n"
                        : "# Submit with: bash THIS-SCRIPT, which submits " + std::to_string(arrays) +
                              " arrays of at most " + std::to_string(arrayMax) + " tasks.\n";
  } else {
    text += "; then " + std::to_string(joins) + (joins == 1 ? " join" : " joins") +
            " encoding the videos from their parts, tasks that start once every job succeeded.\n"
            "# Submit with: bash THIS-SCRIPT, which submits " +
            std::to_string(arrays) + (arrays == 1 ? " array" : " arrays") + " of at most " +
            std::to_string(arrayMax) + " tasks and the joins after them (sbatch --dependency=afterok).\n";
  }
  text += "#SBATCH --job-name=lumet-batch\n";
  if (arrays == 1 && joins == 0) text += "#SBATCH --array=0-" + std::to_string(count - 1) + "\n";
  text += "#SBATCH --cpus-per-task=" + std::to_string(slurm.cpusPerTask) + "\n#SBATCH --mem=" + slurm.memory +
          "\n#SBATCH --time=" + slurm.time + "\n#SBATCH --output=" + logs + "\n#SBATCH --error=" + logs +
          "\nset -euo pipefail\n";
  // Outside a task the script submits itself, one array per share of the jobs (and of the joins after them).
  text += "if [ -z \"${SLURM_ARRAY_TASK_ID:-}\" ]; then\n";
  if (joins == 0) {
    text += SubmitArrays(0, count, arrayMax, "", false);
  } else {
    text += "  after=afterok\n" + SubmitArrays(0, count, arrayMax, "--parsable ", true) +
            SubmitArrays(count, joins, arrayMax, "--dependency=\"$after\" ", false);
  }
  text += "  exit 0\nfi\ntask=$((SLURM_ARRAY_TASK_ID + ${LUMET_TASK_OFFSET:-0}))\ncase \"$task\" in\n";
  for (size_t task = 0; task < tasks.size(); ++task) {
    text += "  " + std::to_string(task) + ") line=" + std::to_string(tasks[task]->line) + " ;;  # " +
            ShellQuote(tasks[task]->folder) + (task >= count ? " (join)" : "") + "\n";
  }
  text += "  *) echo \"lumet batch: no job for array task $task\" >&2; exit 2 ;;\nesac\n";
  // Each task computes with the CPUs Slurm gave it, unless its line says otherwise.
  text += "exec srun " + ShellQuote(program) + " batch " + ShellQuote(absolute.string()) +
          " --job \"$line\" --summary " + ShellQuote(summary) + " --threads \"${SLURM_CPUS_PER_TASK:-0}\"\n";
  return text;
}

}  // namespace lumet
