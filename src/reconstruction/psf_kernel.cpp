#include "reconstruction/psf_kernel.h"

#include <cmath>

#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

namespace {
// Far beyond any HR grid a frame can give; keeps the size an ordinary int.
constexpr double kMaxPsfKernelSize = 1 << 20;
}  // namespace

int PsfKernelSize(double sigma, double scale) {
  if (!(sigma > 0.0) || !std::isfinite(sigma)) {
    throw Error("PSF sigma " + FormatG6(sigma) + " is not a positive number");
  }
  const double extent = std::ceil(sigma * scale * 6.0) + 1.0;
  if (!(extent <= kMaxPsfKernelSize)) {
    throw Error("PSF sigma " + FormatG6(sigma) + " gives a PSF kernel of more than " + FormatG6(kMaxPsfKernelSize) +
                " pixels");
  }
  const int m = static_cast<int>(extent);
  int n = m + 1 - m % 2;
  if (n < kMinPsfKernelSize) n = kMinPsfKernelSize;
  return n;
}

FloatMatrix MakePsfKernel(double sigma, double scale, int& size) {
  const int n = PsfKernelSize(sigma, scale);
  const int h = static_cast<int>(std::floor((n - 1) * 0.5));
  const float variance = static_cast<float>((sigma * scale) * (sigma * scale));
  const double v = variance;
  FloatMatrix kernel(n, n, 0.0f);
  long double sum = 0.0L;
  for (int b = 0; b < n; ++b) {
    const int dy = b - h;
    for (int a = 0; a < n; ++a) {
      const int dx = a - h;
      const double g = std::exp(-static_cast<double>(dx * dx + dy * dy) / (2.0 * v)) / (6.28318 * v);
      kernel[a][b] = static_cast<float>(g);
      sum += g;
    }
  }
  const long double inverse = 1.0L / sum;
  for (int a = 0; a < n; ++a) {
    for (int b = 0; b < n; ++b) kernel[a][b] = static_cast<float>(inverse * kernel[a][b]);
  }
  size = n;
  return kernel;
}

FloatMatrix MakePsfKernel(double sigma, double scale) {
  int size = 0;
  return MakePsfKernel(sigma, scale, size);
}

}  // namespace lumet
