#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/enhanced/local_motion.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// The enhanced method's forward model: every LR pixel of every frame is an observation of
// the HR estimate through that frame's own homography, the Gaussian PSF and the decimation.
// The estimate minimises a smoothed L1 data term through it plus a smoothed
// bilateral-total-variation regulariser (backend.h), by limited-memory quasi-Newton steps
// (minimiser.h), starting from the median estimate (solver.h).

// A plane of samples, row-major, no padding: the working images of the enhanced method,
// in double (Plane), or in float for the single-precision backend's inner evaluation.
template <class T>
struct PlaneOf {
  int width = 0;
  int height = 0;
  std::vector<T> v;

  PlaneOf() = default;
  PlaneOf(int w, int h, T value = 0) : width(w), height(h), v(static_cast<size_t>(w) * h, value) {}
  T& At(int x, int y) { return v[static_cast<size_t>(y) * width + x]; }
  T At(int x, int y) const { return v[static_cast<size_t>(y) * width + x]; }
  // Sized w x h; the values are left as they are when the size is already that.
  void Resize(int w, int h) {
    width = w;
    height = h;
    v.resize(static_cast<size_t>(w) * h);
  }
};
using Plane = PlaneOf<double>;
using PlaneF = PlaneOf<float>;

// Normalised 1-D Gaussian taps of standard deviation sigma * scale HR pixels, as many as
// the PSF kernel of that sigma and scale has per side (PsfKernelSize).
std::vector<double> PsfTaps(double sigma, double scale);

// Separable correlation with taps (odd count, centred) in both directions, zero outside
// the plane. With symmetric taps the operation is its own adjoint. work, when given, holds
// the pass across the rows (kept from call to call, so that none allocates).
template <class T>
void BlurZero(const PlaneOf<T>& source, const std::vector<T>& taps, PlaneOf<T>& target, PlaneOf<T>* work = nullptr);

// The HR grid of the ROI grown by `margin` HR pixels on every side.
HrGeometry ExtendGeometry(const HrGeometry& grid, int margin);

// How the model samples the blurred estimate between HR pixels.
enum class SampleKernel {
  Bilinear,  // the 2 x 2 pixels around the position
  Cubic,     // the 4 x 4, by cubic convolution (Keys' kernel, a = -1/2)
};

// The kernel the enhanced method samples with at a scale. Bilinear sampling blurs by its
// own, by up to a quarter of an HR pixel squared halfway between pixels and not at all on
// them: at x2 that is a sixteenth of an LR pixel squared, as much as a sharp camera's whole
// blur, and it varies with each frame's phase. The held-out frames then favour a PSF too
// wide, whose estimate rims the edges (a burst made from a camera raw file, whose pixels are
// box means: 29.1 dB through the 0.45 they chose, 37.7 through the 0.36 they choose with
// cubic sampling, bicubic 34.8), and through any PSF the estimate fits the frames less well
// (photo clips told their camera's blur: +0.2 to +1.2 dB by cubic sampling). So x2 samples
// by cubic convolution (42 held-back sequences made at x2: +0.41 dB on average, 34 better,
// the worst -0.29). At x3 and x4 bilinear sampling's blur is at most 1/36 and 1/64 of
// an LR pixel squared, and cubic sampling measured no better (42 held-back x3 sequences:
// -0.02 dB on average, single ones -1.5 to +0.6) at twice the iteration's cost.
SampleKernel SampleKernelFor(double scale);

// Margin (HR pixels) the estimate needs around the ROI so that every observation that
// sees an ROI pixel is modelled without reaching the grid's edge: twice the PSF's half
// width plus the support of the sampling kernel at that scale (SampleKernelFor).
int EnhancedMargin(int tapCount, double scale);

// All observations of all frames on one (extended) HR grid. Observation o of a frame is
// its LR pixel (u, v), modelled as the PSF-blurred estimate sampled (bilinearly or by cubic
// convolution) at the HR position of the reference point that the frame's homography takes
// to (u, v).
class ObservationModel {
 public:
  // Sampling by SampleKernelFor(grid.scale).
  ObservationModel(const HrGeometry& grid, std::vector<double> taps);
  ObservationModel(const HrGeometry& grid, std::vector<double> taps, SampleKernel kernel);

  // Adds every pixel of frame whose model lies wholly inside the grid. homography maps
  // reference-frame positions to the frame's positions (ProjectPoint convention). Returns
  // the number of observations added (0 when the frame does not see the grid or the
  // homography cannot be inverted). The values are the frame's deep planes' when depth is
  // Deep and it has them, its 8-bit channels' otherwise. motion, when given, moves the
  // pixels that move on their own (local_motion.h) by their offsets.
  size_t AddFrame(const ColorGrayImage& frame, const Matrix& homography, SampleDepth depth = SampleDepth::Bits8,
                  const LocalMotion* motion = nullptr);
  // A frame for AddFrames: its homography and its motion, when given (AddFrame).
  struct FrameToAdd {
    const ColorGrayImage* frame;
    const Matrix* homography;
    const LocalMotion* motion = nullptr;
  };
  // AddFrame of each frame in turn, the same observations in the same order; the frames'
  // pixels are placed on the thread pool, a few frames at a time.
  void AddFrames(const std::vector<FrameToAdd>& frames, SampleDepth depth = SampleDepth::Bits8);

  int FrameCount() const { return static_cast<int>(frameStart_.size()) - 1; }
  size_t ObservationCount() const { return index_.size(); }
  size_t FrameBegin(int k) const { return frameStart_[static_cast<size_t>(k)]; }
  size_t FrameEnd(int k) const { return frameStart_[static_cast<size_t>(k) + 1]; }
  int GridWidth() const { return grid_.width; }
  int GridHeight() const { return grid_.height; }
  SampleKernel Kernel() const { return kernel_; }
  const std::vector<double>& Taps() const { return taps_; }
  // Models the observations through other PSF taps: no more of them than the model was
  // built with, whose support decided which observations fit inside the grid.
  void SetTaps(std::vector<double> taps);
  // Observed values of channel c (0 red, 1 green, 2 blue), in observation order.
  const std::vector<double>& Values(int c) const { return values_[static_cast<size_t>(c)]; }

  // predicted[o] = (PSF * x) sampled at observation o. `blurred` (and `work`) are scratch.
  void Forward(const Plane& x, std::vector<double>& predicted, Plane& blurred, Plane* work = nullptr) const;
  // out[o - begin] = blurred (PSF * x, the grid's size) sampled at observation o, for o in
  // [begin, end): the second half of Forward.
  template <class T>
  void Sample(const PlaneOf<T>& blurred, size_t begin, size_t end, T* out) const;
  // out = the adjoint of Forward applied to r (out is re-created). `scatter` (and `work`) are
  // scratch.
  void Adjoint(const std::vector<double>& r, Plane& out, Plane& scatter, Plane* work = nullptr) const;
  // out = r spread onto the grid by the sampling kernel's weights alone (no PSF), or by the
  // bilinear weights when kernel says so (a bilinear model's by the cubic ones: lumet::Error);
  // re-created. Each pixel takes its observations' shares in observation order, whatever
  // the threads.
  void Splat(const std::vector<double>& r, Plane& out) const { Splat(r, out, kernel_); }
  void Splat(const std::vector<double>& r, Plane& out, SampleKernel kernel) const { Splat(r.data(), out, kernel); }
  template <class T>
  void Splat(const T* r, PlaneOf<T>& out, SampleKernel kernel) const;
  // The reference-frame LR position of observation o.
  void ReferencePosition(size_t o, double& x, double& y) const;
  // Observation o's cell: the HR pixel (x, y) at or before its position and the fractions
  // towards the next pixel across and down, as Forward samples them (the bilinear kernel
  // weighs x .. x + 1 and y .. y + 1, the cubic one x - 1 .. x + 2 and y - 1 .. y + 2).
  void Cell(size_t o, int& x, int& y, double& fx, double& fy) const {
    x = index_[o] % grid_.width;
    y = index_[o] / grid_.width;
    fx = fx_[o];
    fy = fy_[o];
  }

  // Per frame, the mean of value(o) over its observations o, summed in observation order
  // (not a number for a frame without observations).
  template <typename Value>
  std::vector<double> FrameMeans(Value value) const {
    std::vector<double> means(static_cast<size_t>(FrameCount()), std::numeric_limits<double>::quiet_NaN());
    for (int k = 0; k < FrameCount(); ++k) {
      const size_t begin = FrameBegin(k);
      const size_t end = FrameEnd(k);
      if (begin == end) continue;
      double sum = 0.0;
      for (size_t o = begin; o < end; ++o) sum += value(o);
      means[static_cast<size_t>(k)] = sum / static_cast<double>(end - begin);
    }
    return means;
  }

  // The frame pixel observation o came from (AddFrame), or false (AddObservation).
  bool FramePixel(size_t o, int& u, int& v) const {
    if (pixel_[o].u < 0) return false;
    u = pixel_[o].u;
    v = pixel_[o].v;
    return true;
  }

  // Replaces every observation's three values v by m * v (m row-major, 3 x 3): the solve
  // may work in other colour coordinates than the frames'.
  void TransformValues(const double (&m)[9]);
  // Calls map(o, v) for observations begin .. end - 1, v their three values, which it may
  // change.
  template <typename Map>
  void MapValues(size_t begin, size_t end, Map map) {
    for (size_t o = begin; o < end; ++o) {
      double v[3] = {values_[0][o], values_[1][o], values_[2][o]};
      map(o, v);
      for (size_t c = 0; c < 3; ++c) values_[c][o] = v[c];
    }
  }

  // Appends observations directly (tests): the cell (Cell) and fractions, the kernel's
  // support inside the grid; u, v the frame pixel it came from, if any.
  void AddObservation(int x, int y, double fx, double fy, const double value[3], int u = -1, int v = -1);
  void EndFrame();

 private:
  HrGeometry grid_;
  std::vector<double> taps_;
  SampleKernel kernel_;
  size_t builtTaps_;  // the taps whose support placed the observations
  std::vector<int32_t> index_;  // y * width + x of the cell (Cell)
  std::vector<float> fx_;
  std::vector<float> fy_;
  std::vector<double> values_[3];
  std::vector<size_t> frameStart_{0};
  // The observations whose kernel reaches into each band of kSplatBandRows grid rows, in
  // observation order: a band's pixels are splatted by one thread, in the order a serial
  // splat takes.
  std::vector<std::vector<uint32_t>> bandObservations_;
  struct Pixel {
    int32_t u;
    int32_t v;
  };
  std::vector<Pixel> pixel_;
};

}  // namespace lumet
