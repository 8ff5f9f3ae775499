#include "workbench/batch.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>

#include "util/error.h"
#include "util/input_file.h"
#include "util/text_format.h"

namespace lumet {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxManifestBytes = size_t{16} << 20;
constexpr size_t kMaxStampBytes = size_t{16} << 20;
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

bool NamesThreads(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& a) { return a == "--threads" || a.rfind("--threads=", 0) == 0; });
}

// The modification time of folder/name; false when the file does not exist.
bool ModifiedAt(const std::string& folder, const std::string& name, fs::file_time_type& at) {
  std::error_code error;
  at = fs::last_write_time(fs::path(folder) / name, error);
  return !error;
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
    job.args.assign(words.begin() + 1, words.end());
    if (const auto [it, added] = lineOfFolder.emplace(job.folder, number); !added) {
      throw Error(where + ": the folder " + job.folder + " is the folder of line " + std::to_string(it->second) +
                  " already (two runs in one folder overwrite each other's files)");
    }
    jobs.push_back(std::move(job));
  }
  if (jobs.empty()) throw Error(path + " names no job: write one line per job, a folder followed by run options");
  return jobs;
}

std::string ShellQuote(const std::string& word) {
  const bool safe = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("%+,-./:=@_").find(c) != std::string_view::npos;
  });
  if (safe) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += Format("\\u%04x", static_cast<unsigned>(c));
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
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
  std::string files;
  for (const std::string& name : outcome.record.written) {
    if (!files.empty()) files += ',';
    files += JsonString((fs::path(job.folder) / name).lexically_normal().string());
  }
  const std::string log = (fs::path(job.folder) / kBatchLogName).string();
  return "{\"line\":" + std::to_string(job.line) + ",\"folder\":" + JsonString(job.folder) +
         ",\"outcome\":" + JsonString(outcome.outcome) + ",\"exit\":" + std::to_string(outcome.exitStatus) +
         ",\"started\":" + JsonString(IsoTime(outcome.startedAt)) +
         ",\"finished\":" + JsonString(IsoTime(outcome.startedAt + outcome.seconds)) +
         ",\"seconds\":" + Format("%.3f", outcome.seconds) + ",\"log\":" + JsonString(log) +
         ",\"error\":" + JsonString(outcome.error) + ",\"files\":[" + files + "]}";
}

std::string EmitParallelJobs(const std::string& program, const std::string& manifest,
                             const std::vector<BatchJob>& jobs) {
  const std::string absolute = fs::absolute(fs::path(manifest)).lexically_normal().string();
  std::string text;
  for (const BatchJob& job : jobs) {
    text += ShellQuote(program) + " batch " + ShellQuote(absolute) + " --job " + std::to_string(job.line) + "\n";
  }
  return text;
}

std::string EmitSlurmScript(const std::string& program, const std::string& manifest,
                            const std::vector<BatchJob>& jobs) {
  const fs::path absolute = fs::absolute(fs::path(manifest)).lexically_normal();
  const std::string logs = (absolute.parent_path() / "lumet-%A_%a.log").string();
  std::string text = "#!/bin/bash\n# Lumet batch " + absolute.string() + ": one array task a folder.\n" +
                     "#SBATCH --job-name=lumet-batch\n#SBATCH --array=0-" + std::to_string(jobs.size() - 1) +
                     "\n#SBATCH --output=" + logs + "\n#SBATCH --error=" + logs +
                     "\nset -euo pipefail\ncase \"${SLURM_ARRAY_TASK_ID:?submit this script with sbatch}\" in\n";
  for (size_t task = 0; task < jobs.size(); ++task) {
    const BatchJob& job = jobs[task];
    std::string args = JoinedArgs(job.args);
    // Each task computes with the cores Slurm gave it, unless the line says otherwise.
    if (!NamesThreads(job.args)) {
      if (!args.empty()) args += ' ';
      args += "--threads \"${SLURM_CPUS_PER_TASK:-0}\"";
    }
    text += "  " + std::to_string(task) + ") folder=" + ShellQuote(job.folder) + "; set -- " + args + " ;;  # line " +
            std::to_string(job.line) + "\n";
  }
  text += "  *) echo \"lumet batch: no job for array task $SLURM_ARRAY_TASK_ID\" >&2; exit 2 ;;\nesac\n";
  text += "exec srun " + ShellQuote(program) + " -C \"$folder\" run \"$@\"\n";
  return text;
}

}  // namespace lumet
