#pragma once

#include <string>
#include <vector>

#include "workbench/batch.h"

namespace lumet::cli {

// Runs batch jobs as child processes `PROGRAM -C FOLDER run OPTIONS --record ...` (a video
// job: `PROGRAM -C FOLDER video INPUT OUTPUT OPTIONS`), at most maxJobs at a time, each
// one's output going to its folder's log; the joins start once the other jobs have ended,
// each when its range jobs are done. A run job whose results are up to date is skipped (a
// video job keeps the frames it made before by itself). SIGINT, SIGTERM and SIGHUP stop the batch: the running jobs are
// stopped with SIGTERM (their files are written atomically, so each stays old or new),
// nothing more starts, and a later batch resumes with the jobs left.
struct BatchSettings {
  std::string program;       // the lumet-cli to run
  int maxJobs = 1;
  int threadsPerJob = 0;     // --threads given to a run whose line names none (0: every core)
  std::string summaryPath;   // rewritten after every job; "" for none
  bool summaryToStdout = false;  // print each job's summary line instead of a progress line
  std::string summaryShared;     // with summaryToStdout: also put the line into this summary (PutSummaryLine)
};

// The exit status: 0 when every job is done or skipped, 1 when one failed (the failures
// named on stderr), 128 + the signal when the batch was stopped.
int RunBatch(const std::vector<BatchJob>& jobs, const BatchSettings& settings);

}  // namespace lumet::cli
