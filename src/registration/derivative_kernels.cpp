#include "registration/derivative_kernels.h"

#include <cmath>
#include <vector>

#include "numeric/kernel_filter.h"

namespace lumet {

int DerivativeKernelSize(double sigma) {
  const double c = std::ceil(6.0 * sigma);
  int n = static_cast<int>(c + 1.0);
  if (n % 2 == 0) ++n;
  return n;
}

void BuildDerivativeKernels(double sigma, int n, FloatMatrix& g, FloatMatrix& kx, FloatMatrix& ky) {
  g.Allocate(n, n);
  kx.Allocate(n, n);
  ky.Allocate(n, n);
  g.Fill(0.0f);
  kx.Fill(0.0f);
  ky.Fill(0.0f);

  const float s2 = static_cast<float>(sigma * sigma);
  const float q = static_cast<float>(-1.0 / static_cast<double>(s2));
  const int h = static_cast<int>(std::floor((n - 1) * 0.5));
  const double twoS2 = 2.0 * static_cast<double>(s2);
  // 6.28318 rather than the full-precision 2 pi: the kernels are defined with it.
  const double norm = 6.28318 * static_cast<double>(s2);

  double sum = 0.0;
  for (int a = 0; a < n; ++a) {
    const int u = a - h;
    for (int b = 0; b < n; ++b) {
      const int v = b - h;
      const double value = std::exp(-static_cast<double>(u * u + v * v) / twoS2) / norm;
      g[a][b] = static_cast<float>(value);
      sum += value;
      kx[a][b] = static_cast<float>(static_cast<double>(static_cast<float>(u) * q) * value);
      ky[a][b] = static_cast<float>(static_cast<double>(static_cast<float>(v) * q) * value);
    }
  }
  const double scale = 1.0 / sum;
  for (int a = 0; a < n; ++a) {
    for (int b = 0; b < n; ++b) g[a][b] = static_cast<float>(static_cast<double>(g[a][b]) * scale);
  }
}

void SmoothInteriorDirect(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  const int h = n / 2;
  FillInterior(source, h, target, [&](int x, int y) {
    double sum = 0.0;
    for (int b = 0; b < n; ++b) {
      for (int a = 0; a < n; ++a) sum += static_cast<double>(kernel[a][b]) * source.At(x + a - h, y + b - h);
    }
    return sum;
  });
}

void SmoothInterior(const DoubleImage& source, DoubleImage& target, const FloatMatrix& kernel, int n) {
  const int w = source.Width();
  const int l = source.Height();
  const int h = n / 2;
  ZeroedLike(source, target);
  const int span = w - 2 * h;  // interior pixels per row
  if (span <= 0 || l - 2 * h <= 0) return;

  // Interior pixel x = h + i of row y reads column i + a of row y + b - h: the source rows
  // as they are, the output rows from column h on.
  std::vector<const double*> rows(static_cast<size_t>(l + 2 * h), nullptr);
  for (int y = 0; y < l; ++y) rows[static_cast<size_t>(y + h)] = source.Row(y);
  std::vector<double*> out(static_cast<size_t>(l), nullptr);
  for (int y = h; y < l - h; ++y) out[static_cast<size_t>(y)] = target.Row(y) + h;
  detail::RunKernelFilter(rows.data(), out.data(), span, kernel, n, false, h, l - h);
}

}  // namespace lumet
