// Speed of the reconstruction's hot parts on the "Init params" grid: 160 x 160 HR pixels
// (a 40 x 40 ROI at scale 4), PSF sigma 0.6 (a 17 x 17 kernel), 30 frames.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "numeric/projection.h"
#include "numeric/random.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/median_estimate.h"
#include "reconstruction/psf_kernel.h"
#include "reconstruction/robust_btv.h"

namespace lumet {
namespace {

constexpr double kScale = 4.0;
constexpr double kSigma = 0.6;
const RoiRect kRoi{160, 100, 200, 140};

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
  HrGeometry grid = MakeHrGeometry(kRoi, kScale);
  std::vector<ColorGrayImage> frames;
  std::vector<Matrix> hrForms;
  ColorDoubleImage x;
  CountImage count;

  Inputs() {
    LcgRandom random;
    for (int k = 0; k < 30; ++k) {
      frames.push_back(RandomFrame(320, 240, random));
      Matrix h = IdentityHomography();
      if (k > 0) {
        h.At1(1, 3) = (random.Next() % 400 - 200) / 100.0 / HomographyUnit;
        h.At1(2, 3) = (random.Next() % 400 - 200) / 100.0 / HomographyUnit;
      }
      hrForms.push_back(HrForm(h, kScale));
    }
    MedianShiftAdd(frames, hrForms, static_cast<int>(frames.size()), grid, 320, 240, x, count);
    FillHoles(x, count);
  }
};

Inputs& SharedInputs() {
  static Inputs inputs;
  return inputs;
}

void BM_RobustBtvIterate(benchmark::State& state) {
  const Inputs& in = SharedInputs();
  int n = 0;
  const FloatMatrix kernel = MakePsfKernel(kSigma, kScale, n);
  for (auto _ : state) {
    ColorDoubleImage x = in.x;
    RobustBtvIterate(x, in.x, in.count, kernel, n, 0.7, 1.0, 0.003, nullptr, nullptr);
    benchmark::DoNotOptimize(x.channels[2].At(80, 80));
  }
  state.SetItemsProcessed(state.iterations() * kBtvBands * kBtvStepsPerBand);
}
BENCHMARK(BM_RobustBtvIterate)->Unit(benchmark::kMillisecond);

void BM_BtvStep(benchmark::State& state) {
  const Inputs& in = SharedInputs();
  int n = 0;
  const FloatMatrix kernel = MakePsfKernel(kSigma, kScale, n);
  DoubleImage x = in.x.channels[1];
  BtvWorkspace workspace(in.count);
  for (auto _ : state) {
    BtvStep(x, in.x.channels[1], kernel, n, 0.7, 1.0, 0.003, 1.0, workspace);
    benchmark::DoNotOptimize(x.At(80, 80));
  }
}
BENCHMARK(BM_BtvStep)->Unit(benchmark::kMicrosecond);

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
