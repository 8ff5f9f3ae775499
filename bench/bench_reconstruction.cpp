// Speed of the reconstruction's hot parts on the "Init params" grid: 160 x 160 HR pixels
// (a 40 x 40 ROI at scale 4), PSF sigma 0.6 (a 17 x 17 kernel), 30 frames. The robust
// descent is also timed on the 400 x 400 and 1200 x 880 grids, on one and two threads; its
// items per second are the PSF multiply-adds of its 600 convolution passes, so twice that
// over the FMA peak (lumet-fma-peak, per core) times the threads is the share of the peak.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "numeric/projection.h"
#include "numeric/random.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/median_estimate.h"
#include "reconstruction/psf_kernel.h"
#include "reconstruction/classic/robust_btv.h"
#include "reconstruction/enhanced/backend.h"
#include "reconstruction/enhanced/forward_model.h"
#include "reconstruction/enhanced/minimiser.h"
#include "util/parallel.h"

namespace lumet {
namespace {

constexpr double kScale = 4.0;
constexpr double kSigma = 0.6;
const RoiRect kRoi{160, 100, 200, 140};
// The default job's, the peer job's and the whole-frame job's ROI, and a video frame's at x2
// (bench/video/compare.sh's ROI of a 160 x 120 clip), where the enhanced method samples by
// cubic convolution.
const RoiRect kRois[] = {kRoi, {130, 70, 230, 170}, {10, 10, 310, 230}, {20, 20, 140, 100}};
constexpr double kVideoScale = 2.0;

ColorGrayImage RandomFrame(int w, int h, LcgRandom& random) {
  ColorGrayImage frame;
  frame.Create(w, h);
  for (auto& channel : frame.channels) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) channel[y][x] = static_cast<uint8_t>(random.Next() & 0xFF);
    }
  }
  return frame;
}

// The median estimate and its count for 30 random frames under sub-pixel shifts.
struct Inputs {
  HrGeometry grid;
  std::vector<ColorGrayImage> frames;
  std::vector<Matrix> hrForms;
  std::vector<Matrix> homographies;
  ColorDoubleImage x;
  CountImage count;

  explicit Inputs(const RoiRect& roi = kRoi, double scale = kScale) : grid(MakeHrGeometry(roi, scale)) {
    LcgRandom random;
    for (int k = 0; k < 30; ++k) {
      frames.push_back(RandomFrame(320, 240, random));
      Matrix h = IdentityHomography();
      if (k > 0) {
        h.At1(1, 3) = (random.Next() % 400 - 200) / 100.0 / HomographyUnit;
        h.At1(2, 3) = (random.Next() % 400 - 200) / 100.0 / HomographyUnit;
      }
      hrForms.push_back(HrForm(h, scale));
      homographies.push_back(h);
    }
    MedianShiftAdd(frames, hrForms, static_cast<int>(frames.size()), grid, 320, 240, x, count);
    FillHoles(x, count);
  }
};

Inputs& SharedInputs() {
  static Inputs inputs;
  return inputs;
}

const Inputs& InputsFor(int job) {
  static Inputs peer(kRois[1]);
  static Inputs wholeFrame(kRois[2]);
  static Inputs video(kRois[3], kVideoScale);
  if (job == 1) return peer;
  if (job == 2) return wholeFrame;
  if (job == 3) return video;
  return SharedInputs();
}

// Arguments: the job (0 default, 1 peer, 2 whole frame) and the threads.
void BM_RobustBtvIterate(benchmark::State& state) {
  const Inputs& in = InputsFor(static_cast<int>(state.range(0)));
  const int threads = static_cast<int>(state.range(1));
  SetThreadCount(threads);
  int n = 0;
  const FloatMatrix kernel = MakePsfKernel(kSigma, kScale, n);
  ColorDoubleImage x;
  for (auto _ : state) {
    x = in.x;
    RobustBtvIterate(x, in.x, in.count, kernel, n, 0.7, 1.0, 0.003, nullptr, nullptr);
    benchmark::DoNotOptimize(x.channels[2].At(8, 8));
  }
  const long pixels = static_cast<long>(in.grid.width) * in.grid.height;
  state.SetItemsProcessed(state.iterations() * 2L * kBtvBands * kBtvStepsPerBand * n * n * pixels);
  state.SetLabel(std::to_string(in.grid.width) + " x " + std::to_string(in.grid.height) + ", " +
                 std::to_string(threads) + " thread(s)");
  SetThreadCount(0);
}
BENCHMARK(BM_RobustBtvIterate)
    ->ArgsProduct({{0, 1, 2}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The one-core FMA peak in GFLOP/s: LUMET_FMA_PEAK when set (bench/e2e.sh passes the figure
// its classic ceilings use), else what lumet-fma-peak beside this program measures; 0 when
// neither tells.
double FmaPeak() {
  static const double peak = [] {
    if (const char* given = std::getenv("LUMET_FMA_PEAK")) return std::atof(given);
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 0.0;
    std::string tool(self, static_cast<size_t>(length));
    tool = tool.substr(0, tool.find_last_of('/') + 1) + "lumet-fma-peak";
    double value = 0.0;
    if (FILE* pipe = ::popen(tool.c_str(), "r")) {
      if (std::fscanf(pipe, "%lf", &value) != 1) value = 0.0;
      ::pclose(pipe);
    }
    return value;
  }();
  return peak;
}

// One quasi-Newton iteration of the enhanced method (green band) on the job's 30 frames, on
// one or two threads, after eight iterations that fill the curvature history. Arguments as
// BM_RobustBtvIterate's, and job 3 the video frame at x2.
//
// The floor: the multiply-adds one iteration does as implemented, every addition,
// multiplication, square root and division counted as one (a floor: the loops use no fused
// multiply-add), at the FMA peak (2 flops each) times the threads. With P HR grid pixels
// (the ROI's grid and the method's margin), N observations (LR samples whose model lies in
// the grid), n PSF taps a side and m = 6 curvature pairs, one iteration is one evaluation
// of the objective and its gradient (a line search that takes its first step) and the
// L-BFGS vector passes:
//   forward   the separable blur of the grid, n across and n down: 2n P; the bilinear
//             sample, three interpolations: 3 N
//   data term d^2 + eps^2, square root, division, weighted derivative, energy: 5 N
//   adjoint   the bilinear splat, two weights and four corners: 6 N; the blur again: 2n P
//   prior     five pairs a pixel, each d^2 + eps^2, square root, division, weighted
//             derivative, energy: 25 P; ten gradient terms and lambda g: 11 P
//   L-BFGS    2m passes of an update and a dot product: 4m P; the direction's start and
//             scaling with their dot products: 4 P; the trial point: 2 P; s, y and their
//             four dot products: 6 P
// so 4n P + 36 P + (4m + 12) P + 14 N in all, (4n + 84) P + 14 N with m = 6: about 100 a
// sample on the three jobs at x4 (17 taps, 1.2 to 1.6 samples an HR pixel). At x2 the
// sampling is cubic: eight weights of three multiply-adds each, sixteen taps and the four
// columns' sum, 44 N forward and the same in the adjoint, so (4n + 84) P + 93 N. The blur is on the
// grid, not per sample: n x n PSF taps times 4 interpolation taps per sample, forward and
// adjoint, would be 8 n^2 = 2312 a sample. The counters: madds_per_sample (the floor / N)
// and x_floor (time per iteration / the floor's time), and for the single-precision backend
// x_floor_single (its float parts' floor at twice the peak).
void BM_EnhancedIteration(benchmark::State& state) {
  const Inputs& in = InputsFor(static_cast<int>(state.range(0)));
  const int threads = static_cast<int>(state.range(1));
  SetThreadCount(threads);
  const std::vector<double> taps = PsfTaps(kSigma, in.grid.scale);
  const HrGeometry grid = ExtendGeometry(in.grid, EnhancedMargin(static_cast<int>(taps.size()), in.grid.scale));
  ObservationModel model(grid, taps);
  for (size_t k = 0; k < in.frames.size(); ++k) model.AddFrame(in.frames[k], in.homographies[k]);
  EnhancedWeights weights;
  const EnhancedBackend& backend = EnhancedBackendNamed("");  // the default, or LUMET_BACKEND's
  Plane x(grid.width, grid.height, 128.0);
  CurvatureHistory history;
  MinimiseEnhanced(backend, model, 1, weights, 1.0, 8, 0.0, x, nullptr, &history);
  // Timed from the end of one iteration to the end of the next, inside a run of several: a
  // run's start (its first evaluation, its vectors) is not an iteration's cost.
  constexpr int kTimed = 4;
  double seconds = 0.0;
  long timed = 0;
  for (auto _ : state) {
    std::chrono::steady_clock::time_point last;
    int seen = 0;
    MinimiseEnhanced(backend, model, 1, weights, 1.0, kTimed + 1, 0.0, x,
                     [&](int, const ObjectiveScratch&) {
                       const auto now = std::chrono::steady_clock::now();
                       if (seen++ > 0) {
                         seconds += std::chrono::duration<double>(now - last).count();
                         ++timed;
                       }
                       last = now;
                       return false;
                     },
                     &history);
    benchmark::DoNotOptimize(x.v[x.v.size() / 2]);
  }
  constexpr double kPairs = 6.0;
  const double p = static_cast<double>(grid.width) * grid.height;
  const double n = static_cast<double>(model.ObservationCount());
  const double sampling = model.Kernel() == SampleKernel::Cubic ? 88.0 : 9.0;
  const double floorMadds =
      (4.0 * static_cast<double>(taps.size()) + 36.0 + 4.0 * kPairs + 12.0) * p + (5.0 + sampling) * n;
  state.counters["madds_per_sample"] = floorMadds / n;
  if (FmaPeak() > 0.0 && timed > 0) {
    const double madds = FmaPeak() / 2.0 * 1e9 * threads;  // a second, at the double-precision peak
    state.counters["x_floor"] = seconds / static_cast<double>(timed) / (floorMadds / madds);
    // The single-precision backend takes the blur, the sampling, the data term and the prior's
    // pair terms in float, at twice the lanes a vector: those parts of the floor at twice the peak.
    if (backend.Name() == kSingleBackend) {
      const double single = (4.0 * static_cast<double>(taps.size()) + 25.0) * p + (5.0 + sampling) * n;
      const double floorSeconds = (floorMadds - single + single / 2.0) / madds;
      state.counters["x_floor_single"] = seconds / static_cast<double>(timed) / floorSeconds;
    }
  }
  if (timed > 0) state.counters["ms_per_iteration"] = 1e3 * seconds / static_cast<double>(timed);
  // No commas: bench/e2e.sh reads the CSV report.
  state.SetLabel(std::to_string(grid.width) + " x " + std::to_string(grid.height) + "; " +
                 std::to_string(model.ObservationCount()) + " samples; " + std::to_string(threads) + " thread(s)");
  SetThreadCount(0);
}
BENCHMARK(BM_EnhancedIteration)
    ->ArgsProduct({{0, 1, 2, 3}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_BtvStep(benchmark::State& state) {
  const Inputs& in = SharedInputs();
  SetThreadCount(static_cast<int>(state.range(0)));
  int n = 0;
  const FloatMatrix kernel = MakePsfKernel(kSigma, kScale, n);
  DoubleImage x = in.x.channels[1];
  BtvWorkspace workspace(in.count);
  for (auto _ : state) {
    BtvStep(x, in.x.channels[1], kernel, n, 0.7, 1.0, 0.003, 1.0, workspace);
    benchmark::DoNotOptimize(x.At(80, 80));
  }
  SetThreadCount(0);
}
BENCHMARK(BM_BtvStep)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One step on a grid of random values, width x height, on one or two threads: the time per
// HR pixel of a whole 320 x 240 frame's grid against a whole 1280 x 720 frame's at x4.
void BM_BtvStepGrid(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1));
  SetThreadCount(static_cast<int>(state.range(2)));
  LcgRandom random;
  DoubleImage x;
  DoubleImage z;
  CountImage count;
  x.Create(w, h);
  z.Create(w, h);
  count.Create(w, h);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      x.At(j, i) = random.Next() % 256;
      z.At(j, i) = random.Next() % 256;
      count[i][j] = random.Next() % 4;
    }
  }
  int n = 0;
  const FloatMatrix kernel = MakePsfKernel(kSigma, kScale, n);
  BtvWorkspace workspace(count);
  // One step first: the workspace's planes are allocated and touched by it, which would
  // otherwise weigh on the large grid's few timed steps.
  BtvStep(x, z, kernel, n, 0.7, 1.0, 0.003, 1.0, workspace);
  for (auto _ : state) {
    BtvStep(x, z, kernel, n, 0.7, 1.0, 0.003, 1.0, workspace);
    benchmark::DoNotOptimize(x.At(8, 8));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(w) * h);
  SetThreadCount(0);
}
BENCHMARK(BM_BtvStepGrid)
    ->ArgsProduct({{1152}, {832}, {1, 2}})
    ->ArgsProduct({{2304, 4992}, {832}, {1}})
    ->ArgsProduct({{4992}, {2752}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_MedianShiftAdd(benchmark::State& state) {
  Inputs& in = SharedInputs();
  ColorDoubleImage x;
  CountImage count;
  for (auto _ : state) {
    MedianShiftAdd(in.frames, in.hrForms, static_cast<int>(in.frames.size()), in.grid, 320, 240, x, count);
    benchmark::DoNotOptimize(x.channels[0].At(80, 80));
  }
}
BENCHMARK(BM_MedianShiftAdd)->Unit(benchmark::kMillisecond);

void BM_WarpToHrGrid(benchmark::State& state) {
  const Inputs& in = SharedInputs();
  Matrix h = IdentityHomography();
  h.At1(1, 3) = 0.37 / HomographyUnit;
  h.At1(2, 3) = -1.21 / HomographyUnit;
  const Matrix a = LrFormOnHrInput(h, kScale);
  ColorDoubleImage layer;
  for (auto _ : state) {
    WarpToHrGrid(in.frames[1], a, in.grid, layer);
    benchmark::DoNotOptimize(layer.channels[0].At(80, 80));
  }
}
BENCHMARK(BM_WarpToHrGrid)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lumet
