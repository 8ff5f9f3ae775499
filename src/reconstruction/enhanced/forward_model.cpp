#include "reconstruction/enhanced/forward_model.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <numeric>

#include "numeric/pixel_map.h"
#include "numeric/projection.h"
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

bool Apply(const PixelMap& m, double x, double y, double& u, double& v) {
  const double d = m.p[2][0] * x + m.p[2][1] * y + m.p[2][2];
  if (!(std::fabs(d) > 1e-12)) return false;
  u = (m.p[0][0] * x + m.p[0][1] * y + m.p[0][2]) / d;
  v = (m.p[1][0] * x + m.p[1][1] * y + m.p[1][2]) / d;
  return std::isfinite(u) && std::isfinite(v);
}

double Dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
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

void BlurZero(const Plane& source, const std::vector<double>& taps, Plane& target) {
  const int w = source.width;
  const int hgt = source.height;
  const int n = static_cast<int>(taps.size());
  const int h = n / 2;
  Plane across(w, hgt);
  const long rowWork = static_cast<long>(w) * n;
  ParallelFor(0, hgt, rowWork, [&](int first, int last) {
    for (int y = first; y < last; ++y) {
      const double* in = &source.v[static_cast<size_t>(y) * w];
      double* out = &across.v[static_cast<size_t>(y) * w];
      for (int x = 0; x < w; ++x) {
        const int lo = std::max(0, h - x);
        const int hi = std::min(n, w - x + h);
        double s = 0.0;
        for (int t = lo; t < hi; ++t) s += taps[static_cast<size_t>(t)] * in[x + t - h];
        out[x] = s;
      }
    }
  });
  target = Plane(w, hgt);
  ParallelFor(0, hgt, rowWork, [&](int first, int last) {
    for (int y = first; y < last; ++y) {
      const int lo = std::max(0, h - y);
      const int hi = std::min(n, hgt - y + h);
      double* out = &target.v[static_cast<size_t>(y) * w];
      for (int t = lo; t < hi; ++t) {
        const double k = taps[static_cast<size_t>(t)];
        const double* in = &across.v[static_cast<size_t>(y + t - h) * w];
        for (int x = 0; x < w; ++x) out[x] += k * in[x];
      }
    }
  });
}

HrGeometry ExtendGeometry(const HrGeometry& grid, int margin) {
  HrGeometry g = grid;
  g.width += 2 * margin;
  g.height += 2 * margin;
  g.x0 -= margin;
  g.y0 -= margin;
  return g;
}

int EnhancedMargin(int tapCount) { return 2 * (tapCount / 2) + 2; }

ObservationModel::ObservationModel(const HrGeometry& grid, std::vector<double> taps)
    : grid_(grid), taps_(std::move(taps)), builtTaps_(taps_.size()) {}

void ObservationModel::SetTaps(std::vector<double> taps) {
  if (taps.size() > builtTaps_ || taps.size() % 2 == 0) throw Error("PSF taps wider than the model's grid allows");
  taps_ = std::move(taps);
}

void ObservationModel::AddObservation(int x, int y, double fx, double fy, const double value[3], int u, int v) {
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

size_t ObservationModel::AddFrame(const ColorGrayImage& frame, const Matrix& homography) {
  const size_t before = index_.size();
  const PixelMap toFrame = PixelMapOf(homography);
  PixelMap toReference;
  const int h = static_cast<int>(taps_.size()) / 2;
  const double s = grid_.scale;
  // HR positions whose PSF and bilinear support stay inside the grid.
  const double loX = h;
  const double hiX = grid_.width - 1 - h;
  const double loY = h;
  const double hiY = grid_.height - 1 - h;
  if (InvertMap(toFrame, toReference) && hiX > loX && hiY > loY) {
    // The frame pixels that can see the grid: the bounding box of its corners in the frame.
    double minU = 1e300;
    double minV = 1e300;
    double maxU = -1e300;
    double maxV = -1e300;
    bool inside = true;
    for (int cy = 0; cy < 2; ++cy) {
      for (int cx = 0; cx < 2; ++cx) {
        const double rx = (grid_.x0 + cx * (grid_.width - 1)) / s;
        const double ry = (grid_.y0 + cy * (grid_.height - 1)) / s;
        double u = 0.0;
        double v = 0.0;
        if (!Apply(toFrame, rx, ry, u, v)) inside = false;
        minU = std::min(minU, u);
        maxU = std::max(maxU, u);
        minV = std::min(minV, v);
        maxV = std::max(maxV, v);
      }
    }
    if (inside) {
      const int u0 = static_cast<int>(std::max(0.0, std::floor(minU) - 1.0));
      const int v0 = static_cast<int>(std::max(0.0, std::floor(minV) - 1.0));
      const int u1 = static_cast<int>(std::min<double>(frame.Width() - 1, std::ceil(maxU) + 1.0));
      const int v1 = static_cast<int>(std::min<double>(frame.Height() - 1, std::ceil(maxV) + 1.0));
      for (int v = v0; v <= v1; ++v) {
        for (int u = u0; u <= u1; ++u) {
          double rx = 0.0;
          double ry = 0.0;
          if (!Apply(toReference, u, v, rx, ry)) continue;
          const double hx = rx * s - grid_.x0;
          const double hy = ry * s - grid_.y0;
          if (!(hx >= loX && hx < hiX && hy >= loY && hy < hiY)) continue;
          const int ix = static_cast<int>(std::floor(hx));
          const int iy = static_cast<int>(std::floor(hy));
          const double value[3] = {static_cast<double>(frame.channels[0].Row(v)[u]),
                                   static_cast<double>(frame.channels[1].Row(v)[u]),
                                   static_cast<double>(frame.channels[2].Row(v)[u])};
          AddObservation(ix, iy, hx - ix, hy - iy, value, u, v);
        }
      }
    }
  }
  EndFrame();
  return index_.size() - before;
}

void ObservationModel::Forward(const Plane& x, std::vector<double>& predicted, Plane& blurred) const {
  BlurZero(x, taps_, blurred);
  const int w = grid_.width;
  const size_t count = index_.size();
  predicted.resize(count);
  const double* b = blurred.v.data();
  ParallelFor(0, static_cast<int>(count), 8, [&](int first, int last) {
    for (size_t o = static_cast<size_t>(first); o < static_cast<size_t>(last); ++o) {
      const double* p = b + index_[o];
      const double fx = fx_[o];
      const double fy = fy_[o];
      const double top = p[0] + fx * (p[1] - p[0]);
      const double bottom = p[w] + fx * (p[w + 1] - p[w]);
      predicted[o] = top + fy * (bottom - top);
    }
  });
}

void ObservationModel::ReferencePosition(size_t o, double& x, double& y) const {
  const int w = grid_.width;
  x = (index_[o] % w + fx_[o] + grid_.x0) / grid_.scale;
  y = (index_[o] / w + fy_[o] + grid_.y0) / grid_.scale;
}

void ObservationModel::Adjoint(const std::vector<double>& r, Plane& out, Plane& scatter) const {
  Splat(r, scatter);
  BlurZero(scatter, taps_, out);
}

void ObservationModel::Splat(const std::vector<double>& r, Plane& out) const {
  const int w = grid_.width;
  out = Plane(grid_.width, grid_.height);
  double* b = out.v.data();
  // Serial: neighbouring observations add into the same pixels.
  for (size_t o = 0; o < index_.size(); ++o) {
    double* p = b + index_[o];
    const double fx = fx_[o];
    const double fy = fy_[o];
    const double top = r[o] * (1.0 - fy);
    const double bottom = r[o] * fy;
    p[0] += top * (1.0 - fx);
    p[1] += top * fx;
    p[w] += bottom * (1.0 - fx);
    p[w + 1] += bottom * fx;
  }
}

double EnhancedObjective(const ObservationModel& model, int c, const EnhancedWeights& weights, const Plane& x,
                         Plane& gradient, ObjectiveScratch& scratch) {
  model.Forward(x, scratch.predicted, scratch.blurred);
  const std::vector<double>& values = model.Values(c);
  std::vector<double>& r = scratch.predicted;
  const double eps = weights.dataSmoothing;
  const bool perObservation = !weights.observation.empty();
  double energy = 0.0;
  double heldOutSum = 0.0;
  double heldOutWeight = 0.0;
  for (int k = 0; k < model.FrameCount(); ++k) {
    const size_t i = static_cast<size_t>(k);
    const double wk = i < weights.frame.size() ? weights.frame[i] : 1.0;
    const bool measured = i < weights.heldOut.size() && weights.heldOut[i] != 0;
    for (size_t o = model.FrameBegin(k); o < model.FrameEnd(k); ++o) {
      const double wo = perObservation ? weights.observation[o] : 1.0;
      if (measured) {
        heldOutSum += wo * std::fabs(r[o] - values[o]);
        heldOutWeight += wo;
      }
      if (wk == 0.0) {
        r[o] = 0.0;
        continue;
      }
      const double d = r[o] - values[o];
      const double root = std::sqrt(d * d + eps * eps);
      energy += wk * wo * (root - eps);
      r[o] = wk * wo * d / root;
    }
  }
  scratch.heldOutError = heldOutWeight > 0.0 ? heldOutSum / heldOutWeight : std::numeric_limits<double>::quiet_NaN();
  scratch.heldOutWeight = heldOutWeight;
  model.Adjoint(r, gradient, scratch.scatter);

  // The prior: five shifts, distance 1 weighted alpha, distance 2 alpha^2.
  struct Shift {
    int dx;
    int dy;
    double weight;
  };
  const double a = weights.alpha;
  const Shift shifts[5] = {{1, 0, a}, {0, 1, a}, {2, 0, a * a}, {1, 1, a * a}, {0, 2, a * a}};
  const double lambda = weights.lambda;
  const double ep = kPriorSmoothing;
  const int w = x.width;
  const int hgt = x.height;
  std::vector<double> rowEnergy(static_cast<size_t>(hgt), 0.0);
  if (lambda != 0.0) {
    ParallelFor(0, hgt, static_cast<long>(w) * 30, [&](int first, int last) {
      for (int y = first; y < last; ++y) {
        double e = 0.0;
        for (int px = 0; px < w; ++px) {
          const double centre = x.At(px, y);
          double g = 0.0;
          for (const Shift& s : shifts) {
            if (px + s.dx < w && y + s.dy < hgt) {
              const double d = centre - x.At(px + s.dx, y + s.dy);
              const double root = std::sqrt(d * d + ep * ep);
              e += s.weight * (root - ep);
              g += s.weight * d / root;
            }
            if (px - s.dx >= 0 && y - s.dy >= 0) {
              const double d = x.At(px - s.dx, y - s.dy) - centre;
              g -= s.weight * d / std::sqrt(d * d + ep * ep);
            }
          }
          gradient.At(px, y) += lambda * g;
        }
        rowEnergy[static_cast<size_t>(y)] = lambda * e;
      }
    });
  }
  for (double e : rowEnergy) energy += e;
  return energy;
}

std::vector<double> FrameResiduals(const ObservationModel& model, int c, const Plane& x, ObjectiveScratch& scratch) {
  model.Forward(x, scratch.predicted, scratch.blurred);
  const std::vector<double>& values = model.Values(c);
  const std::vector<double>& predicted = scratch.predicted;
  return model.FrameMeans([&](size_t o) { return std::fabs(predicted[o] - values[o]); });
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

// The two-loop recursion: direction = -H g from the curvature pairs; without any, the
// negative gradient scaled to move the estimate by one grey level RMS. False for a zero
// gradient (nothing to do).
bool QuasiNewtonDirection(const CurvatureHistory& h, const std::vector<double>& gradient,
                          std::vector<double>& direction) {
  const size_t n = gradient.size();
  for (size_t i = 0; i < n; ++i) direction[i] = -gradient[i];
  const size_t m = h.s.size();
  std::vector<double> alphas(m);
  for (size_t i = m; i-- > 0;) {
    alphas[i] = h.rho[i] * Dot(h.s[i], direction);
    for (size_t j = 0; j < n; ++j) direction[j] -= alphas[i] * h.y[i][j];
  }
  if (m > 0) {
    const double gamma = 1.0 / (h.rho.back() * Dot(h.y.back(), h.y.back()));
    for (double& d : direction) d *= gamma;
  } else {
    const double norm = std::sqrt(Dot(direction, direction) / static_cast<double>(n));
    if (!(norm > 0.0)) return false;
    for (double& d : direction) d /= norm;
  }
  for (size_t i = 0; i < m; ++i) {
    const double b = h.rho[i] * Dot(h.y[i], direction);
    for (size_t j = 0; j < n; ++j) direction[j] += (alphas[i] - b) * h.s[i][j];
  }
  return true;
}

MinimiseResult MinimiseEnhanced(const ObservationModel& model, int c, const EnhancedWeights& weights, double stepScale,
                                int maxIterations, double tolerance, Plane& x, const IterationCallback& callback,
                                CurvatureHistory* history) {
  constexpr int kMemory = 6;
  constexpr int kBacktracks = 30;
  constexpr double kSufficientDecrease = 1e-4;
  const size_t n = x.v.size();
  ObjectiveScratch scratch;
  Plane gradient;
  double f = EnhancedObjective(model, c, weights, x, gradient, scratch);
  CurvatureHistory own;
  CurvatureHistory& h = history != nullptr ? *history : own;
  std::vector<double> direction(n);
  Plane trial(x.width, x.height);
  Plane trialGradient;
  MinimiseResult result;

  for (int it = 1; it <= maxIterations; ++it) {
    if (!QuasiNewtonDirection(h, gradient.v, direction)) {
      result.converged = true;
      break;
    }
    double slope = Dot(direction, gradient.v);
    if (!(slope < 0.0)) {
      // Curvature pairs gone stale: start again from the gradient.
      h.s.clear();
      h.y.clear();
      h.rho.clear();
      const double norm = std::sqrt(Dot(gradient.v, gradient.v) / static_cast<double>(n));
      if (!(norm > 0.0)) {
        result.converged = true;
        break;
      }
      for (size_t i = 0; i < n; ++i) direction[i] = -gradient.v[i] / norm;
      slope = Dot(direction, gradient.v);
    }

    double t = stepScale;
    double fTrial = 0.0;
    bool accepted = false;
    for (int b = 0; b < kBacktracks; ++b) {
      for (size_t i = 0; i < n; ++i) trial.v[i] = x.v[i] + t * direction[i];
      fTrial = EnhancedObjective(model, c, weights, trial, trialGradient, scratch);
      if (std::isfinite(fTrial) && fTrial <= f + kSufficientDecrease * t * slope) {
        accepted = true;
        break;
      }
      t *= 0.5;
    }
    result.iterations = it;
    if (!accepted) {
      result.converged = true;  // no descent left at this precision
      break;
    }
    std::vector<double> s(n);
    std::vector<double> y(n);
    double change = 0.0;
    double size = 0.0;
    for (size_t i = 0; i < n; ++i) {
      s[i] = trial.v[i] - x.v[i];
      y[i] = trialGradient.v[i] - gradient.v[i];
      change += s[i] * s[i];
      size += trial.v[i] * trial.v[i];
    }
    const double sy = Dot(s, y);
    if (sy > 1e-12 * std::sqrt(Dot(s, s) * Dot(y, y))) {
      if (static_cast<int>(h.s.size()) == kMemory) {
        h.s.pop_front();
        h.y.pop_front();
        h.rho.pop_front();
      }
      h.s.push_back(std::move(s));
      h.y.push_back(std::move(y));
      h.rho.push_back(1.0 / sy);
    }
    std::swap(x.v, trial.v);
    std::swap(gradient.v, trialGradient.v);
    f = fTrial;
    if (callback && callback(it, scratch)) {
      result.converged = true;
      break;
    }
    if (std::sqrt(change) <= tolerance * std::sqrt(size)) {
      result.converged = true;
      break;
    }
  }
  return result;
}

}  // namespace lumet
