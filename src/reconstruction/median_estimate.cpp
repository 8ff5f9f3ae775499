#include "reconstruction/median_estimate.h"

#include <algorithm>
#include <cmath>

#include "numeric/projection.h"

namespace lumet {

namespace {

// floor of a position as an integer, or false when it is far outside any frame (or not a
// number), where the conversion would not be defined; such a position never passes the
// acceptance test.
bool FloorToInt(double value, int& out) {
  if (!(value > -1.0e9 && value < 1.0e9)) return false;
  out = static_cast<int>(std::floor(value));
  return true;
}

// A sampling position just below the frame's extent, for the one-ulp case where x' / q
// rounds up to the extent although a / q lies inside it.
double KeepInside(double value, int extent) {
  const double limit = static_cast<double>(extent);
  return value < limit ? value : std::nextafter(limit, 0.0);
}

}  // namespace

void MedianShiftAdd(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms, int selected,
                    const HrGeometry& grid, int referenceWidth, int referenceHeight,
                    std::vector<ColorDoubleImage>& layers, ColorDoubleImage& x, CountImage& count) {
  const int gw = grid.width;
  const int gh = grid.height;
  const int q = grid.q;
  const double inverseQ = 1.0 / static_cast<double>(q);
  count.Create(gw, gh);
  count.Fill(0);
  const bool parallel = static_cast<long>(gw) * gh > 8192;

  for (int k = 0; k < selected; ++k) {
    const ColorGrayImage& frame = frames[static_cast<size_t>(k)];
    const Matrix& b = hrForms[static_cast<size_t>(k)];
    const int frameWidth = frame.channels[0].Width();
    const int frameHeight = frame.channels[0].Height();
#pragma omp parallel for schedule(static) if (parallel)
    for (int i = 0; i < gh; ++i) {
      int32_t* countRow = count.Row(i);
      for (int j = 0; j < gw; ++j) {
        const ProjectedPoint p = ProjectPoint(b, static_cast<double>(j + grid.x0), static_cast<double>(i + grid.y0));
        int a = 0;
        int bb = 0;
        if (!FloorToInt(p.u, a) || !FloorToInt(p.v, bb)) continue;
        if (a % q != 0 || bb % q != 0) continue;
        if (a / q < 0 || a / q >= referenceWidth || bb / q < 0 || bb / q >= referenceHeight) continue;
        const double sx = KeepInside(p.u * inverseQ, frameWidth);
        const double sy = KeepInside(p.v * inverseQ, frameHeight);
        const int slot = countRow[j];
        ColorDoubleImage& layer = layers[static_cast<size_t>(slot)];
        for (int c = 0; c < 3; ++c) {
          layer.channels[static_cast<size_t>(c)].Row(i)[j] = frame.channels[static_cast<size_t>(c)].Sample(sx, sy);
        }
        countRow[j] = slot + 1;
      }
    }
  }

  for (auto& channel : x.channels) channel.Create(gw, gh);
#pragma omp parallel if (parallel)
  {
    std::vector<double> values;
#pragma omp for schedule(static)
    for (int i = 0; i < gh; ++i) {
      const int32_t* countRow = count.Row(i);
      for (int j = 0; j < gw; ++j) {
        const int n = countRow[j];
        for (int c = 0; c < 3; ++c) {
          double value = kEmptyPixelValue;
          if (n > 0) {
            values.clear();
            for (int p = 0; p < n; ++p)
              values.push_back(layers[static_cast<size_t>(p)].channels[static_cast<size_t>(c)].Row(i)[j]);
            const auto middle = values.begin() + n / 2;
            std::nth_element(values.begin(), middle, values.end());
            value = *middle;
          }
          x.channels[static_cast<size_t>(c)].Row(i)[j] = value;
        }
      }
    }
  }
}

void FillHoles(ColorDoubleImage& x, const CountImage& count) {
  const int gw = count.Width();
  const int gh = count.Height();
  if (gh <= 4) return;
    // A filled pixel has count 0 and so weight 0: filling in place cannot change a later
    // window. Terms of weight 0 add exactly nothing and are skipped, so no row reads a pixel
    // that another thread is filling.
#pragma omp parallel for schedule(static) if (static_cast <long>(gw) * gh > 8192)
  for (int i = 2; i < gh - 2; ++i) {
    for (int j = 2; j < gw - 2; ++j) {
      if (count.Row(i)[j] != 0) continue;
      long weight = 0;
      for (int r = i - 2; r <= i + 2; ++r) {
        for (int c = j - 2; c <= j + 2; ++c) weight += count.Row(r)[c];
      }
      if (weight == 0) continue;
      for (auto& channel : x.channels) {
        long double sum = 0.0L;
        for (int r = i - 2; r <= i + 2; ++r) {
          const int32_t* countRow = count.Row(r);
          const double* row = channel.Row(r);
          for (int c = j - 2; c <= j + 2; ++c) {
            if (countRow[c] != 0) sum += static_cast<long double>(countRow[c]) * static_cast<long double>(row[c]);
          }
        }
        channel.Row(i)[j] = static_cast<double>(sum / static_cast<long double>(weight));
      }
    }
  }
}

}  // namespace lumet
