#pragma once

#include <functional>

#include "util/scoped_setting.h"

namespace lumet {

// The smallest amount of work, in inner-loop operations (about one multiply-add or one
// pixel test each), worth handing to another thread. Waking a sleeping worker and joining
// it costs some ten microseconds; below this much work per task that would eat the gain.
inline constexpr long kMinParallelWork = 50000;

// How ParallelFor decides between threads and the calling thread alone. Tests force
// either path whatever the size, so a changed threshold cannot silently stop testing one.
enum class ParallelMode { Auto, ForceParallel, ForceSerial };

// The CPUs this process may run on (its affinity: taskset, a cluster allocation), at least 1.
int UsableCpus();

// Threads used by ParallelFor, the caller included: 0 means every core of the machine
// (the default). Not a parameter of the result: every count gives identical files.
void SetThreadCount(int threads);
// The effective count (at least 1).
int ThreadCount();

void SetParallelMode(ParallelMode mode);
ParallelMode GetParallelMode();

// Runs body(lo, hi) over disjoint ranges that together cover [begin, end), on up to
// ThreadCount() threads. workPerItem estimates the operations one index costs; ranges are
// sized to hold at least kMinParallelWork of it, and with less work in total than that the
// whole range runs on the calling thread. Each thread takes the ranges of its own contiguous
// share first (the same rows from loop to loop, in its own cache), then whatever the others
// have not begun, so a thread slowed by another process simply takes fewer. The body must
// give the same result whatever the
// split (each index writes only its own outputs). A call from inside a body runs serially.
// The first exception a body throws is rethrown here after every range has ended; ranges
// not yet started by then are skipped.
// Idle workers sleep on a condition variable after a poll of some tens of microseconds:
// they take no processor from other programs.
void ParallelFor(int begin, int end, long workPerItem, const std::function<void(int lo, int hi)>& body);

// When the system refuses to start a worker thread (a process limit, no memory for its
// stack), ParallelFor goes on with the threads it has, the caller's own at least, and prints
// one warning on stderr for the whole run; it never aborts or waits for a thread that never
// started.

// Tests: the next `starts` thread starts succeed and every later one fails as under a
// process limit; a negative count lifts the limit. Takes effect when the pool is next made.
void FailThreadStartsAfterForTesting(int starts);

// True inside a ParallelFor body, where a nested ParallelFor runs serially.
bool InsideParallelBody();

// Sets the parallel mode for the lifetime of the object (tests).
using ScopedParallelMode = ScopedSetting<ParallelMode, GetParallelMode, SetParallelMode>;

}  // namespace lumet
