#include "reconstruction/enhanced/forward_model.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "numeric/pixel_map.h"
#include "numeric/projection.h"
#include "reconstruction/enhanced/loops.h"
#include "reconstruction/psf_kernel.h"
#include "util/error.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// The adjugate stands in for the inverse. False when the map is singular.
bool InvertMap(const PixelMap& a, PixelMap& m) {
  const double det = Adjugate(a, m);
  return std::isfinite(det) && det != 0.0;
}

// Grid rows a band of the splat holds: enough work per band to hand to a thread, bands
// enough to share among them.
constexpr int kSplatBandRows = 16;

// The HR pixels a kernel weighs before and after an observation's cell pixel, per axis.
int SupportBefore(SampleKernel kernel) { return kernel == SampleKernel::Cubic ? 1 : 0; }
int SupportAfter(SampleKernel kernel) { return kernel == SampleKernel::Cubic ? 2 : 1; }

bool Apply(const PixelMap& m, double x, double y, double& u, double& v) {
  const double d = m.p[2][0] * x + m.p[2][1] * y + m.p[2][2];
  if (!(std::fabs(d) > 1e-12)) return false;
  u = (m.p[0][0] * x + m.p[0][1] * y + m.p[0][2]) / d;
  v = (m.p[1][0] * x + m.p[1][1] * y + m.p[1][2]) / d;
  return std::isfinite(u) && std::isfinite(v);
}

}  // namespace

std::vector<double> PsfTaps(double sigma, double scale) {
  const int n = PsfKernelSize(sigma, scale);
  const int h = (n - 1) / 2;
  const double sd = sigma * scale;
  std::vector<double> taps(static_cast<size_t>(n));
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double d = i - h;
    taps[static_cast<size_t>(i)] = std::exp(-d * d / (2.0 * sd * sd));
    sum += taps[static_cast<size_t>(i)];
  }
  for (double& t : taps) t /= sum;
  return taps;
}

template <class T>
void BlurZero(const PlaneOf<T>& source, const std::vector<T>& taps, PlaneOf<T>& target, PlaneOf<T>* work) {
  const int w = source.width;
  const int hgt = source.height;
  const int n = static_cast<int>(taps.size());
  const int h = n / 2;
  const size_t wide = static_cast<size_t>(w);
  // Neither plane is cleared up front: each row is, by the thread that fills it.
  std::unique_ptr<T[]> own;
  T* across = nullptr;
  if (work != nullptr) {
    work->Resize(w, hgt);
    across = work->v.data();
  } else {
    own.reset(new T[wide * static_cast<size_t>(hgt)]);
    across = own.get();
  }
  const long rowWork = static_cast<long>(w) * n;
  const detail::ModelLoops<T>& loops = detail::ActiveEnhancedLoops().Of<T>();
  ParallelFor(0, hgt, rowWork, [&](int first, int last) {
    for (int y = first; y < last; ++y) {
      loops.blurRow(&source.v[static_cast<size_t>(y) * wide], &across[static_cast<size_t>(y) * wide], w, taps.data(), n);
    }
  });
  target.Resize(w, hgt);
  ParallelFor(0, hgt, rowWork, [&](int first, int last) {
    for (int y = first; y < last; ++y) {
      const int lo = std::max(0, h - y);
      const int hi = std::min(n, hgt - y + h);
      // Row y - h + t is tap t's; only the taps whose rows lie inside add.
      loops.blurColumns(&across[static_cast<size_t>(y - h + lo) * wide], wide, &target.v[static_cast<size_t>(y) * wide],
                        w, taps.data() + lo, 0, hi - lo);
    }
  });
}

template void BlurZero(const Plane&, const std::vector<double>&, Plane&, Plane*);
template void BlurZero(const PlaneF&, const std::vector<float>&, PlaneF&, PlaneF*);

HrGeometry ExtendGeometry(const HrGeometry& grid, int margin) {
  HrGeometry g = grid;
  g.width += 2 * margin;
  g.height += 2 * margin;
  g.x0 -= margin;
  g.y0 -= margin;
  return g;
}

SampleKernel SampleKernelFor(double scale) { return scale < 2.5 ? SampleKernel::Cubic : SampleKernel::Bilinear; }

int EnhancedMargin(int tapCount, double scale) {
  return 2 * (tapCount / 2) + 1 + SupportAfter(SampleKernelFor(scale));
}

ObservationModel::ObservationModel(const HrGeometry& grid, std::vector<double> taps)
    : ObservationModel(grid, std::move(taps), SampleKernelFor(grid.scale)) {}

ObservationModel::ObservationModel(const HrGeometry& grid, std::vector<double> taps, SampleKernel kernel)
    : grid_(grid), taps_(std::move(taps)), kernel_(kernel), builtTaps_(taps_.size()) {}

void ObservationModel::SetTaps(std::vector<double> taps) {
  if (taps.size() > builtTaps_ || taps.size() % 2 == 0) throw Error("PSF taps wider than the model's grid allows");
  taps_ = std::move(taps);
}

void ObservationModel::AddObservation(int x, int y, double fx, double fy, const double value[3], int u, int v) {
  const int before = SupportBefore(kernel_);
  const int after = SupportAfter(kernel_);
  if (x < before || y < before || x + after >= grid_.width || y + after >= grid_.height) {
    throw Error("an observation's sampling kernel reaches off the grid");
  }
  const size_t first = static_cast<size_t>((y - before) / kSplatBandRows);
  const size_t last = static_cast<size_t>((y + after) / kSplatBandRows);
  if (bandObservations_.size() < last + 1) bandObservations_.resize(last + 1);
  const uint32_t o = static_cast<uint32_t>(index_.size());
  for (size_t band = first; band <= last; ++band) bandObservations_[band].push_back(o);
  index_.push_back(y * grid_.width + x);
  pixel_.push_back({u, v});
  fx_.push_back(static_cast<float>(fx));
  fy_.push_back(static_cast<float>(fy));
  for (int c = 0; c < 3; ++c) values_[c].push_back(value[c]);
}

void ObservationModel::TransformValues(const double (&m)[9]) {
  for (size_t o = 0; o < index_.size(); ++o) {
    const double v[3] = {values_[0][o], values_[1][o], values_[2][o]};
    for (size_t c = 0; c < 3; ++c) values_[c][o] = m[3 * c] * v[0] + m[3 * c + 1] * v[1] + m[3 * c + 2] * v[2];
  }
}

void ObservationModel::EndFrame() { frameStart_.push_back(index_.size()); }

namespace {

// One observation a frame gives, before it is added (AddObservation's arguments).
struct FoundObservation {
  int x;
  int y;
  double fx;
  double fy;
  double value[3];
  int u;
  int v;
};

// The observations of frame (AddFrame) on grid, in the order AddFrame adds them: the pixels
// whose model through taps of half width h and the kernel lies wholly inside the grid.
std::vector<FoundObservation> FindObservations(const HrGeometry& grid, int h, SampleKernel kernel,
                                               const ColorGrayImage& frame, const Matrix& homography,
                                               SampleDepth depth, const LocalMotion* motion) {
  std::vector<FoundObservation> found;
  // A frame read at more than 8 bits is observed at its own depth.
  const DeepPlanes* deep = depth == SampleDepth::Deep ? frame.deep.get() : nullptr;
  const PixelMap toFrame = PixelMapOf(homography);
  PixelMap toReference;
  const double s = grid.scale;
  // HR positions whose PSF and sampling support stay inside the grid.
  const double loX = h + SupportBefore(kernel);
  const double hiX = grid.width - h - SupportAfter(kernel);
  const double loY = h + SupportBefore(kernel);
  const double hiY = grid.height - h - SupportAfter(kernel);
  if (!InvertMap(toFrame, toReference) || !(hiX > loX && hiY > loY)) return found;
  // The frame pixels that can see the grid: the bounding box of its corners in the frame.
  double minU = 1e300;
  double minV = 1e300;
  double maxU = -1e300;
  double maxV = -1e300;
  for (int cy = 0; cy < 2; ++cy) {
    for (int cx = 0; cx < 2; ++cx) {
      const double rx = (grid.x0 + cx * (grid.width - 1)) / s;
      const double ry = (grid.y0 + cy * (grid.height - 1)) / s;
      double u = 0.0;
      double v = 0.0;
      if (!Apply(toFrame, rx, ry, u, v)) return found;
      minU = std::min(minU, u);
      maxU = std::max(maxU, u);
      minV = std::min(minV, v);
      maxV = std::max(maxV, v);
    }
  }
  const int u0 = static_cast<int>(std::max(0.0, std::floor(minU) - 1.0));
  const int v0 = static_cast<int>(std::max(0.0, std::floor(minV) - 1.0));
  const int u1 = static_cast<int>(std::min<double>(frame.Width() - 1, std::ceil(maxU) + 1.0));
  const int v1 = static_cast<int>(std::min<double>(frame.Height() - 1, std::ceil(maxV) + 1.0));
  for (int v = v0; v <= v1; ++v) {
    for (int u = u0; u <= u1; ++u) {
      double rx = 0.0;
      double ry = 0.0;
      if (!Apply(toReference, u, v, rx, ry)) continue;
      double ox = 0.0;
      double oy = 0.0;
      if (motion != nullptr && motion->Offset(u, v, ox, oy)) {
        rx += ox;
        ry += oy;
      }
      const double hx = rx * s - grid.x0;
      const double hy = ry * s - grid.y0;
      if (!(hx >= loX && hx < hiX && hy >= loY && hy < hiY)) continue;
      const int ix = static_cast<int>(std::floor(hx));
      const int iy = static_cast<int>(std::floor(hy));
      found.push_back({ix, iy, hx - ix, hy - iy,
                       {deep ? deep->channels[0].Row(v)[u] : static_cast<double>(frame.channels[0].Row(v)[u]),
                        deep ? deep->channels[1].Row(v)[u] : static_cast<double>(frame.channels[1].Row(v)[u]),
                        deep ? deep->channels[2].Row(v)[u] : static_cast<double>(frame.channels[2].Row(v)[u])},
                       u, v});
    }
  }
  return found;
}

// Frames found at once by AddFrames: their observations are held until they are added.
constexpr size_t kFramesFoundAtOnce = 8;

}  // namespace

size_t ObservationModel::AddFrame(const ColorGrayImage& frame, const Matrix& homography, SampleDepth depth,
                                  const LocalMotion* motion) {
  const std::vector<FoundObservation> found =
      FindObservations(grid_, static_cast<int>(taps_.size()) / 2, kernel_, frame, homography, depth, motion);
  for (const FoundObservation& f : found) AddObservation(f.x, f.y, f.fx, f.fy, f.value, f.u, f.v);
  EndFrame();
  return found.size();
}

void ObservationModel::AddFrames(const std::vector<FrameToAdd>& frames, SampleDepth depth) {
  const int h = static_cast<int>(taps_.size()) / 2;
  for (size_t first = 0; first < frames.size(); first += kFramesFoundAtOnce) {
    const size_t count = std::min(kFramesFoundAtOnce, frames.size() - first);
    std::vector<std::vector<FoundObservation>> found(count);
    ParallelFor(0, static_cast<int>(count), 1L << 20, [&](int lo, int hi) {
      for (int i = lo; i < hi; ++i) {
        const FrameToAdd& f = frames[first + static_cast<size_t>(i)];
        found[static_cast<size_t>(i)] = FindObservations(grid_, h, kernel_, *f.frame, *f.homography, depth, f.motion);
      }
    });
    for (const std::vector<FoundObservation>& frame : found) {
      for (const FoundObservation& f : frame) AddObservation(f.x, f.y, f.fx, f.fy, f.value, f.u, f.v);
      EndFrame();
    }
  }
}

void ObservationModel::Forward(const Plane& x, std::vector<double>& predicted, Plane& blurred, Plane* work) const {
  BlurZero(x, taps_, blurred, work);
  const size_t count = index_.size();
  predicted.resize(count);
  constexpr int kChunk = 4096;
  const int chunks = static_cast<int>((count + kChunk - 1) / kChunk);
  ParallelFor(0, chunks, 8L * kChunk, [&](int first, int last) {
    for (int c = first; c < last; ++c) {
      const size_t begin = static_cast<size_t>(c) * kChunk;
      const size_t end = std::min(count, begin + kChunk);
      Sample(blurred, begin, end, predicted.data() + begin);
    }
  });
}

template <class T>
void ObservationModel::Sample(const PlaneOf<T>& blurred, size_t begin, size_t end, T* out) const {
  const detail::ModelLoops<T>& loops = detail::ActiveEnhancedLoops().Of<T>();
  (kernel_ == SampleKernel::Cubic ? loops.sampleCubic : loops.sample)(
      blurred.v.data(), grid_.width, index_.data() + begin, fx_.data() + begin, fy_.data() + begin, end - begin, out);
}

template void ObservationModel::Sample(const Plane&, size_t, size_t, double*) const;
template void ObservationModel::Sample(const PlaneF&, size_t, size_t, float*) const;

void ObservationModel::ReferencePosition(size_t o, double& x, double& y) const {
  const int w = grid_.width;
  x = (index_[o] % w + fx_[o] + grid_.x0) / grid_.scale;
  y = (index_[o] / w + fy_[o] + grid_.y0) / grid_.scale;
}

void ObservationModel::Adjoint(const std::vector<double>& r, Plane& out, Plane& scatter, Plane* work) const {
  Splat(r, scatter);
  BlurZero(scatter, taps_, out, work);
}

template <class T>
void ObservationModel::Splat(const T* r, PlaneOf<T>& out, SampleKernel kernel) const {
  // The band lists hold the support of the model's own kernel, which the bilinear one's lies in.
  if (kernel == SampleKernel::Cubic && kernel_ != SampleKernel::Cubic) {
    throw Error("a bilinear model's observations cannot be spread by the cubic kernel");
  }
  const int w = grid_.width;
  out.Resize(grid_.width, grid_.height);
  T* b = out.v.data();
  const int bands = (grid_.height + kSplatBandRows - 1) / kSplatBandRows;
  const long perBand = static_cast<long>(index_.size() / static_cast<size_t>(std::max(1, bands))) * 8 + w;
  // Band by band: the observations of a band add into its rows alone, each pixel taking its
  // shares in observation order as a serial splat does, so the sums do not depend on the split.
  ParallelFor(0, bands, perBand, [&](int first, int last) {
    for (int band = first; band < last; ++band) {
      const int top = band * kSplatBandRows;
      const int bottom = std::min(grid_.height, top + kSplatBandRows);
      std::fill(b + static_cast<size_t>(top) * w, b + static_cast<size_t>(bottom) * w, T(0));
      if (static_cast<size_t>(band) >= bandObservations_.size()) continue;
      const std::vector<uint32_t>& listed = bandObservations_[static_cast<size_t>(band)];
      if (kernel == SampleKernel::Cubic) {
        detail::ActiveEnhancedLoops().Of<T>().splatCubic(b, w, index_.data(), fx_.data(), fy_.data(), r, listed.data(),
                                                 listed.size(), top, bottom);
        continue;
      }
      if (kernel_ == SampleKernel::Cubic) {
        // Bilinear weights over the cubic support's band lists: each of the cell's two rows
        // that lies in the band, as the bilinear model's splat forms them.
        for (const uint32_t o : listed) {
          const T wx[2] = {T(1.0) - fx_[o], fx_[o]};
          const T wy[2] = {T(1.0) - fy_[o], fy_[o]};
          const int y = index_[o] / w;
          for (int i = std::max(0, top - y); i < 2 && y + i < bottom; ++i) {
            T* p = b + index_[o] + i * w;
            const T v = r[o] * wy[i];
            p[0] += v * wx[0];
            p[1] += v * wx[1];
          }
        }
        continue;
      }
      // A cell's rows against the band's by its index alone: y >= top, y + 1 < bottom.
      const int firstCell = top * w;
      const int endCell = (bottom - 1) * w;
      for (const uint32_t o : listed) {
        const int cell = index_[o];
        T* p = b + cell;
        const T fx = fx_[o];
        const T fy = fy_[o];
        if (cell >= firstCell) {
          const T upper = r[o] * (T(1.0) - fy);
          p[0] += upper * (T(1.0) - fx);
          p[1] += upper * fx;
        }
        if (cell < endCell) {
          const T lower = r[o] * fy;
          p[w] += lower * (T(1.0) - fx);
          p[w + 1] += lower * fx;
        }
      }
    }
  });
}

template void ObservationModel::Splat(const double*, Plane&, SampleKernel) const;
template void ObservationModel::Splat(const float*, PlaneF&, SampleKernel) const;

}  // namespace lumet
