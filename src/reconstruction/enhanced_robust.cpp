#include "reconstruction/enhanced_robust.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numeric/cubic_kernel.h"

namespace lumet {

namespace {

// Frame 0's range (max - min) over the 3 x 3 pixels around the nearest one to (x, y).
double LocalRange(const GrayImage& plane, double x, double y) {
  const int cx = std::clamp(static_cast<int>(std::lround(x)), 0, plane.Width() - 1);
  const int cy = std::clamp(static_cast<int>(std::lround(y)), 0, plane.Height() - 1);
  int lo = 255;
  int hi = 0;
  for (int r = std::max(0, cy - 1); r <= std::min(plane.Height() - 1, cy + 1); ++r) {
    for (int c = std::max(0, cx - 1); c <= std::min(plane.Width() - 1, cx + 1); ++c) {
      lo = std::min<int>(lo, plane.Row(r)[c]);
      hi = std::max<int>(hi, plane.Row(r)[c]);
    }
  }
  return hi - lo;
}

double Median(std::vector<double>& values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  const auto middle = values.begin() + static_cast<long>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace

double SampleBilinear(const GrayImage& plane, double x, double y) {
  const double cx = std::clamp(x, 0.0, plane.Width() - 1.0);
  const double cy = std::clamp(y, 0.0, plane.Height() - 1.0);
  const int ix = std::min(static_cast<int>(cx), plane.Width() - 1);
  const int iy = std::min(static_cast<int>(cy), plane.Height() - 1);
  const int ix1 = std::min(ix + 1, plane.Width() - 1);
  const int iy1 = std::min(iy + 1, plane.Height() - 1);
  const double fx = cx - ix;
  const double fy = cy - iy;
  const double top = plane.Row(iy)[ix] + fx * (plane.Row(iy)[ix1] - plane.Row(iy)[ix]);
  const double bottom = plane.Row(iy1)[ix] + fx * (plane.Row(iy1)[ix1] - plane.Row(iy1)[ix]);
  return top + fy * (bottom - top);
}

void BicubicOnGrid(const ColorGrayImage& frame0, const HrGeometry& grid, Plane (&planes)[3]) {
  const int w = frame0.Width();
  const int h = frame0.Height();
  for (int c = 0; c < 3; ++c) {
    planes[c] = Plane(grid.width, grid.height);
    const GrayImage& plane = frame0.channels[static_cast<size_t>(c)];
    for (int i = 0; i < grid.height; ++i) {
      const CubicTaps ty = MakeCubicTaps((i + grid.y0) / grid.scale, h);
      for (int j = 0; j < grid.width; ++j) {
        const CubicTaps tx = MakeCubicTaps((j + grid.x0) / grid.scale, w);
        double v = 0.0;
        for (int b = 0; b < 4; ++b) {
          const uint8_t* row = plane.Row(ty.index[b]);
          double across = 0.0;
          for (int a = 0; a < 4; ++a) across += tx.weight[a] * row[tx.index[a]];
          v += ty.weight[b] * across;
        }
        planes[c].At(j, i) = v;
      }
    }
  }
}

std::vector<std::array<Photometry, 3>> MatchPhotometry(const ObservationModel& model) {
  const int frames = model.FrameCount();
  std::vector<std::array<Photometry, 3>> maps(static_cast<size_t>(std::max(frames, 0)));
  if (frames < 2 || model.FrameBegin(0) == model.FrameEnd(0)) return maps;
  const auto meanAndSpread = [&](int k, int c, double& mean, double& spread) {
    const std::vector<double>& v = model.Values(c);
    const size_t begin = model.FrameBegin(k);
    const size_t end = model.FrameEnd(k);
    double sum = 0.0;
    for (size_t o = begin; o < end; ++o) sum += v[o];
    mean = sum / static_cast<double>(end - begin);
    double square = 0.0;
    for (size_t o = begin; o < end; ++o) square += (v[o] - mean) * (v[o] - mean);
    spread = std::sqrt(square / static_cast<double>(end - begin));
  };
  for (int c = 0; c < 3; ++c) {
    double mean0 = 0.0;
    double spread0 = 0.0;
    meanAndSpread(0, c, mean0, spread0);
    for (int k = 1; k < frames; ++k) {
      if (model.FrameBegin(k) == model.FrameEnd(k)) continue;
      double mean = 0.0;
      double spread = 0.0;
      meanAndSpread(k, c, mean, spread);
      const double gain = spread > 1.0 && spread0 > 1.0 ? spread0 / spread : 1.0;
      const double offset = mean0 - gain * mean;
      // The change at the picture's mean level and at one spread from it.
      const bool steady = std::fabs(gain - 1.0) < kPhotometryGainStep && std::fabs(mean0 - mean) < kPhotometryOffsetStep;
      if (!steady) maps[static_cast<size_t>(k)][static_cast<size_t>(c)] = {gain, offset};
    }
  }
  return maps;
}

void ApplyPhotometry(const std::vector<std::array<Photometry, 3>>& maps, std::vector<ColorGrayImage>& frames) {
  for (size_t k = 0; k < frames.size() && k < maps.size(); ++k) {
    for (int c = 0; c < 3; ++c) {
      const Photometry& m = maps[k][static_cast<size_t>(c)];
      if (m.gain == 1.0 && m.offset == 0.0) continue;
      GrayImage& plane = frames[k].channels[static_cast<size_t>(c)];
      for (int y = 0; y < plane.Height(); ++y) {
        uint8_t* row = plane.Row(y);
        for (int x = 0; x < plane.Width(); ++x) {
          row[x] = static_cast<uint8_t>(std::clamp(std::floor(m.gain * row[x] + m.offset + 0.5), 0.0, 255.0));
        }
      }
    }
  }
}

double EstimateNoise(const ObservationModel& model, const ColorGrayImage& frame0) {
  const GrayImage& green = frame0.channels[1];
  const std::vector<double>& values = model.Values(1);
  std::vector<double> ranges;
  std::vector<double> differences;
  for (size_t o = model.FrameEnd(0); o < model.ObservationCount(); ++o) {
    double x = 0.0;
    double y = 0.0;
    model.ReferencePosition(o, x, y);
    ranges.push_back(LocalRange(green, x, y));
    differences.push_back(values[o] - SampleBilinear(green, x, y));
  }
  if (differences.empty()) return kNoiseFloor;
  std::vector<double> sorted = ranges;
  const double flat = Median(sorted);
  std::vector<double> flatDifferences;
  for (size_t i = 0; i < differences.size(); ++i) {
    if (ranges[i] <= flat) flatDifferences.push_back(std::fabs(differences[i]));
  }
  // 1.4826 turns a median absolute value into a normal sigma; a bilinear look-up keeps on
  // average 4/9 of frame 0's noise variance, so the difference has 13/9 of one frame's.
  const double sigma = 1.4826 * Median(flatDifferences) / std::sqrt(13.0 / 9.0);
  return std::isfinite(sigma) ? std::max(kNoiseFloor, sigma) : kNoiseFloor;
}

std::vector<float> AgreementWeights(const ObservationModel& model, const ColorGrayImage& frame0, double noise) {
  std::vector<float> weights(model.ObservationCount(), 1.0f);
  for (size_t o = model.FrameEnd(0); o < model.ObservationCount(); ++o) {
    double x = 0.0;
    double y = 0.0;
    model.ReferencePosition(o, x, y);
    double square = 0.0;
    double range = 0.0;
    for (int c = 0; c < 3; ++c) {
      const GrayImage& plane = frame0.channels[static_cast<size_t>(c)];
      const double d = model.Values(c)[o] - SampleBilinear(plane, x, y);
      square += d * d;
      range = std::max(range, LocalRange(plane, x, y));
    }
    const double t2 = kAgreeNoise * kAgreeNoise * noise * noise + kAgreeDetail * kAgreeDetail * range * range;
    const double q2 = square / 3.0 / t2;
    weights[o] = static_cast<float>(1.0 / (1.0 + q2 * q2));
  }
  return weights;
}

std::vector<double> AgreementShares(const ObservationModel& model, const std::vector<float>& weights) {
  std::vector<double> shares(static_cast<size_t>(model.FrameCount()), std::numeric_limits<double>::quiet_NaN());
  for (int k = 0; k < model.FrameCount(); ++k) {
    const size_t begin = model.FrameBegin(k);
    const size_t end = model.FrameEnd(k);
    if (begin == end) continue;
    double sum = 0.0;
    for (size_t o = begin; o < end; ++o) sum += weights[o];
    shares[static_cast<size_t>(k)] = sum / static_cast<double>(end - begin);
  }
  return shares;
}

Plane AgreementMap(const ObservationModel& model, const std::vector<float>& weights) {
  std::vector<double> agree(model.ObservationCount(), 0.0);
  std::vector<double> ones(model.ObservationCount(), 0.0);
  for (size_t o = model.FrameEnd(0); o < model.ObservationCount(); ++o) {
    agree[o] = weights[o];
    ones[o] = 1.0;
  }
  Plane sum;
  Plane count;
  model.Splat(agree, sum);
  model.Splat(ones, count);
  for (size_t i = 0; i < sum.v.size(); ++i) sum.v[i] = count.v[i] > 1e-9 ? sum.v[i] / count.v[i] : 0.0;
  return sum;
}

}  // namespace lumet
