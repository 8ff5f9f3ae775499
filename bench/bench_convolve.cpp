// The PSF convolution of the reconstruction on the default job's 160 x 160 grid and the peer
// job's 400 x 400, per instruction set and on one or two threads; items per second are
// multiply-adds (wall time).
#include <benchmark/benchmark.h>

#include "numeric/convolve.h"
#include "numeric/random.h"
#include "reconstruction/psf_kernel.h"
#include "util/parallel.h"

namespace lumet {
namespace {

void BM_ConvolvePsf(benchmark::State& state) {
  const auto variant = static_cast<SimdVariant>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const int size = static_cast<int>(state.range(2));
  if (!SimdVariantSupported(variant)) {
    state.SkipWithError("variant not supported here");
    return;
  }
  const ScopedSimdVariant variantGuard(variant);
  SetThreadCount(threads);
  int n = 0;
  const FloatMatrix kernel = MakePsfKernel(0.6, 4.0, n);
  DoubleImage source, target;
  source.Create(size, size);
  LcgRandom random;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) source.At(x, y) = random.Next() / 128.0;
  }
  for (auto _ : state) {
    ConvolveMirror(source, target, kernel, n);
    benchmark::DoNotOptimize(target.At(80, 80));
  }
  state.SetItemsProcessed(state.iterations() * size * size * n * n);
  state.SetLabel(std::string(SimdVariantName(variant)) + ", " + std::to_string(threads) + " thread(s), " +
                 std::to_string(size) + " x " + std::to_string(size) + ", n " + std::to_string(n));
  SetThreadCount(0);
}
BENCHMARK(BM_ConvolvePsf)
    ->ArgsProduct({{static_cast<int>(SimdVariant::Baseline), static_cast<int>(SimdVariant::Avx2),
                    static_cast<int>(SimdVariant::Avx512)},
                   {1, 2},
                   {160, 400}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lumet
