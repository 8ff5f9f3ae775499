#include "numeric/convolve.h"

#include <string>
#include <vector>

#include "util/error.h"

namespace lumet {

namespace {

template <typename Plane>
void CheckDomain(const Plane& source, int n) {
  const int h = n / 2;
  if (n < 1 || n % 2 == 0) throw Error("convolution kernel size " + std::to_string(n) + " is not a positive odd number");
  if (source.Width() < h + 1 || source.Height() < h + 1) {
    throw Error("image of " + std::to_string(source.Width()) + " x " + std::to_string(source.Height()) +
                " pixels is smaller than the " + std::to_string(n) + " x " + std::to_string(n) + " filter allows (at least " +
                std::to_string(h + 1) + " pixels each way)");
  }
}

template <typename Plane>
void Direct(const Plane& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  CheckDomain(source, n);
  const int w = source.Width();
  const int l = source.Height();
  const int h = n / 2;
  target.Create(w, l);
  for (int r = 0; r < l; ++r) {
    for (int c = 0; c < w; ++c) {
      double sum = 0.0;
      for (int dy = -h; dy <= h; ++dy) {
        const auto* row = source.Row(MirrorIndex(r + dy, l));
        for (int dx = -h; dx <= h; ++dx) {
          sum += static_cast<double>(kernel[dx + h][dy + h]) * static_cast<double>(row[MirrorIndex(c + dx, w)]);
        }
      }
      target.Row(r)[c] = sum;
    }
  }
}

// Vectorised across the pixels of a row: for every output pixel the terms are added in
// the same order as in Direct (dy outer, dx inner), so the results are bit-identical.
template <typename Plane>
void Fast(const Plane& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  CheckDomain(source, n);
  const int w = source.Width();
  const int l = source.Height();
  const int h = n / 2;
  const int pw = w + 2 * h;
  target.Create(w, l);

  // Every source row widened to double with its mirrored columns, so the inner loop has
  // no index test.
  std::vector<double> padded(static_cast<size_t>(pw) * static_cast<size_t>(l));
#pragma omp parallel for schedule(static) if (static_cast<long>(w) * l > 20000)
  for (int r = 0; r < l; ++r) {
    const auto* row = source.Row(r);
    double* out = padded.data() + static_cast<size_t>(r) * static_cast<size_t>(pw);
    for (int c = -h; c < w + h; ++c) out[c + h] = static_cast<double>(row[MirrorIndex(c, w)]);
  }
  std::vector<double> taps(static_cast<size_t>(n) * static_cast<size_t>(n));
  for (int b = 0; b < n; ++b) {
    for (int a = 0; a < n; ++a) taps[static_cast<size_t>(b * n + a)] = static_cast<double>(kernel[a][b]);
  }

#pragma omp parallel if (static_cast<long>(w) * l * n * n > 200000)
  {
    std::vector<double> acc(static_cast<size_t>(w));
#pragma omp for schedule(static)
    for (int r = 0; r < l; ++r) {
      std::fill(acc.begin(), acc.end(), 0.0);
      double* a = acc.data();
      for (int dy = -h; dy <= h; ++dy) {
        const double* src = padded.data() + static_cast<size_t>(MirrorIndex(r + dy, l)) * static_cast<size_t>(pw);
        const double* k = taps.data() + static_cast<size_t>((dy + h) * n);
        for (int t = 0; t < n; ++t) {
          const double kv = k[t];
          const double* s = src + t;  // column c + (t - h) of the padded row, shifted by h
          for (int c = 0; c < w; ++c) a[c] += kv * s[c];
        }
      }
      double* out = target.Row(r);
      for (int c = 0; c < w; ++c) out[c] = a[c];
    }
  }
}

}  // namespace

void ConvolveMirror(const GrayImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  Fast(source, target, kernel, n);
}
void ConvolveMirror(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  Fast(source, target, kernel, n);
}
void ConvolveMirrorDirect(const GrayImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  Direct(source, target, kernel, n);
}
void ConvolveMirrorDirect(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  Direct(source, target, kernel, n);
}

}  // namespace lumet
