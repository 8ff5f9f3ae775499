#include "registration/feature_point.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "numeric/convolve.h"
#include "numeric/kernel_filter.h"
#include "registration/derivative_kernels.h"
#include "registration/scratch_buffer.h"

namespace lumet {

namespace {

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
  const detail::ScratchBuffer rowMax(detail::ScratchSlot::RowMaxima, stride * static_cast<size_t>(l));
  const detail::ScratchBuffer windowMax(detail::ScratchSlot::WindowMaxima, stride);
  const double none = -std::numeric_limits<double>::infinity();
  // rowMax(x, y): the largest of x - e .. x + e - 1 in row y, for the centre columns.
  for (int y = 0; y < l; ++y) {
    SlidingMaximum(response.Row(y), e, w, none, rowMax.Data() + static_cast<size_t>(y) * stride);
  }
  double* wm = windowMax.Data();
  for (int y = e; y < l - e; ++y) {
    ColumnMaximum(rowMax.Data() + static_cast<size_t>(y - e) * stride, stride, e, w, none, wm);
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

}  // namespace

std::vector<FeaturePoint> DetectFeatures(const GrayImage& image, DoubleImage& response, double sigma, double k,
                                         int window) {
  const int w = image.Width();
  const int l = image.Height();
  const Gradients grad(image, sigma, ConvolveMirror);

  // Products Ix^2, Ix Iy, Iy^2 (planes 0 .. 2) and their smoothed interiors (3 .. 5), each
  // w x l without padding.
  const size_t size = static_cast<size_t>(w) * static_cast<size_t>(l);
  const detail::ScratchBuffer planes(detail::ScratchSlot::DetectorPlanes, 6 * size);
  const auto plane = [&](int index) { return planes.Data() + static_cast<size_t>(index) * size; };
  double* const pxx = plane(0);
  double* const pxy = plane(1);
  double* const pyy = plane(2);
  for (int y = 0; y < l; ++y) {
    const double* dx = grad.ix.Row(y);
    const double* dy = grad.iy.Row(y);
    const size_t o = static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int x = 0; x < w; ++x) {
      pxx[o + x] = dx[x] * dx[x];
      pxy[o + x] = dx[x] * dy[x];
      pyy[o + x] = dy[x] * dy[x];
    }
  }

  if (response.Width() != w || response.Height() != l) response.Create(w, l);
  const int h = grad.n / 2;
  const int span = w - 2 * h;  // interior pixels per row
  if (span <= 0 || l - 2 * h <= 0) {
    response.Fill(0.0);  // no interior: the smoothed tensor is 0 everywhere
  } else {
    // As SmoothInterior, each product into its own plane, interior rows only.
    std::vector<const double*> rows(static_cast<size_t>(l + 2 * h), nullptr);
    std::vector<double*> out(static_cast<size_t>(l), nullptr);
    for (int p = 0; p < 3; ++p) {
      const double* source = plane(p);
      double* target = plane(3 + p);
      for (int y = 0; y < l; ++y) rows[static_cast<size_t>(y + h)] = source + static_cast<size_t>(y) * w;
      for (int y = h; y < l - h; ++y) out[static_cast<size_t>(y)] = target + static_cast<size_t>(y) * w + h;
      detail::RunKernelFilter(rows.data(), out.data(), span, grad.g, grad.n, false, h, l - h);
    }
    const double* const sxx = plane(3);
    const double* const sxy = plane(4);
    const double* const syy = plane(5);
    for (int y = 0; y < l; ++y) {
      double* r = response.Row(y);
      if (y < h || y >= l - h) {
        std::fill(r, r + w, 0.0);
        continue;
      }
      const size_t o = static_cast<size_t>(y) * static_cast<size_t>(w);
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
