// Prints the double-precision fused-multiply-add peak of one core in GFLOP/s: the best of
// three short runs of independent vector FMA chains, on the widest instruction set the
// processor has. The end-to-end benchmark measures its ceilings against this figure.
#include <immintrin.h>

#include <chrono>
#include <cstdio>

namespace {

constexpr long kRounds = 20000000;

// 24 independent chains hide the FMA latency on two FMA ports.
__attribute__((target("avx512f"))) double PeakAvx512(long rounds) {
  __m512d acc[24];
  for (int i = 0; i < 24; ++i) acc[i] = _mm512_set1_pd(1.0 + i * 1e-3);
  const __m512d a = _mm512_set1_pd(0.999999999);
  const __m512d b = _mm512_set1_pd(1e-9);
  for (long r = 0; r < rounds; ++r) {
#pragma GCC unroll 24
    for (int i = 0; i < 24; ++i) acc[i] = _mm512_fmadd_pd(acc[i], a, b);
  }
  __m512d sum = _mm512_setzero_pd();
  for (int i = 0; i < 24; ++i) sum = _mm512_add_pd(sum, acc[i]);
  alignas(64) double out[8];
  _mm512_store_pd(out, sum);
  return out[0] + out[7];
}

__attribute__((target("avx2,fma"))) double PeakAvx2(long rounds) {
  __m256d acc[12];
  for (int i = 0; i < 12; ++i) acc[i] = _mm256_set1_pd(1.0 + i * 1e-3);
  const __m256d a = _mm256_set1_pd(0.999999999);
  const __m256d b = _mm256_set1_pd(1e-9);
  for (long r = 0; r < rounds; ++r) {
#pragma GCC unroll 12
    for (int i = 0; i < 12; ++i) acc[i] = _mm256_fmadd_pd(acc[i], a, b);
  }
  __m256d sum = _mm256_setzero_pd();
  for (int i = 0; i < 12; ++i) sum = _mm256_add_pd(sum, acc[i]);
  alignas(32) double out[4];
  _mm256_store_pd(out, sum);
  return out[0] + out[3];
}

double PeakBaseline(long rounds) {
  __m128d acc[12];
  for (int i = 0; i < 12; ++i) acc[i] = _mm_set1_pd(1.0 + i * 1e-3);
  const __m128d a = _mm_set1_pd(0.999999999);
  const __m128d b = _mm_set1_pd(1e-9);
  for (long r = 0; r < rounds; ++r) {
#pragma GCC unroll 12
    for (int i = 0; i < 12; ++i) acc[i] = _mm_add_pd(_mm_mul_pd(acc[i], a), b);
  }
  __m128d sum = _mm_setzero_pd();
  for (int i = 0; i < 12; ++i) sum = _mm_add_pd(sum, acc[i]);
  double out[2];
  _mm_storeu_pd(out, sum);
  return out[0] + out[1];
}

}  // namespace

int main() {
  __builtin_cpu_init();
  double flopsPerRound = 0.0;
  double (*run)(long) = PeakBaseline;
  const char* name = "sse2 mul+add";
  if (__builtin_cpu_supports("avx512f")) {
    run = PeakAvx512;
    flopsPerRound = 24 * 8 * 2;
    name = "avx512";
  } else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    run = PeakAvx2;
    flopsPerRound = 12 * 4 * 2;
    name = "avx2+fma";
  } else {
    flopsPerRound = 12 * 2 * 2;
  }
  double best = 0.0;
  double sink = 0.0;
  for (int trial = 0; trial < 3; ++trial) {
    const auto start = std::chrono::steady_clock::now();
    sink += run(kRounds);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double gflops = flopsPerRound * static_cast<double>(kRounds) / seconds * 1e-9;
    if (gflops > best) best = gflops;
  }
  std::printf("%.2f %s %g\n", best, name, sink > 0.0 ? 0.0 : 1.0);
  return 0;
}
