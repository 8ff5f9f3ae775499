// One LR frame's registration against its reference on a synthetic 320 x 240 scene with
// the default registration settings, and its stages on their own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "numeric/convolve.h"
#include "numeric/image_plane.h"
#include "numeric/random.h"
#include "registration/block_matching.h"
#include "registration/direct/direct_alignment.h"
#include "registration/feature_point.h"
#include "registration/homography_refinement.h"
#include "registration/homography_search.h"
#include "registration/search_sizes.h"
#include "util/parallel.h"

namespace lumet {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
// The default job's ROI (40 x 40 at (160, 100)); the peer and whole-frame ROIs below.
const RoiRect kRoi{160, 100, 200, 140};
const RoiRect kRois[3] = {kRoi, RoiRect{130, 70, 230, 170}, RoiRect{10, 10, 310, 230}};

// Smooth blobs on grey; the frame is the scene moved by (1.3, -0.7) and turned by 0.4 deg
// about the frame centre.
GrayImage Render(double tx, double ty, double theta) {
  LcgRandom random;
  random.Reset(99);
  const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * random.Next() / LcgRandom::kMax; };
  struct Blob {
    double x, y, r, a;
  };
  std::vector<Blob> blobs;
  for (int i = 0; i < 400; ++i)
    blobs.push_back({uniform(-10, 330), uniform(-10, 250), uniform(3, 8), uniform(-90, 90)});
  GrayImage image;
  image.Create(kWidth, kHeight);
  const double c = std::cos(theta);
  const double s = std::sin(theta);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double dx = x - 160 - tx;
      const double dy = y - 120 - ty;
      const double px = c * dx + s * dy + 160;
      const double py = -s * dx + c * dy + 120;
      double v = 128;
      for (const Blob& b : blobs) {
        const double ex = px - b.x;
        const double ey = py - b.y;
        const double d2 = ex * ex + ey * ey;
        if (d2 < 100 * b.r * b.r) v += b.a * std::exp(-d2 / (2 * b.r * b.r));
      }
      image.Row(y)[x] = static_cast<uint8_t>(std::lround(std::fmin(254, std::fmax(1, v))));
    }
  }
  return image;
}

struct Frames {
  GrayImage ref = Render(0, 0, 0);
  GrayImage frame = Render(1.3, -0.7, 0.4 * M_PI / 180);
};

const Frames& Inputs() {
  static const Frames frames;
  return frames;
}

// The reference frame's corner points near the ROI, found once per run by the command.
std::vector<FeaturePoint> ReferencePoints(const GrayImage& ref, const RoiRect& roi) {
  DoubleImage response;
  return SelectNearRoi(DetectFeatures(ref, response, static_cast<float>(1.5)), kSelectionLimit, roi);
}

// What the registration command computes for one frame, with the "Init params" settings.
// Returns the refinement's iterations.
int RegisterOneFrame(const GrayImage& ref, const GrayImage& frame, const std::vector<FeaturePoint>& refPoints,
                     LcgRandom& random, const RoiRect& roi) {
  DoubleImage response;
  const auto points = SelectNearRoi(DetectFeatures(frame, response, 1.5), kSelectionLimit, roi);
  const MatchedPairs pairs = MatchBlocks(ref, frame, refPoints, points, 32, 40);
  const SearchSizes sizes = ChooseSearchSizes(20, 25, static_cast<int>(pairs.a.size()));
  Matrix h(3, 3, 0.0);
  h[0][0] = h[1][1] = h[2][2] = 1.0;
  if (sizes.Searchable()) {
    EstimateHomography(ref, frame, pairs.a, pairs.b, h, sizes.sampleSize, kSearchTrials, sizes.poolSize, roi, random);
  }
  std::string log;
  RefineHomography(ref, frame, h, roi, kRefinementIterations, log);
  return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

// Argument: 0 the default ROI, 1 the peer ROI, 2 the whole frame.
void BM_RegisterOneFrame(benchmark::State& state) {
  const Frames& in = Inputs();
  const RoiRect roi = kRois[state.range(0)];
  const std::vector<FeaturePoint> refPoints = ReferencePoints(in.ref, roi);
  int iterations = 0;
  for (auto _ : state) {
    LcgRandom random;
    iterations = RegisterOneFrame(in.ref, in.frame, refPoints, random, roi);
    benchmark::DoNotOptimize(iterations);
  }
  state.counters["refinement_steps"] = iterations;
}
BENCHMARK(BM_RegisterOneFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The same on one thread: frames are registered one per thread, so this is what one
// frame costs in the registration command.
void BM_RegisterOneFrameOneThread(benchmark::State& state) {
  SetThreadCount(1);
  BM_RegisterOneFrame(state);
  SetThreadCount(0);
}
BENCHMARK(BM_RegisterOneFrameOneThread)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_DetectFeatures(benchmark::State& state) {
  const Frames& in = Inputs();
  DoubleImage response;
  SetThreadCount(1);
  for (auto _ : state) benchmark::DoNotOptimize(DetectFeatures(in.frame, response, 1.5));
  SetThreadCount(0);
}
BENCHMARK(BM_DetectFeatures)->Unit(benchmark::kMillisecond);

void BM_MatchBlocks(benchmark::State& state) {
  const Frames& in = Inputs();
  DoubleImage response;
  const auto refPoints = ReferencePoints(in.ref, kRoi);
  const auto points = SelectNearRoi(DetectFeatures(in.frame, response, 1.5), kSelectionLimit, kRoi);
  for (auto _ : state) benchmark::DoNotOptimize(MatchBlocks(in.ref, in.frame, refPoints, points, 32, 40));
}
BENCHMARK(BM_MatchBlocks)->Unit(benchmark::kMillisecond);

void BM_RoiMae(benchmark::State& state) {
  const Frames& in = Inputs();
  const RoiRect roi = kRois[state.range(0)];
  Matrix h(3, 3, 0.0);
  h[0][0] = h[1][1] = h[2][2] = 1.0;
  h[0][2] = 1.3 / 600;
  SetThreadCount(1);
  for (auto _ : state) benchmark::DoNotOptimize(RoiMae(in.ref, in.frame, h, roi));
  SetThreadCount(0);
}
BENCHMARK(BM_RoiMae)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The four refinement probes of one iteration, scored together. Second argument: the
// instruction set (0 baseline, 1 AVX2, 2 AVX-512), skipped when the processor lacks it.
void BM_RoiMaeFour(benchmark::State& state) {
  const Frames& in = Inputs();
  const RoiRect roi = kRois[state.range(0)];
  const SimdVariant variant = static_cast<SimdVariant>(state.range(1));
  if (!SimdVariantSupported(variant)) {
    state.SkipWithError("instruction set not supported");
    return;
  }
  const ScopedSimdVariant variantGuard(variant);
  Matrix h(3, 3, 0.0);
  h[0][0] = h[1][1] = h[2][2] = 1.0;
  h[0][2] = 1.3 / 600;
  Matrix probes[4] = {h, h, h, h};
  const Matrix* pointers[4];
  for (int t = 0; t < 4; ++t) {
    probes[t][t % 2][t / 2] += 0.01;
    pointers[t] = &probes[t];
  }
  double scores[4];
  SetThreadCount(1);
  const RoiScorer scorer(in.ref, in.frame, roi);  // as the refinement keeps it
  for (auto _ : state) {
    scorer.ScoreMany(pointers, 4, scores);
    benchmark::DoNotOptimize(scores);
  }
  SetThreadCount(0);
}
BENCHMARK(BM_RoiMaeFour)->ArgsProduct({{0, 1, 2}, {0, 1, 2}})->Unit(benchmark::kMicrosecond);

void BM_RoiMaeDirect(benchmark::State& state) {
  const Frames& in = Inputs();
  Matrix h(3, 3, 0.0);
  h[0][0] = h[1][1] = h[2][2] = 1.0;
  h[0][2] = 1.3 / 600;
  for (auto _ : state) benchmark::DoNotOptimize(RoiMaeDirect(in.ref, in.frame, h, kRoi));
}
BENCHMARK(BM_RoiMaeDirect)->Unit(benchmark::kMicrosecond);

// The direct refinement of one frame from a start a little off (the pyramids built once, as
// the registration builds the reference's), on one thread. Argument: the ROI.
void BM_AlignDirect(benchmark::State& state) {
  const Frames& in = Inputs();
  const RoiRect roi = kRois[state.range(0)];
  const AlignmentPyramid reference(in.ref, roi);
  Matrix start(3, 3, 0.0);
  start[0][0] = start[1][1] = start[2][2] = 1.0;
  SetThreadCount(1);
  int iterations = 0;
  for (auto _ : state) {
    const AlignmentPyramid frame(in.frame, roi);
    Matrix h = start;
    iterations = AlignDirect(reference, frame, h, roi).iterations;
    benchmark::DoNotOptimize(h);
  }
  state.counters["iterations"] = iterations;
  SetThreadCount(0);
}
BENCHMARK(BM_AlignDirect)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
void BM_AlignmentPyramid(benchmark::State& state) {
  const Frames& in = Inputs();
  const RoiRect roi = kRois[state.range(0)];
  for (auto _ : state) {
    const AlignmentPyramid frame(in.frame, roi);
    benchmark::DoNotOptimize(&frame);
  }
}
BENCHMARK(BM_AlignmentPyramid)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumet
