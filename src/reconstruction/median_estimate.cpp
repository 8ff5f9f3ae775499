#include "reconstruction/median_estimate.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/projection.h"
#include "util/parallel.h"

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

// Whether HR pixel (j, i) of a frame takes a sample, and where: the acceptance test of the
// shift-and-add, shared by both implementations below.
struct SampleSpot {
  double sx;
  double sy;
};

inline bool AcceptSample(const Matrix& b, const HrGeometry& grid, int i, int j, int referenceWidth,
                         int referenceHeight, int frameWidth, int frameHeight, double inverseQ, SampleSpot& spot) {
  const int q = grid.q;
  const ProjectedPoint p = ProjectPoint(b, static_cast<double>(j + grid.x0), static_cast<double>(i + grid.y0));
  int a = 0;
  int bb = 0;
  if (!FloorToInt(p.u, a) || !FloorToInt(p.v, bb)) return false;
  if (a % q != 0 || bb % q != 0) return false;
  if (a / q < 0 || a / q >= referenceWidth || bb / q < 0 || bb / q >= referenceHeight) return false;
  spot.sx = KeepInside(p.u * inverseQ, frameWidth);
  spot.sy = KeepInside(p.v * inverseQ, frameHeight);
  return true;
}

// The upper median (element floor(n / 2) of the ascending order) of values, reordered.
inline double UpperMedian(double* values, int n) {
  std::nth_element(values, values + n / 2, values + n);
  return values[n / 2];
}

// MedianShiftAdd for the channels c0 .. c0 + bands - 1 into out[0 .. bands - 1]: each
// channel's medians depend on its own samples alone.
void GatherMedians(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms, int selected,
                   const HrGeometry& grid, int referenceWidth, int referenceHeight, int c0, int bands,
                   DoubleImage* const* out, CountImage& count) {
  const int gw = grid.width;
  const int gh = grid.height;
  const double inverseQ = 1.0 / static_cast<double>(grid.q);
  count.Create(gw, gh);
  for (int c = 0; c < bands; ++c) out[c]->Create(gw, gh);

  // Row by row: the samples of one HR row from every selected frame are gathered, grouped
  // by pixel and reduced to their medians, so no more than one row's samples are ever
  // held. The median does not depend on the order of the samples.
  ParallelFor(0, gh, 20L * gw * std::max(selected, 1), [&](int lo, int hi) {
    struct Sample {
      int column;
      double value[3];
    };
    std::vector<Sample> samples;
    std::vector<int> start(static_cast<size_t>(gw) + 1);
    std::vector<double> grouped;
    for (int i = lo; i < hi; ++i) {
      samples.clear();
      for (int k = 0; k < selected; ++k) {
        const ColorGrayImage& frame = frames[static_cast<size_t>(k)];
        const Matrix& b = hrForms[static_cast<size_t>(k)];
        // Channel c0's size: a caller may have freed the channels before it.
        const int frameWidth = frame.channels[static_cast<size_t>(c0)].Width();
        const int frameHeight = frame.channels[static_cast<size_t>(c0)].Height();
        for (int j = 0; j < gw; ++j) {
          SampleSpot spot{};
          if (!AcceptSample(b, grid, i, j, referenceWidth, referenceHeight, frameWidth, frameHeight, inverseQ, spot))
            continue;
          Sample sample{j, {}};
          for (int c = 0; c < bands; ++c) {
            sample.value[c] = frame.channels[static_cast<size_t>(c0 + c)].SampleNonNegative(spot.sx, spot.sy);
          }
          samples.push_back(sample);
        }
      }
      // Counting sort by column.
      std::fill(start.begin(), start.end(), 0);
      for (const Sample& sample : samples) ++start[static_cast<size_t>(sample.column) + 1];
      int32_t* countRow = count.Row(i);
      for (int j = 0; j < gw; ++j) {
        countRow[j] = start[static_cast<size_t>(j) + 1];
        start[static_cast<size_t>(j) + 1] += start[static_cast<size_t>(j)];
      }
      const size_t total = samples.size();
      grouped.resize(static_cast<size_t>(bands) * total);
      std::vector<int> fill(start.begin(), start.end() - 1);
      for (const Sample& sample : samples) {
        const size_t slot = static_cast<size_t>(fill[static_cast<size_t>(sample.column)]++);
        for (int c = 0; c < bands; ++c) grouped[static_cast<size_t>(c) * total + slot] = sample.value[c];
      }
      for (int j = 0; j < gw; ++j) {
        const int n = countRow[j];
        for (int c = 0; c < bands; ++c) {
          double value = kEmptyPixelValue;
          if (n > 0) value = UpperMedian(grouped.data() + static_cast<size_t>(c) * total + start[static_cast<size_t>(j)], n);
          out[c]->Row(i)[j] = value;
        }
      }
    }
  });
}

}  // namespace

void MedianShiftAdd(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms, int selected,
                    const HrGeometry& grid, int referenceWidth, int referenceHeight, ColorDoubleImage& x,
                    CountImage& count) {
  DoubleImage* out[3] = {&x.channels[0], &x.channels[1], &x.channels[2]};
  GatherMedians(frames, hrForms, selected, grid, referenceWidth, referenceHeight, 0, 3, out, count);
}

void MedianShiftAddBand(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms, int selected,
                        const HrGeometry& grid, int referenceWidth, int referenceHeight, int band, DoubleImage& xb,
                        CountImage& count) {
  DoubleImage* out[1] = {&xb};
  GatherMedians(frames, hrForms, selected, grid, referenceWidth, referenceHeight, band, 1, out, count);
}

void MedianShiftAddDirect(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms,
                          int selected, const HrGeometry& grid, int referenceWidth, int referenceHeight,
                          ColorDoubleImage& x, CountImage& count) {
  const int gw = grid.width;
  const int gh = grid.height;
  const double inverseQ = 1.0 / static_cast<double>(grid.q);
  count.Create(gw, gh);
  count.Fill(0);
  // Layer p holds the p-th sample of every pixel.
  std::vector<ColorDoubleImage> layers(static_cast<size_t>(std::max(selected, 0)));
  for (auto& layer : layers) {
    for (auto& channel : layer.channels) channel.Create(gw, gh);
  }
  for (int k = 0; k < selected; ++k) {
    const ColorGrayImage& frame = frames[static_cast<size_t>(k)];
    for (int i = 0; i < gh; ++i) {
      for (int j = 0; j < gw; ++j) {
        SampleSpot spot{};
        if (!AcceptSample(hrForms[static_cast<size_t>(k)], grid, i, j, referenceWidth, referenceHeight,
                          frame.channels[0].Width(), frame.channels[0].Height(), inverseQ, spot))
          continue;
        const int slot = count.Row(i)[j];
        for (int c = 0; c < 3; ++c) {
          layers[static_cast<size_t>(slot)].channels[static_cast<size_t>(c)].Row(i)[j] =
              frame.channels[static_cast<size_t>(c)].Sample(spot.sx, spot.sy);
        }
        count.Row(i)[j] = slot + 1;
      }
    }
  }
  for (auto& channel : x.channels) channel.Create(gw, gh);
  std::vector<double> values;
  for (int i = 0; i < gh; ++i) {
    for (int j = 0; j < gw; ++j) {
      const int n = count.Row(i)[j];
      for (int c = 0; c < 3; ++c) {
        double value = kEmptyPixelValue;
        if (n > 0) {
          values.clear();
          for (int p = 0; p < n; ++p) values.push_back(layers[static_cast<size_t>(p)].channels[static_cast<size_t>(c)].Row(i)[j]);
          std::sort(values.begin(), values.end());
          value = values[static_cast<size_t>(n / 2)];
        }
        x.channels[static_cast<size_t>(c)].Row(i)[j] = value;
      }
    }
  }
}

void FillHoles(ColorDoubleImage& x, const CountImage& count) {
  DoubleImage* channels[3] = {&x.channels[0], &x.channels[1], &x.channels[2]};
  FillHoles(channels, 3, count);
}

void FillHoles(DoubleImage* const* channels, int channelCount, const CountImage& count) {
  const int gw = count.Width();
  const int gh = count.Height();
  if (gh <= 4) return;
    // A filled pixel has count 0 and so weight 0: filling in place cannot change a later
    // window. Terms of weight 0 add exactly nothing and are skipped, so no row reads a pixel
    // that another thread is filling.
  ParallelFor(2, gh - 2, 60L * gw, [&](int lo, int hi) {
    for (int i = lo; i < hi; ++i) {
      for (int j = 2; j < gw - 2; ++j) {
        if (count.Row(i)[j] != 0) continue;
        long weight = 0;
        for (int r = i - 2; r <= i + 2; ++r) {
          for (int c = j - 2; c <= j + 2; ++c) weight += count.Row(r)[c];
        }
        if (weight == 0) continue;
        for (int ch = 0; ch < channelCount; ++ch) {
          DoubleImage& channel = *channels[ch];
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
  });
}

}  // namespace lumet
