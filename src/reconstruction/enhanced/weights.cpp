#include "reconstruction/enhanced/weights.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include "numeric/cubic_kernel.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// Calls read with channel c of frame as a computation at depth reads it: its deep plane
// (floats) when depth is Deep and it has them, its 8-bit plane otherwise. Every use reads
// the samples as doubles, so that 8-bit values give the same sums either way.
template <typename Read>
auto ReadChannel(const ColorGrayImage& frame, int c, SampleDepth depth, Read&& read) {
  if (depth == SampleDepth::Deep && frame.deep) return read(frame.deep->channels[c]);
  return read(frame.channels[static_cast<size_t>(c)]);
}

// Frame 0's range (max - min) over the 3 x 3 pixels around the nearest one to (x, y).
template <typename P>
double LocalRange(const ImagePlane<P>& plane, double x, double y) {
  const int cx = std::clamp(static_cast<int>(std::lround(x)), 0, plane.Width() - 1);
  const int cy = std::clamp(static_cast<int>(std::lround(y)), 0, plane.Height() - 1);
  double lo = HUGE_VAL;
  double hi = -HUGE_VAL;
  for (int r = std::max(0, cy - 1); r <= std::min(plane.Height() - 1, cy + 1); ++r) {
    for (int c = std::max(0, cx - 1); c <= std::min(plane.Width() - 1, cx + 1); ++c) {
      lo = std::min<double>(lo, plane.Row(r)[c]);
      hi = std::max<double>(hi, plane.Row(r)[c]);
    }
  }
  return hi - lo;
}

template <typename P>
double SampleBicubicWith(const ImagePlane<P>& plane, const CubicTaps& tx, const CubicTaps& ty) {
  double v = 0.0;
  for (int b = 0; b < 4; ++b) {
    const P* row = plane.Row(ty.index[b]);
    v += ty.weight[b] * (tx.weight[0] * static_cast<double>(row[tx.index[0]]) +
                         tx.weight[1] * static_cast<double>(row[tx.index[1]]) +
                         tx.weight[2] * static_cast<double>(row[tx.index[2]]) +
                         tx.weight[3] * static_cast<double>(row[tx.index[3]]));
  }
  return v;
}

template <typename P>
double SampleBicubicOf(const ImagePlane<P>& plane, double x, double y) {
  return SampleBicubicWith(plane, MakeCubicTaps(x, plane.Width()), MakeCubicTaps(y, plane.Height()));
}

// The three channels of frame at (x, y) as SampleBicubicOf gives each, the taps found once.
void SampleBicubicColour(const ColorGrayImage& frame, SampleDepth depth, double x, double y, double (&out)[3]) {
  const CubicTaps tx = MakeCubicTaps(x, frame.Width());
  const CubicTaps ty = MakeCubicTaps(y, frame.Height());
  for (int c = 0; c < 3; ++c) {
    out[c] = ReadChannel(frame, c, depth, [&](const auto& plane) { return SampleBicubicWith(plane, tx, ty); });
  }
}

template <typename P>
double SampleBilinearOf(const ImagePlane<P>& plane, double x, double y) {
  const double cx = std::clamp(x, 0.0, plane.Width() - 1.0);
  const double cy = std::clamp(y, 0.0, plane.Height() - 1.0);
  const int ix = std::min(static_cast<int>(cx), plane.Width() - 1);
  const int iy = std::min(static_cast<int>(cy), plane.Height() - 1);
  const int ix1 = std::min(ix + 1, plane.Width() - 1);
  const int iy1 = std::min(iy + 1, plane.Height() - 1);
  const double fx = cx - ix;
  const double fy = cy - iy;
  const double a = plane.Row(iy)[ix];
  const double b = plane.Row(iy)[ix1];
  const double c = plane.Row(iy1)[ix];
  const double d = plane.Row(iy1)[ix1];
  const double top = a + fx * (b - a);
  return top + fy * (c + fx * (d - c) - top);
}

// The rows above, at and below row y of a plane (y not on its edge), for 3 x 3 masks. Read
// in doubles: whole 8-bit values sum exactly, as in integers.
template <typename P>
struct RowsAround {
  RowsAround(const ImagePlane<P>& plane, int y)
      : upRow(plane.Row(y - 1)), midRow(plane.Row(y)), downRow(plane.Row(y + 1)) {}
  double Up(int i) const { return static_cast<double>(upRow[i]); }
  double Mid(int i) const { return static_cast<double>(midRow[i]); }
  double Down(int i) const { return static_cast<double>(downRow[i]); }
  const P* upRow;
  const P* midRow;
  const P* downRow;
};

// |gx| + |gy| of the Sobel slopes at column x, which must not be on the plane's edge.
template <typename P>
double SobelSlope(const RowsAround<P>& rows, int x) {
  const double gx = rows.Up(x + 1) - rows.Up(x - 1) + 2 * (rows.Mid(x + 1) - rows.Mid(x - 1)) + rows.Down(x + 1) -
                    rows.Down(x - 1);
  const double gy = rows.Down(x - 1) - rows.Up(x - 1) + 2 * (rows.Down(x) - rows.Up(x)) + rows.Down(x + 1) -
                    rows.Up(x + 1);
  return std::fabs(gx) + std::fabs(gy);
}

template <typename P>
double SobelSlope(const ImagePlane<P>& plane, int x, int y) {
  return SobelSlope(RowsAround<P>(plane, y), x);
}

double Median(std::vector<double>& values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  const auto middle = values.begin() + static_cast<long>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace

double SampleBicubic(const GrayImage& plane, double x, double y) { return SampleBicubicOf(plane, x, y); }

double SampleBilinear(const GrayImage& plane, double x, double y) { return SampleBilinearOf(plane, x, y); }

void BicubicOnGrid(const ColorGrayImage& frame0, const HrGeometry& grid, Plane (&planes)[3], SampleDepth depth) {
  const int w = frame0.Width();
  const int h = frame0.Height();
  for (int c = 0; c < 3; ++c) {
    planes[c] = Plane(grid.width, grid.height);
    ReadChannel(frame0, c, depth, [&](const auto& plane) {
      for (int i = 0; i < grid.height; ++i) {
        const CubicTaps ty = MakeCubicTaps((i + grid.y0) / grid.scale, h);
        for (int j = 0; j < grid.width; ++j) {
          const CubicTaps tx = MakeCubicTaps((j + grid.x0) / grid.scale, w);
          double v = 0.0;
          for (int b = 0; b < 4; ++b) {
            const auto* row = plane.Row(ty.index[b]);
            double across = 0.0;
            for (int a = 0; a < 4; ++a) across += tx.weight[a] * static_cast<double>(row[tx.index[a]]);
            v += ty.weight[b] * across;
          }
          planes[c].At(j, i) = v;
        }
      }
    });
  }
}

namespace {

// Robust straight-line fit value = a * reference + b: least squares reweighted a few times
// by the Cauchy weight of each residual over its median absolute size, so that what moved
// or is occluded in one of the two does not pull the line.
void FitLine(const std::vector<double>& reference, const std::vector<double>& value, bool gain, double& a, double& b) {
  constexpr int kRounds = 4;
  a = 1.0;
  b = 0.0;
  std::vector<double> residual(value.size());
  std::vector<double> weight(value.size(), 1.0);
  for (int round = 0; round < kRounds; ++round) {
    double sw = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (size_t i = 0; i < value.size(); ++i) {
      const double w = weight[i];
      sw += w;
      sx += w * reference[i];
      sy += w * value[i];
      sxx += w * reference[i] * reference[i];
      sxy += w * reference[i] * value[i];
    }
    const double det = sw * sxx - sx * sx;
    if (!gain || !(sw > 0.0) || !(std::fabs(det) > 1e-9 * sw * sw)) {
      a = 1.0;  // no spread to fit a gain to: the offset alone
      b = sw > 0.0 ? (sy - sx) / sw : 0.0;
    } else {
      a = (sw * sxy - sx * sy) / det;
      b = (sy - a * sx) / sw;
    }
    for (size_t i = 0; i < value.size(); ++i) residual[i] = std::fabs(value[i] - a * reference[i] - b);
    std::vector<double> sorted = residual;
    const double scale = std::max(1.0, 1.4826 * Median(sorted));
    for (size_t i = 0; i < value.size(); ++i) {
      const double q = residual[i] / (2.0 * scale);
      weight[i] = 1.0 / (1.0 + q * q);
    }
  }
}

}  // namespace

namespace {

// Frame k's line from frame 0's levels to its own, per channel (the identity where it is steady).
void MatchFrame(const ObservationModel& model, const ColorGrayImage& frame0, double noise, SampleDepth depth, int k,
                std::array<Photometry, 3>& map) {
  const size_t begin = model.FrameBegin(k);
  const size_t end = model.FrameEnd(k);
  if (begin == end) return;
  // Frame 0 at every observation's reference position, the three channels at once.
  std::vector<double> references[3];
  for (std::vector<double>& r : references) r.reserve(end - begin);
  for (size_t o = begin; o < end; ++o) {
    double x = 0.0;
    double y = 0.0;
    model.ReferencePosition(o, x, y);
    double v[3];
    SampleBicubicColour(frame0, depth, x, y, v);
    for (int c = 0; c < 3; ++c) references[c].push_back(v[c]);
  }
  for (int c = 0; c < 3; ++c) {
    const std::vector<double>& reference = references[c];
    const std::vector<double> value(model.Values(c).begin() + static_cast<std::ptrdiff_t>(begin),
                                    model.Values(c).begin() + static_cast<std::ptrdiff_t>(end));
    double mean = 0.0;
    for (double r : reference) mean += r;
    mean /= static_cast<double>(reference.size());
    double spread = 0.0;
    for (double r : reference) spread += (r - mean) * (r - mean);
    spread = std::sqrt(spread / static_cast<double>(reference.size()));
    double a = 1.0;
    double b = 0.0;
    FitLine(reference, value, spread > kGainSignal * noise, a, b);
    // The change at frame 0's mean level: a steady camera's frames are left alone.
    const bool steady =
        std::fabs(a - 1.0) < kPhotometryGainStep && std::fabs((a - 1.0) * mean + b) < kPhotometryOffsetStep;
    if (!steady && std::fabs(a) > 0.1) map[static_cast<size_t>(c)] = {1.0 / a, -b / a};
  }
}

}  // namespace

std::vector<std::array<Photometry, 3>> MatchPhotometry(const ObservationModel& model, const ColorGrayImage& frame0,
                                                       double noise, SampleDepth depth) {
  const int frames = model.FrameCount();
  std::vector<std::array<Photometry, 3>> maps(static_cast<size_t>(std::max(frames, 0)));
  // Each frame's fit is its own: the frames run on the thread pool.
  const long perFrame = 150L * static_cast<long>(model.ObservationCount() / static_cast<size_t>(std::max(1, frames)));
  ParallelFor(1, std::max(frames, 1), perFrame, [&](int first, int last) {
    for (int k = first; k < last; ++k) MatchFrame(model, frame0, noise, depth, k, maps[static_cast<size_t>(k)]);
  });
  return maps;
}

void ApplyPhotometry(const std::vector<std::array<Photometry, 3>>& maps, std::vector<ColorGrayImage>& frames) {
  for (size_t k = 0; k < frames.size() && k < maps.size(); ++k) {
    // The deep planes are shared with the frames given: a changed frame gets its own.
    std::shared_ptr<DeepPlanes> deep;
    for (int c = 0; c < 3; ++c) {
      const Photometry& m = maps[k][static_cast<size_t>(c)];
      if (m.gain == 1.0 && m.offset == 0.0) continue;
      GrayImage& plane = frames[k].channels[static_cast<size_t>(c)];
      if (frames[k].deep && !deep) deep = std::make_shared<DeepPlanes>(*frames[k].deep);
      for (int y = plane.FirstRow(); y < plane.FirstRow() + plane.HeldRows(); ++y) {
        uint8_t* row = plane.Row(y);
        if (deep) {
          // Unrounded at depth (beyond 0 .. 255 only for floating-point files, whose range
          // is the scene's); the 8-bit channel stays those values rounded and clamped.
          float* level = deep->channels[c].Row(y);
          const double low = deep->floatSamples ? -HUGE_VAL : 0.0;
          const double high = deep->floatSamples ? HUGE_VAL : 255.0;
          for (int x = 0; x < plane.Width(); ++x) {
            const double v = std::clamp(m.gain * level[x] + m.offset, low, high);
            level[x] = static_cast<float>(v);
            row[x] = static_cast<uint8_t>(std::floor(std::clamp(v, 0.0, 255.0) + 0.5));
          }
          continue;
        }
        for (int x = 0; x < plane.Width(); ++x) {
          row[x] = static_cast<uint8_t>(std::clamp(std::floor(m.gain * row[x] + m.offset + 0.5), 0.0, 255.0));
        }
      }
    }
    if (deep) frames[k].deep = std::move(deep);
  }
}

double EstimateNoise(const ColorGrayImage& frame0, const HrGeometry& grid, SampleDepth depth) {
  // Frame 0's pixels under the grid, one pixel in from the frame's edge.
  const int x0 = std::max(1, static_cast<int>(std::floor(grid.x0 / grid.scale)));
  const int y0 = std::max(1, static_cast<int>(std::floor(grid.y0 / grid.scale)));
  const int x1 = std::min(frame0.Width() - 2, static_cast<int>(std::ceil((grid.x0 + grid.width) / grid.scale)));
  const int y1 = std::min(frame0.Height() - 2, static_cast<int>(std::ceil((grid.y0 + grid.height) / grid.scale)));
  std::vector<double> responses;
  std::vector<double> slopes;
  for (int c = 0; c < 3; ++c) {
    ReadChannel(frame0, c, depth, [&](const auto& plane) {
      for (int y = y0; y <= y1; ++y) {
        const RowsAround rows(plane, y);
        for (int x = x0; x <= x1; ++x) {
          // The 3 x 3 mask [1 -2 1; -2 4 -2; 1 -2 1] cancels planes and ramps; on noise of sigma
          // s it gives a normal value of sigma 6 s. The Sobel slopes, odd where the mask is
          // even, are independent of it on noise and pick the flat places to measure on.
          const double r = rows.Up(x - 1) - 2 * rows.Up(x) + rows.Up(x + 1) -
                           2 * (rows.Mid(x - 1) - 2 * rows.Mid(x) + rows.Mid(x + 1)) + rows.Down(x - 1) -
                           2 * rows.Down(x) + rows.Down(x + 1);
          responses.push_back(std::fabs(r));
          slopes.push_back(SobelSlope(rows, x));
        }
      }
    });
  }
  std::vector<double> sorted = slopes;
  const double flat = Median(sorted);
  std::vector<double> flatResponses;
  for (size_t i = 0; i < responses.size(); ++i) {
    if (slopes[i] <= flat) flatResponses.push_back(responses[i]);
  }
  const double sigma = 1.4826 * Median(flatResponses) / 6.0;
  return std::isfinite(sigma) ? std::max(kNoiseFloor, sigma) : kNoiseFloor;
}

namespace {

// The bounding box of frame k's observed pixels, one pixel of border all round, and the
// place of observation o in it.
struct FrameBox {
  int u0 = 1 << 30;
  int v0 = 1 << 30;
  int width = 0;
  int height = 0;
  size_t At(int u, int v) const { return static_cast<size_t>(v - v0 + 1) * width + (u - u0 + 1); }
};

FrameBox BoxOf(const ObservationModel& model, int k) {
  FrameBox box;
  int u1 = -1;
  int v1 = -1;
  for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
    int u = 0;
    int v = 0;
    if (!model.FramePixel(o, u, v)) continue;
    box.u0 = std::min(box.u0, u);
    box.v0 = std::min(box.v0, v);
    u1 = std::max(u1, u);
    v1 = std::max(v1, v);
  }
  if (u1 >= box.u0) {
    box.width = u1 - box.u0 + 3;
    box.height = v1 - box.v0 + 3;
  }
  return box;
}

// Frame 0's channels averaged over 3 x 3 pixels (indices clamped).
// Frame 0's 3 x 3 means (neighbours clamped to the frame) in the rows frame 0 holds, from
// row `top`: means[c].At(x, y - top). Rows whose neighbours frame 0 does not hold stay 0
// (they lie beyond what the grid's observations sample).
void BoxMeans(const ColorGrayImage& frame0, SampleDepth depth, Plane (&means)[3], int& top) {
  const int w = frame0.Width();
  const int h = frame0.Height();
  const GrayImage& held = frame0.channels[0];
  top = held.FirstRow();
  const int end = held.FirstRow() + held.HeldRows();
  for (int c = 0; c < 3; ++c) {
    means[c] = Plane(w, held.HeldRows());
    ReadChannel(frame0, c, depth, [&](const auto& plane) {
      for (int y = top; y < end; ++y) {
        if ((y - 1 >= 0 && y - 1 < top) || (y + 1 < h && y + 1 >= end)) continue;
        for (int x = 0; x < w; ++x) {
          double sum = 0.0;
          for (int v = y - 1; v <= y + 1; ++v) {
            for (int u = x - 1; u <= x + 1; ++u) {
              sum += static_cast<double>(plane.Row(std::clamp(v, 0, h - 1))[std::clamp(u, 0, w - 1)]);
            }
          }
          means[c].At(x, y - top) = sum / 9.0;
        }
      }
    });
  }
}

double SampleBicubic(const Plane& plane, double x, double y) {
  return CubicSample(x, y, plane.width, plane.height, [&](int i, int j) { return plane.At(i, j); });
}

// How far frame k's observations differ from frame 0: its 3 x 3 local means (over the pixels
// it has) against frame 0's at the same positions, the RMS over the colours (difference),
// and frame 0's local range there (range). Means, because a single pixel next to an edge
// differs from a look-up in frame 0 by the aliasing both carry, which says nothing about
// motion; the mean of 3 x 3 pixels keeps little of it and a third of the noise.
void FrameDifferences(const ObservationModel& model, int k, const Plane (&means0)[3], int meansTop,
                      const ColorGrayImage& frame0, SampleDepth depth, std::vector<float>& difference,
                      std::vector<float>& range) {
  const FrameBox box = BoxOf(model, k);
  if (box.width == 0) return;
  std::vector<double> values[3];
  std::vector<char> seen(static_cast<size_t>(box.width) * box.height, 0);
  for (auto& v : values) v.assign(seen.size(), 0.0);
  for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
    int u = 0;
    int v = 0;
    if (!model.FramePixel(o, u, v)) continue;
    seen[box.At(u, v)] = 1;
    for (int c = 0; c < 3; ++c) values[c][box.At(u, v)] = model.Values(c)[o];
  }
  for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
    int u = 0;
    int v = 0;
    double x = 0.0;
    double y = 0.0;
    if (!model.FramePixel(o, u, v)) continue;
    model.ReferencePosition(o, x, y);
    double square = 0.0;
    double local = 0.0;
    for (int c = 0; c < 3; ++c) {
      double sum = 0.0;
      int n = 0;
      for (int dv = -1; dv <= 1; ++dv) {
        for (int du = -1; du <= 1; ++du) {
          const size_t i = box.At(u + du, v + dv);
          if (!seen[i]) continue;
          sum += values[c][i];
          ++n;
        }
      }
      const double d = sum / n - SampleBicubic(means0[c], x, y - meansTop);
      square += d * d;
      local = std::max(local, ReadChannel(frame0, c, depth, [&](const auto& plane) { return LocalRange(plane, x, y); }));
    }
    difference[o] = static_cast<float>(std::sqrt(square / 3.0));
    range[o] = static_cast<float>(local);
  }
}

// What frames 1 .. K - 1 typically differ from frame 0 by where frame 0 is flattest: the
// median difference of the observations in the lowest 1 / kAgreeFlatShare of local ranges.
// Nan when there are none; when those places are not flat, their range above kAgreeNoiseLike
// times that median (a difference that comes with the detail is the aliasing of a look-up,
// which the range term already allows for); or when the median is above kAgreeScene times
// the median local range (frames that differ from frame 0 by much of its contrast even
// where it is flat show another scene, or the same one misaligned, and must not make that
// agreement).
double TypicalFlatDifference(const ObservationModel& model, const std::vector<float>& difference,
                             const std::vector<float>& range) {
  std::vector<std::pair<float, float>> byRange;
  for (size_t o = model.FrameEnd(0); o < model.ObservationCount(); ++o) {
    if (std::isfinite(difference[o])) byRange.emplace_back(range[o], difference[o]);
  }
  const size_t flatCount = byRange.size() / kAgreeFlatShare;
  if (flatCount == 0) return std::numeric_limits<double>::quiet_NaN();
  const auto half = byRange.begin() + static_cast<long>(byRange.size() / 2);
  std::nth_element(byRange.begin(), half, byRange.end());
  const float medianRange = half->first;
  std::nth_element(byRange.begin(), byRange.begin() + static_cast<long>(flatCount), half);
  std::vector<float> flat;
  for (size_t i = 0; i < flatCount; ++i) flat.push_back(byRange[i].second);
  const auto middle = flat.begin() + static_cast<long>(flat.size() / 2);
  std::nth_element(flat.begin(), middle, flat.end());
  const bool noiseLike = byRange[flatCount].first <= kAgreeNoiseLike * *middle;
  return noiseLike && *middle <= kAgreeScene * medianRange ? *middle : std::numeric_limits<double>::quiet_NaN();
}

// Each observation's weight becomes the least of its own and those of the observations from
// the 8 neighbouring pixels of its frame: the blurred fringe of something that moved agrees
// nearly with frame 0 but belongs to what disagrees next to it.
void ErodeWithinFrame(const ObservationModel& model, int k, std::vector<float>& weights) {
  const FrameBox box = BoxOf(model, k);
  if (box.width == 0) return;
  std::vector<float> map(static_cast<size_t>(box.width) * box.height, 1.0f);
  for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
    int u = 0;
    int v = 0;
    if (model.FramePixel(o, u, v)) map[box.At(u, v)] = weights[o];
  }
  for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
    int u = 0;
    int v = 0;
    if (!model.FramePixel(o, u, v)) continue;
    float least = 1.0f;
    for (int dv = -1; dv <= 1; ++dv) {
      for (int du = -1; du <= 1; ++du) least = std::min(least, map[box.At(u + du, v + dv)]);
    }
    weights[o] = least;
  }
}

}  // namespace

std::vector<float> AgreementWeights(const ObservationModel& model, const ColorGrayImage& frame0, double noise,
                                    SampleDepth depth) {
  std::vector<float> weights(model.ObservationCount(), 1.0f);
  Plane means0[3];
  int meansTop = 0;
  BoxMeans(frame0, depth, means0, meansTop);
  // Observations without their frame pixel keep weight 1.
  std::vector<float> difference(model.ObservationCount(), std::numeric_limits<float>::quiet_NaN());
  std::vector<float> range(model.ObservationCount(), 0.0f);
  // Each frame writes only its own observations' entries: the frames run on the thread pool.
  const long perFrame =
      120L * static_cast<long>(model.ObservationCount() / static_cast<size_t>(std::max(1, model.FrameCount())));
  ParallelFor(1, std::max(1, model.FrameCount()), perFrame, [&](int first, int last) {
    for (int k = first; k < last; ++k) FrameDifferences(model, k, means0, meansTop, frame0, depth, difference, range);
  });
  // The noise of a 3 x 3 mean, or what the frames differ by where frame 0 is flat when that
  // is clearly more (compression, and noise that frame 0's own flat places hide).
  double spread = noise / 3.0;
  const double typical = TypicalFlatDifference(model, difference, range);
  if (std::isfinite(typical)) spread = std::max(spread, typical / kAgreeTypical);
  ParallelFor(1, std::max(1, model.FrameCount()), perFrame / 4, [&](int first, int last) {
    for (int k = first; k < last; ++k) {
      for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
        if (!std::isfinite(difference[o])) continue;
        const double t2 =
            kAgreeNoise * kAgreeNoise * spread * spread + kAgreeDetail * kAgreeDetail * range[o] * range[o];
        const double q2 = static_cast<double>(difference[o]) * difference[o] / t2;
        weights[o] = static_cast<float>(1.0 / (1.0 + q2 * q2));
      }
      ErodeWithinFrame(model, k, weights);
    }
  });
  return weights;
}

std::vector<double> AgreementShares(const ObservationModel& model, const std::vector<float>& weights) {
  return model.FrameMeans([&](size_t o) { return static_cast<double>(weights[o]); });
}

Plane AgreementMap(const ObservationModel& model, const std::vector<float>& weights) {
  std::vector<double> agree(model.ObservationCount(), 0.0);
  std::vector<double> own(model.ObservationCount(), 0.0);
  for (size_t o = 0; o < model.ObservationCount(); ++o) {
    (o < model.FrameEnd(0) ? own : agree)[o] = o < model.FrameEnd(0) ? 1.0 : weights[o];
  }
  Plane sum;
  Plane reference;
  Plane splat;
  // Shares of observations, spread by weights that are never negative.
  model.Splat(agree, splat, SampleKernel::Bilinear);
  BlurZero(splat, model.Taps(), sum);
  model.Splat(own, splat, SampleKernel::Bilinear);
  BlurZero(splat, model.Taps(), reference);
  Plane support(sum.width, sum.height);
  for (size_t i = 0; i < sum.v.size(); ++i) support.v[i] = reference.v[i] > 1e-9 ? sum.v[i] / reference.v[i] : 0.0;
  return support;
}

double SupportShare(double support) {
  return std::clamp((support - kSupportLow) / (kSupportHigh - kSupportLow), 0.0, 1.0);
}

std::vector<double> FrameWeightsFromResiduals(const std::vector<double>& residuals) {
  std::vector<double> finite;
  for (double r : residuals) {
    if (std::isfinite(r)) finite.push_back(r);
  }
  std::vector<double> weights(residuals.size(), 0.0);
  if (finite.empty()) return weights;
  const auto middle = finite.begin() + static_cast<long>(finite.size() / 2);
  std::nth_element(finite.begin(), middle, finite.end());
  const double median = *middle;
  for (size_t k = 0; k < residuals.size(); ++k) {
    const double r = residuals[k];
    if (!std::isfinite(r)) continue;
    if (r <= kFrameTrust * median) {
      weights[k] = 1.0;
    } else if (r <= kFrameReject * median) {
      const double q = kFrameTrust * median / r;
      weights[k] = q * q;
    }
  }
  return weights;
}

}  // namespace lumet

namespace lumet {

double TemporalNoise(const ObservationModel& model, const ColorGrayImage& frame0, SampleDepth depth) {
  const int w = frame0.Width();
  const int h = frame0.Height();
  // Frames may hold only the rows under the grid.
  const int top = frame0.channels[0].FirstRow();
  const int bottom = top + frame0.channels[0].HeldRows();
  // Frame 0's slope (Sobel, summed over channels) summed over 7 x 7 pixels: a window wide
  // enough that one pixel's noise barely moves which windows count as flat.
  std::vector<double> slope(static_cast<size_t>(w) * h, 0.0);
  for (int c = 0; c < 3; ++c) {
    ReadChannel(frame0, c, depth, [&](const auto& plane) {
      for (int y = top + 1; y + 1 < bottom; ++y) {
        for (int x = 1; x + 1 < w; ++x) slope[static_cast<size_t>(y) * w + x] += SobelSlope(plane, x, y);
      }
    });
  }
  constexpr int kReach = 3;
  std::vector<double> window(slope.size(), HUGE_VAL);
  for (int y = top + kReach + 1; y + kReach + 1 < bottom; ++y) {
    for (int x = kReach + 1; x + kReach + 1 < w; ++x) {
      double sum = 0.0;
      for (int dy = -kReach; dy <= kReach; ++dy) {
        for (int dx = -kReach; dx <= kReach; ++dx) sum += slope[static_cast<size_t>(y + dy) * w + x + dx];
      }
      window[static_cast<size_t>(y) * w + x] = sum;
    }
  }
  const auto windowAt = [&](double x, double y) {
    const int cx = std::clamp(static_cast<int>(std::lround(x)), 0, w - 1);
    const int cy = std::clamp(static_cast<int>(std::lround(y)), 0, h - 1);
    return window[static_cast<size_t>(cy) * w + cx];
  };
  // The flattest quarter of the windows under frame 0's own observations.
  std::vector<double> seen;
  for (size_t o = model.FrameBegin(0); o < model.FrameEnd(0); ++o) {
    double x = 0.0;
    double y = 0.0;
    model.ReferencePosition(o, x, y);
    if (const double v = windowAt(x, y); std::isfinite(v)) seen.push_back(v);
  }
  if (seen.empty() || model.FrameCount() < 2) return std::numeric_limits<double>::quiet_NaN();
  const auto quarter = seen.begin() + static_cast<long>(seen.size() / 4);
  std::nth_element(seen.begin(), quarter, seen.end());
  const double flat = *quarter;
  // Per frame, so that a frame registered wrongly, or one a moving object crosses, counts
  // as one frame among the others; the frames on the thread pool, each into its own slot.
  const int frames = model.FrameCount();
  std::vector<double> readings(static_cast<size_t>(frames), 0.0);
  std::vector<char> read(static_cast<size_t>(frames), 0);
  const auto reading = [&](int k, std::vector<double>& differences) {
    differences.clear();
    for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
      double x = 0.0;
      double y = 0.0;
      model.ReferencePosition(o, x, y);
      if (!(windowAt(x, y) <= flat)) continue;
      // The difference carries the frame's noise and frame 0's as the cubic look-up passes
      // it on (the sum of its squared weights).
      double wx[4];
      double wy[4];
      CubicWeights(x - std::floor(x), wx);
      CubicWeights(y - std::floor(y), wy);
      double sx = 0.0;
      double sy = 0.0;
      for (int i = 0; i < 4; ++i) {
        sx += wx[i] * wx[i];
        sy += wy[i] * wy[i];
      }
      const double spread = std::sqrt(1.0 + sx * sy);
      double v[3];
      SampleBicubicColour(frame0, depth, x, y, v);
      for (int c = 0; c < 3; ++c) differences.push_back(std::fabs(model.Values(c)[o] - v[c]) / spread);
    }
    if (differences.size() < kTemporalLeast) return;
    readings[static_cast<size_t>(k)] = 1.4826 * Median(differences);
    read[static_cast<size_t>(k)] = 1;
  };
  const long work = static_cast<long>(model.FrameEnd(frames - 1) - model.FrameBegin(1)) / std::max(frames - 1, 1) * 60;
  ParallelFor(1, frames, work, [&](int first, int last) {
    std::vector<double> differences;
    for (int k = first; k < last; ++k) reading(k, differences);
  });
  std::vector<double> perFrame;
  for (int k = 1; k < frames; ++k) {
    if (read[static_cast<size_t>(k)] != 0) perFrame.push_back(readings[static_cast<size_t>(k)]);
  }
  return Median(perFrame);
}

}  // namespace lumet

namespace lumet {

double NoiseReading::Sigma() const {
  if (!std::isfinite(frames)) return frame0;
  return std::max(kNoiseFloor, std::min(frames, kFramesNoiseBound * frame0));
}

bool NoiseReading::Compressed() const {
  return frames > kCompressedNoise * frame0 && frames <= kFramesNoiseBound * frame0;
}

NoiseReading ReadNoise(const ObservationModel& model, const ColorGrayImage& frame0, const HrGeometry& grid,
                       SampleDepth depth) {
  NoiseReading reading;
  reading.frame0 = EstimateNoise(frame0, grid, depth);
  reading.frames = TemporalNoise(model, frame0, depth);
  return reading;
}

}  // namespace lumet

