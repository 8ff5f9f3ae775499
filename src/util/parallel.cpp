#include "util/parallel.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace lumet {

namespace {

// Ranges per thread, at most: many small ones, so that the threads finish together (the last
// range is all one waits for the other) and a thread that another process slows down hands
// most of its share to the others. Claiming one is an atomic increment; the minimum work per
// range keeps that negligible.
constexpr int kRangesPerThread = 16;
// How long a thread that waits (a worker for the next loop, the caller for the last ranges
// of its loop) polls before it goes to sleep: consecutive loops of one step follow each other
// within microseconds, and catching them awake saves a wake-up (tens of microseconds, more on
// a loaded machine). It spins with the processor's pause hint, then yields a few times, so
// that another process that wants the core gets it; longer would not pay: on a machine where
// another process holds a core, a thread of ours that sleeps leaves its core idle, and the
// system can move the thread we wait for there.
constexpr auto kSpinTime = std::chrono::microseconds(50);
constexpr int kYieldsBeforeSleep = 8;

// Polls ready() until it holds (true) or the polling time is over (false).
template <typename Ready>
bool PollUntil(const Ready& ready) {
  const auto start = std::chrono::steady_clock::now();
  for (int spin = 1;; ++spin) {
    if (ready()) return true;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
    if (spin % 64 == 0 && std::chrono::steady_clock::now() - start > kSpinTime) break;
  }
  for (int poll = 0; poll < kYieldsBeforeSleep; ++poll) {
    if (ready()) return true;
    std::this_thread::yield();
  }
  return ready();
}

int MachineThreads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

std::atomic<int> requestedThreads{0};
std::atomic<ParallelMode> parallelMode{ParallelMode::Auto};
thread_local bool insideBody = false;

// One ParallelFor call. Shared with the workers through a shared_ptr, so a worker that
// wakes after the call has ended finds nothing left to claim and touches nothing freed.
struct Job {
  // The ranges in one contiguous share per thread. A thread claims the ranges of its own
  // share first, in order, then those left in the others: a loop over rows that follows
  // another finds most of its rows where the same thread left them, in its own cache, and
  // a thread that another process holds up still hands what it has not begun to the rest.
  struct Share {
    alignas(64) std::atomic<int> next{0};
    int end = 0;
  };

  Job(int ranges, int threads) : ranges(ranges), shares(static_cast<size_t>(threads)) {
    for (int k = 0; k < threads; ++k) {
      shares[static_cast<size_t>(k)].next.store(static_cast<int>(static_cast<int64_t>(ranges) * k / threads));
      shares[static_cast<size_t>(k)].end = static_cast<int>(static_cast<int64_t>(ranges) * (k + 1) / threads);
    }
  }

  const std::function<void(int, int)>* body = nullptr;
  int begin = 0;
  int items = 0;
  const int ranges;
  std::vector<Share> shares;
  std::atomic<int> finished{0};
  std::atomic<bool> failed{false};  // after a failure the remaining ranges are skipped
  std::mutex errorMutex;
  std::exception_ptr error;
  std::mutex doneMutex;
  std::condition_variable doneSignal;

  // Claims and runs ranges until none is left, thread self's share first.
  void Work(int self) {
    const int count = static_cast<int>(shares.size());
    for (int s = 0; s < count; ++s) {
      Share& share = shares[static_cast<size_t>((self + s) % count)];
      for (;;) {
        const int index = share.next.fetch_add(1);
        if (index >= share.end) break;
        Run(index);
      }
    }
  }

  void Run(int index) {
    const int lo = begin + static_cast<int>(static_cast<int64_t>(items) * index / ranges);
    const int hi = begin + static_cast<int>(static_cast<int64_t>(items) * (index + 1) / ranges);
    if (!failed.load()) {
      try {
        insideBody = true;
        (*body)(lo, hi);
        insideBody = false;
      } catch (...) {
        insideBody = false;
        failed.store(true);
        std::lock_guard<std::mutex> lock(errorMutex);
        if (!error) error = std::current_exception();
      }
    }
    if (finished.fetch_add(1) + 1 == ranges) {
      std::lock_guard<std::mutex> lock(doneMutex);
      doneSignal.notify_all();
    }
  }

  void WaitAll() {
    if (PollUntil([this] { return finished.load() == ranges; })) return;
    std::unique_lock<std::mutex> lock(doneMutex);
    doneSignal.wait(lock, [this] { return finished.load() == ranges; });
  }
};

// Threads the test seam still lets start (negative: no limit).
std::atomic<int> startsLeftForTesting{-1};

std::thread StartThread(std::function<void()> run) {
  int left = startsLeftForTesting.load();
  while (left >= 0 && !startsLeftForTesting.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) {
    startsLeftForTesting.store(0);
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  return std::thread(std::move(run));
}

class Pool {
 public:
  // Starts up to `workers` threads. Where the system refuses more (a process limit, no
  // memory for a stack), the pool keeps those it got; the first time, it says so.
  explicit Pool(int workers) : requested_(workers) {
    threads_.reserve(static_cast<size_t>(workers));
    try {
      for (int i = 0; i < workers; ++i) threads_.push_back(StartThread([this, i] { Loop(i + 1); }));
    } catch (const std::system_error& e) {
      WarnOnce(static_cast<int>(threads_.size()) + 1, workers + 1, e.what());
    }
  }
  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
  }
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  int Workers() const { return static_cast<int>(threads_.size()); }
  int Requested() const { return requested_; }

  void Post(const std::shared_ptr<Job>& job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = job;
      generation_.fetch_add(1);
    }
    wake_.notify_all();
  }

 private:
  // Worker self (1 .. workers; the calling thread is 0).
  void Loop(int self) {
    // The generation at the pool's creation, not at the thread's start: a job posted before
    // this thread first runs is still new to it.
    uint64_t seen = 0;
    for (;;) {
      std::shared_ptr<Job> job;
      PollUntil([&] { return generation_.load() != seen; });
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || generation_.load() != seen; });
        if (stop_) return;
        seen = generation_.load();
        job = job_;
      }
      if (job) job->Work(self);
    }
  }

  static void WarnOnce(int started, int wanted, const char* reason) {
    static std::atomic<bool> warned{false};
    if (warned.exchange(true)) return;
    std::fprintf(stderr, "Warning: only %d of %d threads could be started (%s); going on with %d.\n", started, wanted,
                 reason, started);
  }

  const int requested_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<uint64_t> generation_{0};
  std::shared_ptr<Job> job_;
  bool stop_ = false;
};

// One job at a time; a call from a second thread meanwhile runs on its own thread.
std::mutex jobMutex;
// Deliberately never destroyed: workers may sleep on it while the process exits.
Pool* pool = nullptr;

}  // namespace

int UsableCpus() { return MachineThreads(); }

void SetThreadCount(int threads) { requestedThreads.store(std::max(threads, 0)); }

int ThreadCount() {
  const int requested = requestedThreads.load();
  return requested > 0 ? requested : MachineThreads();
}

void SetParallelMode(ParallelMode mode) { parallelMode.store(mode); }
void FailThreadStartsAfterForTesting(int starts) { startsLeftForTesting.store(starts); }
ParallelMode GetParallelMode() { return parallelMode.load(); }
bool InsideParallelBody() { return insideBody; }

void ParallelFor(int begin, int end, long workPerItem, const std::function<void(int lo, int hi)>& body) {
  if (end <= begin) return;
  const int items = end - begin;
  const ParallelMode mode = parallelMode.load();
  const int threads = ThreadCount();
  const long total = static_cast<long>(items) * std::max(workPerItem, 1L);
  int ranges = 1;
  if (mode == ParallelMode::ForceParallel) {
    ranges = std::min(items, std::max(threads, 2) * kRangesPerThread);
  } else if (mode == ParallelMode::Auto && threads > 1) {
    const long byWork = total / kMinParallelWork;
    ranges = static_cast<int>(std::min<long>({static_cast<long>(items), static_cast<long>(threads) * kRangesPerThread, byWork}));
  }
  if (ranges < 2 || insideBody) {
    body(begin, end);
    return;
  }

  std::unique_lock<std::mutex> exclusive(jobMutex, std::try_to_lock);
  if (!exclusive.owns_lock()) {
    body(begin, end);
    return;
  }
  if (threads > 1 && (pool == nullptr || pool->Requested() != threads - 1)) {
    Pool* previous = pool;
    pool = nullptr;
    delete previous;
    pool = new Pool(threads - 1);
  }
  // The threads the pool really has (fewer than asked when the system refused some).
  const int running = threads > 1 ? pool->Workers() + 1 : 1;
  auto job = std::make_shared<Job>(ranges, running);
  job->body = &body;
  job->begin = begin;
  job->items = items;
  if (running > 1) pool->Post(job);
  job->Work(0);
  job->WaitAll();
  if (job->error) std::rethrow_exception(job->error);
}

}  // namespace lumet
