#include "registration/feature_point.h"

#include <algorithm>
#include <cstdint>

#include "numeric/convolve.h"
#include "registration/derivative_kernels.h"
#include "util/parallel.h"

namespace lumet {

std::vector<FeaturePoint> DetectFeatures(const GrayImage& image, DoubleImage& response, double sigma, double k,
                                         int window) {
  const int w = image.Width();
  const int l = image.Height();
  const int n = DerivativeKernelSize(sigma);
  FloatMatrix g;
  FloatMatrix kx;
  FloatMatrix ky;
  BuildDerivativeKernels(sigma, n, g, kx, ky);

  DoubleImage ix;
  DoubleImage iy;
  ConvolveMirror(image, ix, kx, n);
  ConvolveMirror(image, iy, ky, n);

  DoubleImage pxx;
  DoubleImage pxy;
  DoubleImage pyy;
  pxx.Create(w, l);
  pxy.Create(w, l);
  pyy.Create(w, l);
  for (int y = 0; y < l; ++y) {
    const double* dx = ix.Row(y);
    const double* dy = iy.Row(y);
    double* xx = pxx.Row(y);
    double* xy = pxy.Row(y);
    double* yy = pyy.Row(y);
    for (int x = 0; x < w; ++x) {
      xx[x] = dx[x] * dx[x];
      xy[x] = dx[x] * dy[x];
      yy[x] = dy[x] * dy[x];
    }
  }

  DoubleImage sxx;
  DoubleImage sxy;
  DoubleImage syy;
  SmoothInterior(pxx, sxx, g, n);
  SmoothInterior(pxy, sxy, g, n);
  SmoothInterior(pyy, syy, g, n);

  response.Create(w, l);
  for (int y = 0; y < l; ++y) {
    const double* a = sxx.Row(y);
    const double* b = sxy.Row(y);
    const double* c = syy.Row(y);
    double* r = response.Row(y);
    for (int x = 0; x < w; ++x) {
      const double trace = a[x] + c[x];
      r[x] = a[x] * c[x] - b[x] * b[x] - k * (trace * trace);
    }
  }

  DoubleImage suppressed;
  SuppressNonMaxima(response, suppressed, window);

  std::vector<FeaturePoint> features;
  for (int y = 1; y < l - 1; ++y) {
    const double* s = suppressed.Row(y);
    for (int x = 1; x < w - 1; ++x) {
      if (s[x] > 0.0) {
        features.push_back(
            FeaturePoint{static_cast<float>(x), static_cast<float>(y), static_cast<double>(static_cast<float>(s[x]))});
      }
    }
  }
  // Stable, so that equal responses come out in scan order and runs repeat exactly.
  std::stable_sort(features.begin(), features.end(),
                   [](const FeaturePoint& p, const FeaturePoint& q) { return p.response > q.response; });
  return features;
}

void SuppressNonMaximaDirect(const DoubleImage& response, DoubleImage& target, int window) {
  const int w = response.Width();
  const int l = response.Height();
  const int e = window / 2;
  ZeroedLike(response, target);
  for (int y = e; y < l - e; ++y) {
    for (int x = e; x < w - e; ++x) {
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
      if (bu == 0 && bv == 0) target.At(x, y) = response.At(x, y);
    }
  }
}

void SuppressNonMaxima(const DoubleImage& response, DoubleImage& target, int window) {
  const int w = response.Width();
  const int l = response.Height();
  const int e = window / 2;
  ZeroedLike(response, target);
  ParallelFor(e, l - e, static_cast<long>(w) * window * window, [&](int lo, int hi) {
    for (int y = lo; y < hi; ++y) {
      for (int x = e; x < w - e; ++x) {
        // The scan keeps the first strict maximum above 0, so the centre c is kept exactly
        // when c > 0, no value before it in scan order reaches c and none after it exceeds
        // c; the first value that breaks this ends the test (not-a-number values never do).
        const double centre = response.Row(y)[x];
        if (!(centre > 0.0)) continue;
        bool kept = true;
        for (int dv = -e; dv < e && kept; ++dv) {
          const double* row = response.Row(y + dv) + x;
          for (int du = -e; du < e; ++du) {
            const bool before = dv < 0 || (dv == 0 && du < 0);
            if (before ? row[du] >= centre : row[du] > centre) {
              kept = false;
              break;
            }
          }
        }
        if (kept) target.At(x, y) = centre;
      }
    }
  });
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
