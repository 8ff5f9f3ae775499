#include "synth/quality.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "numeric/projection.h"
#include "reconstruction/hr_geometry.h"
#include "synth/cubic_kernel.h"
#include "util/error.h"
#include "util/text_format.h"
#include "util/parallel.h"

namespace lumet {

namespace {

void CheckSameSize(const ColorGrayImage& a, const ColorGrayImage& b) {
  if (a.Empty() || b.Empty()) throw Error("cannot compare an empty image");
  if (a.Width() != b.Width() || a.Height() != b.Height()) {
    throw Error(Format("images differ in size: %d x %d and %d x %d", a.Width(), a.Height(), b.Width(), b.Height()));
  }
}

std::vector<double> Luminance(const ColorGrayImage& image) {
  const int w = image.Width();
  const int h = image.Height();
  std::vector<double> y(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      y[static_cast<size_t>(r) * static_cast<size_t>(w) + static_cast<size_t>(c)] =
          0.299 * image.channels[0][r][c] + 0.587 * image.channels[1][r][c] + 0.114 * image.channels[2][r][c];
    }
  }
  return y;
}

}  // namespace

double Psnr(const ColorGrayImage& a, const ColorGrayImage& b) {
  CheckSameSize(a, b);
  double sum = 0.0;
  for (int ch = 0; ch < 3; ++ch) {
    for (int r = 0; r < a.Height(); ++r) {
      const uint8_t* pa = a.channels[ch][r];
      const uint8_t* pb = b.channels[ch][r];
      for (int c = 0; c < a.Width(); ++c) {
        const double d = static_cast<double>(pa[c]) - static_cast<double>(pb[c]);
        sum += d * d;
      }
    }
  }
  if (sum == 0.0) return std::numeric_limits<double>::infinity();
  const double mse = sum / (3.0 * a.Width() * a.Height());
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

double Ssim(const ColorGrayImage& a, const ColorGrayImage& b) {
  CheckSameSize(a, b);
  const int w = a.Width();
  const int h = a.Height();
  if (w < kSsimWindow || h < kSsimWindow) {
    throw Error(Format("images of %d x %d are smaller than the %d x %d SSIM window", w, h, kSsimWindow, kSsimWindow));
  }
  double window[kSsimWindow * kSsimWindow];
  double total = 0.0;
  const int half = kSsimWindow / 2;
  for (int j = 0; j < kSsimWindow; ++j) {
    for (int i = 0; i < kSsimWindow; ++i) {
      const double d2 = static_cast<double>((i - half) * (i - half) + (j - half) * (j - half));
      window[j * kSsimWindow + i] = std::exp(-d2 / (2.0 * 1.5 * 1.5));
      total += window[j * kSsimWindow + i];
    }
  }
  for (double& v : window) v /= total;
  const double c1 = (0.01 * 255.0) * (0.01 * 255.0);
  const double c2 = (0.03 * 255.0) * (0.03 * 255.0);

  const std::vector<double> ya = Luminance(a);
  const std::vector<double> yb = Luminance(b);
  const int rows = h - kSsimWindow + 1;
  const int cols = w - kSsimWindow + 1;
  std::vector<double> rowSums(static_cast<size_t>(rows), 0.0);
  ParallelFor(0, rows, 200L * cols, [&](int lo, int hi) {
    for (int r = lo; r < hi; ++r) {
      double rowSum = 0.0;
      for (int c = 0; c < cols; ++c) {
        double mx = 0.0, my = 0.0, xx = 0.0, yy = 0.0, xy = 0.0;
        for (int j = 0; j < kSsimWindow; ++j) {
          const size_t base = static_cast<size_t>(r + j) * static_cast<size_t>(w) + static_cast<size_t>(c);
          for (int i = 0; i < kSsimWindow; ++i) {
            const double g = window[j * kSsimWindow + i];
            const double x = ya[base + static_cast<size_t>(i)];
            const double y = yb[base + static_cast<size_t>(i)];
            mx += g * x;
            my += g * y;
            xx += g * x * x;
            yy += g * y * y;
            xy += g * x * y;
          }
        }
        const double vx = xx - mx * mx;
        const double vy = yy - my * my;
        const double cxy = xy - mx * my;
        rowSum += ((2.0 * mx * my + c1) * (2.0 * cxy + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
      }
      rowSums[static_cast<size_t>(r)] = rowSum;
    }
  });
  double sum = 0.0;
  for (double v : rowSums) sum += v;
  return sum / (static_cast<double>(rows) * static_cast<double>(cols));
}

ColorGrayImage BicubicEnlarge(const ColorGrayImage& frame0, const RoiRect& roi, double scale) {
  const int fw = frame0.Width();
  const int fh = frame0.Height();
  CheckRoiInsideFrame(roi, frame0.Width(), frame0.Height());
  const HrGeometry grid = MakeHrGeometry(roi, scale);
  ColorGrayImage out;
  out.Create(grid.width, grid.height);
  out.mask.Fill(0);
  for (int r = 0; r < grid.height; ++r) {
    const double y = (r + grid.y0) / scale;
    const double fy = std::floor(y);
    double wy[4];
    CubicWeights(y - fy, wy);
    int ys[4];
    for (int t = 0; t < 4; ++t) ys[t] = std::clamp(static_cast<int>(fy) - 1 + t, 0, fh - 1);
    for (int c = 0; c < grid.width; ++c) {
      const double x = (c + grid.x0) / scale;
      const double fx = std::floor(x);
      double wx[4];
      CubicWeights(x - fx, wx);
      int xs[4];
      for (int t = 0; t < 4; ++t) xs[t] = std::clamp(static_cast<int>(fx) - 1 + t, 0, fw - 1);
      for (int ch = 0; ch < 3; ++ch) {
        double v = 0.0;
        for (int b = 0; b < 4; ++b) {
          const uint8_t* row = frame0.channels[ch][ys[b]];
          v += wy[b] * (wx[0] * row[xs[0]] + wx[1] * row[xs[1]] + wx[2] * row[xs[2]] + wx[3] * row[xs[3]]);
        }
        out.channels[ch][r][c] = static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
      }
    }
  }
  return out;
}

RegistrationDistance RegistrationError(const Matrix& trueH, const Matrix& estimatedH, const RoiRect& roi) {
  const double left = roi.left;
  const double top = roi.top;
  const double right = roi.right - 1;
  const double bottom = roi.bottom - 1;
  const double points[5][2] = {
      {0.5 * (left + right), 0.5 * (top + bottom)}, {left, top}, {right, top}, {left, bottom}, {right, bottom}};
  RegistrationDistance result;
  for (const auto& p : points) {
    const ProjectedPoint t = ProjectPoint(trueH, p[0], p[1]);
    const ProjectedPoint e = ProjectPoint(estimatedH, p[0], p[1]);
    const double d = std::hypot(t.u - e.u, t.v - e.v);
    result.mean += d / 5.0;
    // A degenerate estimate (a not-a-number distance) must show in the result, not lose
    // every comparison.
    if (!std::isnan(result.max) && (std::isnan(d) || d > result.max)) result.max = d;
  }
  return result;
}

}  // namespace lumet
