#pragma once

#include <string>
#include <vector>

namespace lumet {

// One line of a batch manifest: a working folder and the options of `lumet-cli run` for it,
// or a video job there: `lumet-cli video INPUT OUTPUT` and its options.
//
// The manifest is a text file of lines "FOLDER [OPTION ...]" or "FOLDER video INPUT OUTPUT
// [OPTION ...]"; words are separated by blanks, and a word may be quoted '...' or "..." (a
// backslash in double quotes takes the next character as it is). Empty lines and lines
// starting with # are left out. A relative folder is taken from the manifest's folder, so
// that a manifest moves with its folders; a video job's folder is made when it is missing
// (it holds only the job's log).
//
// The video lines with --parts-only are range jobs: they make the parts of their frames of
// OUTPUT. A video line without --parts-only naming the same OUTPUT (taken from its folder)
// is their join: it encodes the parts, so it runs once they are all done.
struct BatchJob {
  int line = 0;                   // 1-based line of the manifest
  std::string folder;             // absolute, lexically normal
  std::vector<std::string> args;  // the run options, as written (a video job: INPUT OUTPUT and its options)
  bool video = false;             // a video job
  std::vector<int> after = {};    // a join: the lines of its range jobs, which run first
};

// The command a job's line runs in its folder: "run" or "video".
inline const char* JobCommand(const BatchJob& job) { return job.video ? "video" : "run"; }

// The words of a manifest line; problem is set (and the words are partial) when a quote is
// left open.
std::vector<std::string> SplitManifestWords(const std::string& line, std::string& problem);

// Reads the manifest at path. lumet::Error naming the file and the line when a line cannot
// be split, when two lines name one folder (their runs would overwrite each other's files),
// or when there is no job at all.
std::vector<BatchJob> ReadBatchManifest(const std::string& path);

// A word quoted for a POSIX shell, left bare when it holds only safe characters.
std::string ShellQuote(const std::string& word);

// A word as a manifest line writes it: bare when it holds only safe characters, else in
// double quotes (SplitManifestWords reads it back as it was).
std::string ManifestWord(const std::string& word);

// A JSON string literal of text (UTF-8 passed through, control characters escaped, bytes
// that are no UTF-8 replaced by U+FFFD).
std::string JsonString(const std::string& text);

// The files a finished run read and wrote, as it names them (relative to its folder).
struct RunRecord {
  std::vector<std::string> read;
  std::vector<std::string> written;
};

// The record as lines "read NAME" and "wrote NAME", and back. ParseRunRecord skips lines it
// does not know.
std::string FormatRunRecord(const RunRecord& record);
RunRecord ParseRunRecord(const std::string& text);

// The stamp a job leaves in its folder when its run succeeded: the options it ran with
// and its run record. A job is up to date, and a batch skips it, when the stamp names the
// same options, every file of the record exists, no file read is newer than the oldest file
// written, and no file written is newer than the stamp (nothing was changed since).
inline constexpr const char* kBatchStampName = ".lumet-batch-done";
// The run's log (its standard output and error) in the job's folder.
inline constexpr const char* kBatchLogName = "lumet-run.log";

std::string FormatBatchStamp(const std::vector<std::string>& args, const RunRecord& record);
// The record of an up-to-date job; false (and why) otherwise.
bool JobIsUpToDate(const BatchJob& job, RunRecord& record, std::string& why);

// What became of a job, for the summary.
struct JobOutcome {
  std::string outcome;  // "done", "skipped", "failed" or "interrupted"
  int exitStatus = 0;
  double startedAt = 0.0;  // seconds since the epoch
  double seconds = 0.0;
  std::string error;  // the run's "Error: ..." line, if any
  RunRecord record;
};

// One JSON object on one line: line, folder, outcome, exit status, start and end (UTC,
// ISO 8601), seconds, log, error, and the files written.
std::string FormatSummaryLine(const BatchJob& job, const JobOutcome& outcome);

// Puts a job's summary line into the summary at path, replacing an earlier line of the same
// manifest line, under a lock so that the tasks of an array can do so at once.
void PutSummaryLine(const std::string& path, int manifestLine, const std::string& summaryLine);

// The job list for GNU parallel: one command a line, each running one job of the manifest
// (skipping it when up to date) with `threads` threads (unless its line names them) and
// printing its summary line. The joins are left out of it: they run after it.
std::string EmitParallelJobs(const std::string& program, const std::string& manifest,
                             const std::vector<BatchJob>& jobs, int threads);
// How to run the joins once every job of the list has succeeded ("" when there is none).
std::string ParallelJoinNote(const std::string& program, const std::string& manifest,
                             const std::vector<BatchJob>& jobs, int threads);

// What a Slurm array's tasks ask for, and where they put their summary lines.
struct SlurmSettings {
  int cpusPerTask = 2;
  std::string memory = "4G";
  std::string time = "01:00:00";
  int arrayMax = 1000;  // the largest array the site allows; more jobs are split into arrays
  std::string summary;  // the summary file every task puts its line into
};

// A Slurm array script: one array task a job, each one `srun PROGRAM batch MANIFEST --job L`
// (skipping an up-to-date job, stamping and putting its line into the summary), its log
// lumet-<job>_<task>.log beside the manifest. Run with bash it submits itself, one array
// per arrayMax jobs; the joins are tasks of arrays submitted after those, which start once
// every task before them succeeded (sbatch --dependency=afterok).
std::string EmitSlurmScript(const std::string& program, const std::string& manifest,
                            const std::vector<BatchJob>& jobs, const SlurmSettings& slurm);

}  // namespace lumet
