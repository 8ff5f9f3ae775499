#include "reconstruction/robust_btv.h"

#include <cmath>
#include <utility>

#include "numeric/convolve.h"
#include "util/parallel.h"

namespace lumet {

namespace {


// The row loops below are compiled for AVX-512, AVX2 and the baseline and picked at run
// time; they only compare, subtract and select, so every version gives the same values.
#define LUMET_ROW_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))

// The data term: +sqrt(count) where the blurred estimate is above the median image,
// -sqrt(count) below, 0 where equal (0.0 + root and 0.0 - root as the sum is defined: the
// latter is +0.0 for a root of 0).
LUMET_ROW_CLONES void DataTermRow(const double* __restrict hx, const double* __restrict z,
                                  const double* __restrict root, double* __restrict g, int w) {
  for (int j = 0; j < w; ++j) {
    const double d = hx[j] - z[j];
    const double up = 0.0 + root[j];
    const double down = 0.0 - root[j];
    g[j] = d > 0.0 ? up : (d < 0.0 ? down : 0.0);
  }
}

LUMET_ROW_CLONES void SignRow(const double* __restrict a, const double* __restrict b, int8_t* __restrict s,
                              int count) {
  for (int j = 0; j < count; ++j) {
    const double d = a[j] - b[j];
    s[j] = static_cast<int8_t>(static_cast<int>(d > 0.0) - static_cast<int>(d < 0.0));
  }
}

// Rows 2 and below, columns 2 and beyond: g = ((R2 * alpha + R1) * alpha * lambda + g) * beta.
// The sign differences are small integers, exact in int as in double, so the weighted sum
// is evaluated in the given order unchanged.
struct SignRows {
  const int8_t* __restrict s01;
  const int8_t* __restrict s01Up;
  const int8_t* __restrict s10;
  const int8_t* __restrict s02;
  const int8_t* __restrict s02Up2;
  const int8_t* __restrict s11;
  const int8_t* __restrict s11Up;
  const int8_t* __restrict s20;
};

LUMET_ROW_CLONES void RegulariserRow(const SignRows& s, double* __restrict g, int w, double alpha, double beta,
                                     double lambda) {
  const int8_t* __restrict s01 = s.s01;
  const int8_t* __restrict s01Up = s.s01Up;
  const int8_t* __restrict s10 = s.s10;
  const int8_t* __restrict s02 = s.s02;
  const int8_t* __restrict s02Up2 = s.s02Up2;
  const int8_t* __restrict s11 = s.s11;
  const int8_t* __restrict s11Up = s.s11Up;
  const int8_t* __restrict s20 = s.s20;
  for (int j = 2; j < w; ++j) {
    const int r1 = (s01[j] - s01Up[j]) + (s10[j] - s10[j - 1]);
    const int r2 = (s02[j] - s02Up2[j]) + (s11[j] - s11Up[j - 1]) + (s20[j] - s20[j - 2]);
    g[j] = ((static_cast<double>(r2) * alpha + static_cast<double>(r1)) * alpha * lambda + g[j]) * beta;
  }
}

LUMET_ROW_CLONES void UpdateRow(double* __restrict x, const double* __restrict g, int w, double stepSize) {
  for (int j = 0; j < w; ++j) x[j] = x[j] - stepSize * g[j];
}

#undef LUMET_ROW_CLONES

}  // namespace

double BtvStepSize(int t) {
  if (t < 15) return 20.0;
  if (t < 30) return 15.0;
  if (t < 60) return 8.0;
  return 1.0;
}

BtvWorkspace::BtvWorkspace(const CountImage& count) {
  const int w = count.Width();
  const int h = count.Height();
  rootCount.Create(w, h);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) rootCount.Row(r)[c] = std::sqrt(static_cast<double>(count.Row(r)[c]));
  }
  for (SignImage* s : {&s10, &s01, &s20, &s11, &s02}) {
    s->Create(w, h);
    s->Fill(0);
  }
}

void BtvStep(DoubleImage& xb, const DoubleImage& zb, const FloatMatrix& kernel, int n, double alpha, double beta,
             double lambda, double stepSize, BtvWorkspace& ws) {
  const int w = xb.Width();
  const int h = xb.Height();
  if (ws.gradient.Width() != w || ws.gradient.Height() != h) ws.gradient.Create(w, h);
  ConvolveMirror(xb, ws.blurred, kernel, n);

  // Data term and the sign images, both from the estimate before this step's update.
  // About eight operations a pixel in each of the two passes below.
  const long rowWork = 8L * w;
  ParallelFor(0, h, rowWork, [&](int lo, int hi) {
    for (int i = lo; i < hi; ++i) {
      DataTermRow(ws.blurred.Row(i), zb.Row(i), ws.rootCount.Row(i), ws.gradient.Row(i), w);
      if (i <= h - 3 && w >= 3) {
        const double* x0 = xb.Row(i);
        const double* x1 = xb.Row(i + 1);
        const double* x2 = xb.Row(i + 2);
        const int count = w - 2;
        SignRow(x0, x0 + 1, ws.s10.Row(i), count);
        SignRow(x0, x1, ws.s01.Row(i), count);
        SignRow(x0, x0 + 2, ws.s20.Row(i), count);
        SignRow(x0, x1 + 1, ws.s11.Row(i), count);
        SignRow(x0, x2, ws.s02.Row(i), count);
      }
    }
  });

  ConvolveMirror(ws.gradient, ws.carried, kernel, n);
  std::swap(ws.gradient, ws.carried);

  // Regulariser, scaling and update.
  ParallelFor(0, h, rowWork, [&](int lo, int hi) {
    for (int i = lo; i < hi; ++i) {
      double* g = ws.gradient.Row(i);
      if (i >= 2) {
        const SignRows rows{ws.s01.Row(i), ws.s01.Row(i - 1), ws.s10.Row(i), ws.s02.Row(i),
                            ws.s02.Row(i - 2), ws.s11.Row(i), ws.s11.Row(i - 1), ws.s20.Row(i)};
        RegulariserRow(rows, g, w, alpha, beta, lambda);
      }
      UpdateRow(xb.Row(i), g, w, stepSize);
    }
  });
}

void RobustBtvIterate(ColorDoubleImage& x, const ColorDoubleImage& z, const CountImage& count,
                      const FloatMatrix& kernel, int n, double alpha, double beta, double lambda,
                      const BtvProgress& progress, const BtvPicture& picture) {
  BtvWorkspace workspace(count);
  for (int band = 0; band < kBtvBands; ++band) {
    DoubleImage& xb = x.channels[static_cast<size_t>(band)];
    const DoubleImage& zb = z.channels[static_cast<size_t>(band)];
    for (int t = 0; t < kBtvStepsPerBand; ++t) {
      if (progress) progress(band, t);
      if (t % 10 == 0 && picture) picture(x);
      BtvStep(xb, zb, kernel, n, alpha, beta, lambda, BtvStepSize(t), workspace);
    }
  }
}

}  // namespace lumet
