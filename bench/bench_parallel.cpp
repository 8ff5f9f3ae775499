// The cost of one ParallelFor handoff: two ranges of a little work each (about a microsecond),
// one per thread, so the time is mostly the wake-up and the join.
#include <benchmark/benchmark.h>

#include <atomic>

#include "util/parallel.h"

namespace lumet {
namespace {

void BM_ParallelForHandoff(benchmark::State& state) {
  SetThreadCount(static_cast<int>(state.range(0)));
  ScopedParallelMode mode(ParallelMode::ForceParallel);
  std::atomic<long> sink{0};
  for (auto _ : state) {
    ParallelFor(0, 2, 1, [&](int lo, int hi) {
      long sum = 0;
      for (int i = 0; i < 1000; ++i) benchmark::DoNotOptimize(sum += i * (hi - lo));
      sink += sum;
    });
  }
  benchmark::DoNotOptimize(sink.load());
  SetThreadCount(0);
}
BENCHMARK(BM_ParallelForHandoff)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lumet
