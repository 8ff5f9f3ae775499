#include "reconstruction/frame_warp.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numeric/convolve.h"
#include "numeric/projection.h"
#include "numeric/roi_warp.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// HR pixel (c, r)'s sample of one channel at the projected point p.
inline double SampleAt(const GrayImage& source, const ProjectedPoint& p) {
  if (p.u >= 0.0 && p.v >= 0.0 && p.u < source.Width() && p.v < source.Height()) return source.SampleNonNegative(p.u, p.v);
  return 0.0;
}

inline ProjectedPoint HrPixelOnFrame(const Matrix& lrForm, const HrGeometry& grid, int c, int r) {
  return ProjectPoint(lrForm, static_cast<double>(c + grid.x0), static_cast<double>(r + grid.y0));
}

}  // namespace

void WarpToHrGrid(const ColorGrayImage& frame, const Matrix& lrForm, const HrGeometry& grid, ColorDoubleImage& layer) {
  const int gw = grid.width;
  const int gh = grid.height;
  for (auto& channel : layer.channels) channel.Create(gw, gh);
  // The projection does not depend on the channel: one projection per HR pixel serves all
  // three, each with its own channel's range test.
  ParallelFor(0, gh, 40L * gw, [&](int lo, int hi) {
    for (int r = lo; r < hi; ++r) {
      for (int c = 0; c < gw; ++c) {
        const ProjectedPoint p = HrPixelOnFrame(lrForm, grid, c, r);
        for (int ch = 0; ch < 3; ++ch) {
          layer.channels[static_cast<size_t>(ch)].Row(r)[c] = SampleAt(frame.channels[static_cast<size_t>(ch)], p);
        }
      }
    }
  });
}

void WarpToHrGrid(const GrayImage& channel, const Matrix& lrForm, const HrGeometry& grid, DoubleImage& plane) {
  const int gw = grid.width;
  plane.Create(gw, grid.height);
  // The vector row warp forms every value with the operations of the scalar loop. It
  // addresses rows from the first, so a plane that holds a band of rows takes the loop.
  const detail::RoiWarpKernels* const kernels = channel.HoldsAllRows() ? detail::ActiveRoiWarp() : nullptr;
  const double entries[9] = {lrForm.At1(1, 1), lrForm.At1(1, 2), lrForm.At1(1, 3), lrForm.At1(2, 1), lrForm.At1(2, 2),
                             lrForm.At1(2, 3), lrForm.At1(3, 1), lrForm.At1(3, 2), lrForm.At1(3, 3)};
  ParallelFor(0, grid.height, 20L * gw, [&](int lo, int hi) {
    for (int r = lo; r < hi; ++r) {
      double* out = plane.Row(r);
      if (kernels != nullptr) {
        kernels->bytes(channel.Pixels(), channel.Stride(), channel.Width(), channel.Height(), entries,
                       static_cast<double>(grid.x0), static_cast<double>(r + grid.y0), gw, out);
      } else {
        for (int c = 0; c < gw; ++c) out[c] = SampleAt(channel, HrPixelOnFrame(lrForm, grid, c, r));
      }
    }
  });
}

void WarpToHrGridScalar(const GrayImage& channel, const Matrix& lrForm, const HrGeometry& grid, DoubleImage& plane) {
  plane.Create(grid.width, grid.height);
  for (int r = 0; r < grid.height; ++r) {
    for (int c = 0; c < grid.width; ++c) plane.Row(r)[c] = SampleAt(channel, HrPixelOnFrame(lrForm, grid, c, r));
  }
}

double FrameMae(const ColorDoubleImage& layer0, const ColorDoubleImage& layerK) {
  return FrameMae(layer0.channels[1], layerK.channels[1]);
}

double FrameMae(const DoubleImage& reference, const DoubleImage& warped) {
  long m = 0;
  double sum = 0.0;
  for (int r = 0; r < warped.Height(); ++r) {
    const double* a = reference.Row(r);
    const double* b = warped.Row(r);
    for (int c = 0; c < warped.Width(); ++c) {
      if (b[c] > 0.0) {
        ++m;
        sum += std::fabs(a[c] - b[c]);
      }
    }
  }
  if (m == 0) return std::numeric_limits<double>::quiet_NaN();
  return sum / static_cast<double>(m);
}

SelectionThreshold ComputeSelectionThreshold(const std::vector<double>& mae) {
  std::vector<double> sorted = mae;
  std::sort(sorted.begin(), sorted.end(), [](double a, double b) {
    if (std::isnan(a)) return false;
    if (std::isnan(b)) return true;
    return a < b;
  });
  SelectionThreshold t;
  t.index = static_cast<int>(std::floor(static_cast<double>(mae.size()) * 0.9));
  t.value = sorted[static_cast<size_t>(t.index)];
  return t;
}

int SelectedFrameCount(const std::vector<double>& mae, double threshold) {
  const int n = static_cast<int>(mae.size());
  if (n == 0) return 0;
  int k = 1;
  while (k < n && !(mae[static_cast<size_t>(k)] > threshold) && !std::isnan(mae[static_cast<size_t>(k)])) ++k;
  return k;
}

}  // namespace lumet
