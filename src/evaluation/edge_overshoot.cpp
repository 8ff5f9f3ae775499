#include "evaluation/edge_overshoot.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "util/error.h"

namespace lumet {

namespace {

std::vector<double> Luminance(const ColorGrayImage& image) {
  const int w = image.Width();
  const int h = image.Height();
  std::vector<double> y(static_cast<size_t>(w) * h);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      y[static_cast<size_t>(r) * w + c] = (image.channels[0].Row(r)[c] + 2.0 * image.channels[1].Row(r)[c] +
                                           image.channels[2].Row(r)[c]) / 4.0;
    }
  }
  return y;
}

double Percentile99(std::vector<double>& values) {
  if (values.empty()) return 0.0;
  const auto at = values.begin() + static_cast<long>(0.99 * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

}  // namespace

EdgeOvershoot MeasureEdgeOvershoot(const ColorGrayImage& result, const ColorGrayImage& reference, int reach) {
  const int w = reference.Width();
  const int h = reference.Height();
  if (w == 0 || h == 0 || result.Width() != w || result.Height() != h) {
    throw Error("the overshoot needs two images of one size");
  }
  const std::vector<double> ref = Luminance(reference);
  const std::vector<double> out = Luminance(result);
  const auto at = [w](int x, int y) { return static_cast<size_t>(y) * w + x; };
  std::vector<char> edge(ref.size(), 0);
  for (int y = 1; y + 1 < h; ++y) {
    for (int x = 1; x + 1 < w; ++x) {
      const double gx = (ref[at(x + 1, y)] - ref[at(x - 1, y)]) / 2.0;
      const double gy = (ref[at(x, y + 1)] - ref[at(x, y - 1)]) / 2.0;
      edge[at(x, y)] = std::hypot(gx, gy) >= kEdgeStep ? 1 : 0;
    }
  }
  EdgeOvershoot m;
  std::vector<double> dark;
  std::vector<double> bright;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      bool near = false;
      double lo = 1e300;
      double hi = -1e300;
      for (int v = std::max(0, y - reach); v <= std::min(h - 1, y + reach); ++v) {
        for (int u = std::max(0, x - reach); u <= std::min(w - 1, x + reach); ++u) {
          near = near || edge[at(u, v)] != 0;
          lo = std::min(lo, ref[at(u, v)]);
          hi = std::max(hi, ref[at(u, v)]);
        }
      }
      if (!near) continue;
      dark.push_back(std::max(0.0, lo - out[at(x, y)]));
      bright.push_back(std::max(0.0, out[at(x, y)] - hi));
      m.meanDark += dark.back();
      m.meanBright += bright.back();
    }
  }
  m.pixels = static_cast<int>(dark.size());
  if (m.pixels > 0) {
    m.meanDark /= m.pixels;
    m.meanBright /= m.pixels;
  }
  m.worstDark = Percentile99(dark);
  m.worstBright = Percentile99(bright);
  return m;
}

}  // namespace lumet
