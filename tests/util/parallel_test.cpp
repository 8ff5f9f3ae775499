#include "util/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace lumet {
namespace {

// Restores the thread count a test changes.
struct ThreadCountGuard {
  ~ThreadCountGuard() { SetThreadCount(0); }
};

TEST(ParallelForTest, RangesCoverEveryIndexOnceWhateverTheModeAndThreadCount) {
  ThreadCountGuard guard;
  struct Case {
    ParallelMode mode;
    int threads;
    int begin;
    int end;
    long work;
    bool expectSplit;
  };
  const Case cases[] = {
      {ParallelMode::ForceParallel, 3, 0, 100, 1, true},         // tiny work, split anyway
      {ParallelMode::ForceParallel, 1, 5, 9, 1, true},           // one thread: ranges run in turn
      {ParallelMode::ForceSerial, 3, 0, 1000, 1000000, false},  // huge work, one range
      {ParallelMode::Auto, 3, 0, 10, 1, false},                 // below the minimum work
      {ParallelMode::Auto, 3, -7, 500, kMinParallelWork, true},
      {ParallelMode::Auto, 1, 0, 500, kMinParallelWork, false},  // --threads 1
      {ParallelMode::ForceParallel, 4, 3, 3, 1, false},          // empty
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(static_cast<int>(c.mode)) + ", threads " + std::to_string(c.threads) +
                 ", [" + std::to_string(c.begin) + ", " + std::to_string(c.end) + ")");
    SetThreadCount(c.threads);
    ScopedParallelMode mode(c.mode);
    std::vector<std::atomic<int>> hits(static_cast<size_t>(c.end - c.begin + 1));
    std::atomic<int> calls{0};
    std::mutex mutex;
    std::set<std::thread::id> threads;
    ParallelFor(c.begin, c.end, c.work, [&](int lo, int hi) {
      ASSERT_LE(c.begin, lo);
      ASSERT_LT(lo, hi);
      ASSERT_LE(hi, c.end);
      ++calls;
      for (int i = lo; i < hi; ++i) ++hits[static_cast<size_t>(i - c.begin)];
      std::lock_guard<std::mutex> lock(mutex);
      threads.insert(std::this_thread::get_id());
    });
    for (int i = c.begin; i < c.end; ++i) EXPECT_EQ(hits[static_cast<size_t>(i - c.begin)].load(), 1) << i;
    EXPECT_EQ(calls.load() > 1, c.expectSplit);
    EXPECT_LE(static_cast<int>(threads.size()), c.threads);
  }
}

TEST(ParallelForTest, ARangeHeldUpOnOneThreadLeavesTheRestOfItsShareToTheOthers) {
  ThreadCountGuard guard;
  SetThreadCount(2);
  ScopedParallelMode mode(ParallelMode::ForceParallel);
  // The first range to start waits (at most ten seconds) until every other range has ended:
  // that happens only if the other thread takes the rest of the held-up thread's share too.
  constexpr int kItems = 64;
  std::atomic<int> started{0};
  std::atomic<int> ended{0};
  std::atomic<int> rangesSeen{0};
  bool othersFinished = false;
  ParallelFor(0, kItems, 1, [&](int lo, int hi) {
    ++rangesSeen;
    if (started.fetch_add(1) == 0) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (std::chrono::steady_clock::now() < deadline) {
        // Every range but this one: the items outside [lo, hi) all done.
        if (ended.load() == kItems - (hi - lo)) {
          othersFinished = true;
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    ended += hi - lo;
  });
  EXPECT_TRUE(othersFinished);
  EXPECT_EQ(ended.load(), kItems);
  EXPECT_GT(rangesSeen.load(), 2);
}

TEST(ParallelForTest, ExceptionsReachTheCallerAndNestedLoopsRunInline) {
  ThreadCountGuard guard;
  SetThreadCount(2);
  ScopedParallelMode mode(ParallelMode::ForceParallel);
  EXPECT_THROW(ParallelFor(0, 64, 1,
                           [](int lo, int hi) {
                             for (int i = lo; i < hi; ++i) {
                               if (i == 40) throw std::runtime_error("index 40");
                             }
                           }),
               std::runtime_error);
  // The pool still works after a failed loop, and an inner loop stays on its thread.
  std::atomic<int> total{0};
  ParallelFor(0, 8, 1, [&](int lo, int hi) {
    EXPECT_TRUE(InsideParallelBody());
    const std::thread::id outer = std::this_thread::get_id();
    for (int i = lo; i < hi; ++i) {
      ParallelFor(0, 10, 1, [&](int a, int b) {
        EXPECT_EQ(std::this_thread::get_id(), outer);
        total += b - a;
      });
    }
  });
  EXPECT_EQ(total.load(), 80);
  EXPECT_FALSE(InsideParallelBody());
  SetThreadCount(0);
  EXPECT_GE(ThreadCount(), 1);
}

}  // namespace
}  // namespace lumet

namespace lumet {
namespace {

// Where the system refuses some or all worker threads, every index still runs exactly once,
// on the threads that did start, and one warning says so for the whole run.
TEST(ParallelForTest, RefusedThreadStartsLeaveTheThreadsThatStartedAndOneWarning) {
  ScopedParallelMode forced(ParallelMode::ForceParallel);
  const ThreadCountGuard restore;
  ::testing::internal::CaptureStderr();
  for (const int allowed : {2, 0}) {
    SCOPED_TRACE(allowed);
    FailThreadStartsAfterForTesting(allowed);
    SetThreadCount(allowed == 2 ? 7 : 5);  // a new count makes a new pool
    for (int round = 0; round < 3; ++round) {
      std::vector<std::atomic<int>> hits(1000);
      ParallelFor(0, 1000, 1, [&](int lo, int hi) {
        for (int i = lo; i < hi; ++i) hits[static_cast<size_t>(i)].fetch_add(1);
      });
      for (const auto& hit : hits) ASSERT_EQ(hit.load(), 1);
    }
  }
  FailThreadStartsAfterForTesting(-1);
  SetThreadCount(3);
  ParallelFor(0, 10, 1, [](int, int) {});
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(warnings, "Warning: only 3 of 7 threads could be started (Resource temporarily unavailable); going on with 3.\n");
}

}  // namespace
}  // namespace lumet
