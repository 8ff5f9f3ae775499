#include "registration/feature_point.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "numeric/convolve.h"
#include "numeric/kernel_filter.h"
#include "registration/derivative_kernels.h"
#include "registration/scratch_buffer.h"
#include "util/error.h"

namespace lumet {

namespace {

// Rows the detector and its suppression treat at a time: their working rows, not whole
// planes, so that a large frame costs little beyond its response.
constexpr int kDetectorStripRows = 32;
constexpr int kScanBlockRows = 64;

// Sorts strongest first. Stable, so that equal responses come out in scan order and runs
// repeat exactly.
void SortByResponse(std::vector<FeaturePoint>& features) {
  std::stable_sort(features.begin(), features.end(),
                   [](const FeaturePoint& p, const FeaturePoint& q) { return p.response > q.response; });
}

// The list entry of a kept centre: its response rounded to single precision.
FeaturePoint PointAt(int x, int y, double value) {
  return FeaturePoint{static_cast<float>(x), static_cast<float>(y), static_cast<double>(static_cast<float>(value))};
}

// Whether the centre (x, y), whose value c is above 0, is the first strict maximum of its
// window: no value before it in scan order reaches c and none after it exceeds c.
bool FirstStrictMaximum(const DoubleImage& response, int x, int y, int e, double c) {
  for (int dv = -e; dv < e; ++dv) {
    const double* row = response.Row(y + dv) + x;
    for (int du = -e; du < e; ++du) {
      const bool before = dv < 0 || (dv == 0 && du < 0);
      if (before ? row[du] >= c : row[du] > c) return false;  // not-a-number values never end it
    }
  }
  return true;
}

// b when it exceeds a, else a. A combination of these in any order gives one of its inputs,
// so a result above the centre is a value of the window above it; not-a-number values can
// only hide such a value, which sends the centre to the full test.
inline double Larger(double a, double b) { return b > a ? b : a; }

// m[x] for e <= x < w - e: the largest of r[x - e .. x + e - 1]. The half-window of the
// detector (3) is unrolled so that each m[x] is formed in registers.
void SlidingMaximum(const double* r, int e, int w, double none, double* m) {
  if (e == 3) {
    for (int x = 3; x < w - 3; ++x) {
      m[x] = Larger(Larger(Larger(r[x - 3], r[x - 2]), Larger(r[x - 1], r[x])), Larger(r[x + 1], r[x + 2]));
    }
    return;
  }
  for (int x = e; x < w - e; ++x) m[x] = none;
  for (int du = -e; du < e; ++du) {
    for (int x = e; x < w - e; ++x) m[x] = Larger(m[x], r[x + du]);
  }
}

// out[x] for e <= x < w - e: the largest of rows[k * stride + x], k = 0 .. 2e - 1.
void ColumnMaximum(const double* rows, size_t stride, int e, int w, double none, double* out) {
  if (e == 3) {
    const double* a = rows;
    const double* b = a + stride;
    const double* c = b + stride;
    const double* d = c + stride;
    const double* f = d + stride;
    const double* g = f + stride;
    for (int x = 3; x < w - 3; ++x) out[x] = Larger(Larger(Larger(a[x], b[x]), Larger(c[x], d[x])), Larger(f[x], g[x]));
    return;
  }
  for (int x = e; x < w - e; ++x) out[x] = none;
  for (int k = 0; k < 2 * e; ++k) {
    const double* m = rows + static_cast<size_t>(k) * stride;
    for (int x = e; x < w - e; ++x) out[x] = Larger(out[x], m[x]);
  }
}

// Calls kept(x, y, value) for every centre that SuppressNonMaximaDirect keeps, in scan order.
// A centre is tested in full only when no value of its window exceeds it (the window's
// largest number equals it): elsewhere the larger value alone suppresses it. The window
// maxima come from a sliding maximum along each row, then down the columns.
template <class Kept>
void ScanSuppressed(const DoubleImage& response, int window, Kept&& kept) {
  const int w = response.Width();
  const int l = response.Height();
  const int e = window / 2;
  if (e <= 0 || w <= 2 * e || l <= 2 * e) return;  // an empty window keeps nothing
  const size_t stride = static_cast<size_t>(w);
  // Centre rows a block at a time: the row maxima of the block and e rows either side.
  const int blockRows = std::min(kScanBlockRows, l - 2 * e);
  const detail::ScratchBuffer rowMax(detail::ScratchSlot::RowMaxima,
                                     stride * static_cast<size_t>(blockRows + 2 * e));
  const detail::ScratchBuffer windowMax(detail::ScratchSlot::WindowMaxima, stride);
  const double none = -std::numeric_limits<double>::infinity();
  double* wm = windowMax.Data();
  for (int y0 = e; y0 < l - e; y0 += blockRows) {
    const int y1 = std::min(l - e, y0 + blockRows);
    // rowMax(x, y): the largest of x - e .. x + e - 1 in row y, for the centre columns.
    for (int y = y0 - e; y < y1 + e - 1; ++y) {
      SlidingMaximum(response.Row(y), e, w, none, rowMax.Data() + static_cast<size_t>(y - (y0 - e)) * stride);
    }
    for (int y = y0; y < y1; ++y) {
      ColumnMaximum(rowMax.Data() + static_cast<size_t>(y - y0) * stride, stride, e, w, none, wm);
      const double* r = response.Row(y);
      for (int x = e; x < w - e; ++x) {
        const double c = r[x];
        // One branch, rarely taken: only a window's largest value goes on.
        if (static_cast<int>(c > 0.0) & static_cast<int>(!(wm[x] > c))) {
          if (FirstStrictMaximum(response, x, y, e, c)) kept(x, y, c);
        }
      }
    }
  }
}

// The derivative kernels of sigma (the smoothing g and the two derivatives) and the image's
// gradients through convolve (the fast filter or its plain reference).
struct Gradients {
  int n = 0;
  FloatMatrix g;
  DoubleImage ix;
  DoubleImage iy;
  Gradients(const GrayImage& image, double sigma,
            void (*convolve)(const GrayImage&, DoubleImage&, const FloatMatrix&, int))
      : n(DerivativeKernelSize(sigma)) {
    FloatMatrix kx;
    FloatMatrix ky;
    BuildDerivativeKernels(sigma, n, g, kx, ky);
    convolve(image, ix, kx, n);
    convolve(image, iy, ky, n);
  }
};

// The corner response of rows r0 .. r1 - 1 from their smoothed products (rows of w values
// from row r0), 0 in the h columns at each side.
void HarrisRows(const double* sxx, const double* sxy, const double* syy, int r0, int r1, int h, double k,
                DoubleImage& response) {
  const int w = response.Width();
  for (int y = r0; y < r1; ++y) {
    double* r = response.Row(y);
    const size_t o = static_cast<size_t>(y - r0) * static_cast<size_t>(w);
    std::fill(r, r + h, 0.0);
    for (int x = h; x < w - h; ++x) {
      const double a = sxx[o + x];
      const double b = sxy[o + x];
      const double c = syy[o + x];
      const double trace = a + c;
      r[x] = a * c - b * b - k * (trace * trace);
    }
    std::fill(r + (w - h), r + w, 0.0);
  }
}

// The response of a frame with an interior, in strips of rows: its h border rows and columns 0.
void ResponseInStrips(const GrayImage& image, const FloatMatrix& g, const FloatMatrix& kx, const FloatMatrix& ky,
                      int n, double k, DoubleImage& response) {
  const int w = image.Width();
  const int l = image.Height();
  const int h = n / 2;
  const int span = w - 2 * h;  // interior pixels per row
  for (int y = 0; y < h; ++y) std::fill(response.Row(y), response.Row(y) + w, 0.0);
  for (int y = l - h; y < l; ++y) std::fill(response.Row(y), response.Row(y) + w, 0.0);
  // Strips of interior rows [r0, r1): the gradients and products of rows r0 - h .. r1 + h - 1
  // from the frame's rows r0 - 2h .. r1 + 2h - 1 (mirrored at its edges), each pixel's sums
  // those of the whole-frame filters.
  const int stripRows = std::min(kDetectorStripRows, l - 2 * h);
  const size_t paddedStride = static_cast<size_t>(w) + 2 * static_cast<size_t>(h);
  const size_t paddedRows = static_cast<size_t>(stripRows) + 4 * static_cast<size_t>(h);
  const size_t planeSize = static_cast<size_t>(stripRows + 2 * h) * static_cast<size_t>(w);
  // The padded frame rows, then gradients x and y, products xx, xy, yy (rows r0 - h ..
  // r1 + h - 1) and the smoothed products (rows r0 .. r1 - 1).
  const detail::ScratchBuffer scratch(detail::ScratchSlot::DetectorPlanes,
                                      paddedRows * paddedStride + 5 * planeSize + 3 * planeSize);
  double* const padded = scratch.Data();
  const auto plane = [&](int index) { return padded + paddedRows * paddedStride + static_cast<size_t>(index) * planeSize; };
  double* const gx = plane(0);
  double* const gy = plane(1);
  double* const pxx = plane(2);
  double* const pxy = plane(3);
  double* const pyy = plane(4);
  double* const sxx = plane(5);
  double* const sxy = plane(6);
  double* const syy = plane(7);
  const bool fusedX = EightBitSumsAreExact(kx, n);
  const bool fusedY = EightBitSumsAreExact(ky, n);
  // Row tables indexed as the filters expect: virtual row v at [v + h], output row r at [r].
  std::vector<const double*> frameRows(static_cast<size_t>(l + 2 * h), nullptr);
  std::vector<const double*> productRows(static_cast<size_t>(l + 2 * h), nullptr);
  std::vector<double*> outRows(static_cast<size_t>(l), nullptr);
  for (int r0 = h; r0 < l - h; r0 += stripRows) {
    const int r1 = std::min(l - h, r0 + stripRows);
    const int g0 = r0 - h;  // first gradient row
    const int g1 = r1 + h;  // past the last
    for (int v = g0 - h; v < g1 + h; ++v) {
      double* row = padded + static_cast<size_t>(v - (g0 - h)) * paddedStride;
      const uint8_t* in = image.Row(MirrorIndex(v, l));
      for (int c = 0; c < w; ++c) row[h + c] = static_cast<double>(in[c]);
      MirrorPaddedColumns(row + h, w, h);
      frameRows[static_cast<size_t>(v + h)] = row;
    }
    const auto gradient = [&](const FloatMatrix& kernel, bool fused, double* out) {
      for (int y = g0; y < g1; ++y) outRows[static_cast<size_t>(y)] = out + static_cast<size_t>(y - g0) * w;
      detail::RunKernelFilter(frameRows.data(), outRows.data(), w, kernel, n, fused, g0, g1);
    };
    gradient(kx, fusedX, gx);
    gradient(ky, fusedY, gy);
    const size_t count = static_cast<size_t>(g1 - g0) * static_cast<size_t>(w);
    for (size_t i = 0; i < count; ++i) {
      pxx[i] = gx[i] * gx[i];
      pxy[i] = gx[i] * gy[i];
      pyy[i] = gy[i] * gy[i];
    }
    // As SmoothInterior, each product into its own plane, interior rows only.
    const auto smooth = [&](const double* source, double* target) {
      for (int y = g0; y < g1; ++y) productRows[static_cast<size_t>(y + h)] = source + static_cast<size_t>(y - g0) * w;
      for (int y = r0; y < r1; ++y) outRows[static_cast<size_t>(y)] = target + static_cast<size_t>(y - r0) * w + h;
      detail::RunKernelFilter(productRows.data(), outRows.data(), span, g, n, false, r0, r1);
    };
    smooth(pxx, sxx);
    smooth(pxy, sxy);
    smooth(pyy, syy);
    HarrisRows(sxx, sxy, syy, r0, r1, h, k, response);
  }
}

}  // namespace

std::vector<FeaturePoint> DetectFeatures(const GrayImage& image, DoubleImage& response, double sigma, double k,
                                         int window) {
  const int w = image.Width();
  const int l = image.Height();
  const int n = DerivativeKernelSize(sigma);
  const int h = n / 2;
  if (w < h + 1 || l < h + 1) {
    throw Error("image of " + std::to_string(w) + " x " + std::to_string(l) + " pixels is smaller than the " +
                std::to_string(n) + " x " + std::to_string(n) + " filter allows (at least " + std::to_string(h + 1) +
                " pixels each way)");
  }
  FloatMatrix g;
  FloatMatrix kx;
  FloatMatrix ky;
  BuildDerivativeKernels(sigma, n, g, kx, ky);

  if (response.Width() != w || response.Height() != l) response.Create(w, l);
  const int span = w - 2 * h;  // interior pixels per row
  if (span <= 0 || l - 2 * h <= 0) {
    response.Fill(0.0);  // no interior: the smoothed tensor is 0 everywhere
  } else {
    ResponseInStrips(image, g, kx, ky, n, k, response);
  }

  std::vector<FeaturePoint> features;
  ScanSuppressed(response, window, [&](int x, int y, double value) {
    if (x >= 1 && x < w - 1 && y >= 1 && y < l - 1) features.push_back(PointAt(x, y, value));
  });
  SortByResponse(features);
  return features;
}

std::vector<FeaturePoint> DetectFeaturesDirect(const GrayImage& image, DoubleImage& response, double sigma, double k,
                                               int window) {
  const int w = image.Width();
  const int l = image.Height();
  const Gradients grad(image, sigma, ConvolveMirrorDirect);
  DoubleImage pxx;
  DoubleImage pxy;
  DoubleImage pyy;
  pxx.Create(w, l);
  pxy.Create(w, l);
  pyy.Create(w, l);
  for (int y = 0; y < l; ++y) {
    for (int x = 0; x < w; ++x) {
      pxx.At(x, y) = grad.ix.At(x, y) * grad.ix.At(x, y);
      pxy.At(x, y) = grad.ix.At(x, y) * grad.iy.At(x, y);
      pyy.At(x, y) = grad.iy.At(x, y) * grad.iy.At(x, y);
    }
  }
  DoubleImage sxx;
  DoubleImage sxy;
  DoubleImage syy;
  SmoothInteriorDirect(pxx, sxx, grad.g, grad.n);
  SmoothInteriorDirect(pxy, sxy, grad.g, grad.n);
  SmoothInteriorDirect(pyy, syy, grad.g, grad.n);
  response.Create(w, l);
  for (int y = 0; y < l; ++y) {
    for (int x = 0; x < w; ++x) {
      const double trace = sxx.At(x, y) + syy.At(x, y);
      response.At(x, y) = sxx.At(x, y) * syy.At(x, y) - sxy.At(x, y) * sxy.At(x, y) - k * (trace * trace);
    }
  }
  DoubleImage suppressed;
  SuppressNonMaximaDirect(response, suppressed, window);
  std::vector<FeaturePoint> features;
  for (int y = 1; y < l - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      if (suppressed.At(x, y) > 0.0) features.push_back(PointAt(x, y, suppressed.At(x, y)));
    }
  }
  SortByResponse(features);
  return features;
}

void SuppressNonMaximaDirect(const DoubleImage& response, DoubleImage& target, int window) {
  const int e = window / 2;
  FillInterior(response, e, target, [&](int x, int y) {
    double best = 0.0;
    int bu = -1;
    int bv = -1;
    for (int dv = -e; dv < e; ++dv) {
      for (int du = -e; du < e; ++du) {
        if (response.At(x + du, y + dv) > best) {
          best = response.At(x + du, y + dv);
          bu = du;
          bv = dv;
        }
      }
    }
    return bu == 0 && bv == 0 ? response.At(x, y) : 0.0;
  });
}

void SuppressNonMaxima(const DoubleImage& response, DoubleImage& target, int window) {
  ZeroedLike(response, target);
  ScanSuppressed(response, window, [&](int x, int y, double value) { target.At(x, y) = value; });
}

std::vector<FeaturePoint> SelectNearRoi(const std::vector<FeaturePoint>& features, int limit, const RoiRect& roi) {
  std::vector<FeaturePoint> selected;
  for (size_t c = 0; c < features.size() && static_cast<long long>(c) < limit; ++c) {
    const int64_t xi = static_cast<int64_t>(features[c].x);
    const int64_t yi = static_cast<int64_t>(features[c].y);
    if (roi.left < xi + kRoiMargin && xi - kRoiMargin < roi.right && roi.top < yi + kRoiMargin &&
        yi - kRoiMargin < roi.bottom) {
      selected.push_back(features[c]);
    }
  }
  return selected;
}

}  // namespace lumet
