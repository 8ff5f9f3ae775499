#include "registration/direct/direct_alignment.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "numeric/cubic_kernel.h"
#include "numeric/pixel_map.h"
#include "numeric/projection.h"
#include "registration/direct/align_kernel.h"
#include "util/error.h"

namespace lumet {

namespace {

struct Image {
  int w = 0;
  int h = 0;
  std::vector<double> v;
  double At(int x, int y) const { return v[static_cast<size_t>(y) * w + x]; }
  double& At(int x, int y) { return v[static_cast<size_t>(y) * w + x]; }
};

Image FromGray(const GrayImage& g) {
  Image im;
  im.w = g.Width();
  im.h = g.Height();
  im.v.resize(static_cast<size_t>(im.w) * im.h);
  for (int y = 0; y < im.h; ++y) {
    for (int x = 0; x < im.w; ++x) im.At(x, y) = g.Row(y)[x];
  }
  return im;
}

// [1 2 1] / 4 in both directions, edges repeated, in place: each pass keeps the one or two
// rows or values of its input it still needs (the values those of a pass into a copy).
void Smooth(Image& a) {
  std::vector<double> row(static_cast<size_t>(a.w));
  for (int y = 0; y < a.h; ++y) {
    std::copy(&a.At(0, y), &a.At(0, y) + a.w, row.begin());
    for (int x = 0; x < a.w; ++x) {
      a.At(x, y) = 0.25 * row[static_cast<size_t>(std::max(0, x - 1))] + 0.5 * row[static_cast<size_t>(x)] +
                   0.25 * row[static_cast<size_t>(std::min(a.w - 1, x + 1))];
    }
  }
  std::vector<double> above(static_cast<size_t>(a.w));
  std::vector<double> here(static_cast<size_t>(a.w));
  for (int y = 0; y < a.h; ++y) {
    // above: row y - 1 as it was (row 0 at the top edge); here: row y as it was.
    std::copy(&a.At(0, y), &a.At(0, y) + a.w, here.begin());
    if (y == 0) above = here;
    const double* below = &a.At(0, std::min(a.h - 1, y + 1));
    const bool last = y + 1 >= a.h;
    for (int x = 0; x < a.w; ++x) {
      const size_t i = static_cast<size_t>(x);
      a.At(x, y) = 0.25 * above[i] + 0.5 * here[i] + 0.25 * (last ? here[i] : below[x]);
    }
    std::swap(above, here);
  }
}

// Smoothed, then 2 x 2 block means: level pixel i is centred on the finer level's
// position 2i + 0.5.
Image Reduce(const Image& a) {
  Image t = a;
  Smooth(t);
  Image out;
  out.w = a.w / 2;
  out.h = a.h / 2;
  out.v.resize(static_cast<size_t>(out.w) * out.h);
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) {
      out.At(x, y) =
          0.25 * (t.At(2 * x, 2 * y) + t.At(2 * x + 1, 2 * y) + t.At(2 * x, 2 * y + 1) + t.At(2 * x + 1, 2 * y + 1));
    }
  }
  return out;
}

// Cubic sample at (x, y) inside [0, w - 1] x [0, h - 1] (false outside), taps clamped.
bool SampleCubic(const Image& im, double x, double y, double& value) {
  if (!(x >= 0.0 && y >= 0.0 && x <= im.w - 1 && y <= im.h - 1)) return false;
  value = CubicSample(x, y, im.w, im.h, [&](int i, int j) { return im.At(i, j); });
  return true;
}

using Mat3 = PixelMap;

bool Inverse(const Mat3& a, Mat3& r) {
  const double det = Adjugate(a, r);
  if (!std::isfinite(det) || det == 0.0) return false;
  for (auto& row : r.p) {
    for (double& e : row) e /= det;
  }
  return true;
}

// The region's normalisation: x~ = (x - cx) / s, likewise y, from full-resolution pixels.
struct Normaliser {
  double cx = 0.0;
  double cy = 0.0;
  double s = 1.0;
  Mat3 ToNormal() const {
    Mat3 n;
    n.p[0][0] = n.p[1][1] = 1.0 / s;
    n.p[0][2] = -cx / s;
    n.p[1][2] = -cy / s;
    return n;
  }
  Mat3 FromNormal() const {
    Mat3 n;
    n.p[0][0] = n.p[1][1] = s;
    n.p[0][2] = cx;
    n.p[1][2] = cy;
    return n;
  }
};

struct Region {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;  // inclusive
  int y1 = 0;
};

Region MakeRegion(const RoiRect& roi, int width, int height) {
  Region r;
  r.x0 = std::max(0, roi.left - kAlignMargin);
  r.y0 = std::max(0, roi.top - kAlignMargin);
  r.x1 = std::min(width - 1, roi.right - 1 + kAlignMargin);
  r.y1 = std::min(height - 1, roi.bottom - 1 + kAlignMargin);
  return r;
}

// Coarsest level: the region keeps at least this many level pixels across.
constexpr int kMinLevelSize = 12;
constexpr int kMaxLevels = 4;
// [1 2 1] passes over the finest level (about a Gaussian of sigma 1 for two): frames
// with sharp detail alias differently at every sampling phase, and the smoothing takes
// that out of the comparison (measured on chart sequences: 0.026 -> 0.008 px at the ROI
// centre; three passes gain nothing more).
constexpr int kFinestSmoothing = 2;

struct Pyramid {
  std::vector<Image> levels;
};

}  // namespace

struct AlignmentPyramid::Levels {
  Pyramid pyramid;
};

namespace {

Pyramid Build(const GrayImage& g, int count) {
  Pyramid p;
  p.levels.push_back(FromGray(g));
  for (int i = 0; i < kFinestSmoothing; ++i) Smooth(p.levels.back());
  for (int l = 1; l < count; ++l) p.levels.push_back(Reduce(p.levels.back()));
  return p;
}

int LevelCount(const Region& r, int width, int height) {
  int n = 1;
  while (n < kMaxLevels) {
    const int f = 1 << n;
    const int across = std::min(r.x1 - r.x0 + 1, r.y1 - r.y0 + 1) / f;
    if (across < kMinLevelSize || width / f < 4 || height / f < 4) break;
    ++n;
  }
  return n;
}

// Full-resolution position of level-l pixel i.
double FullPosition(int i, int l) { return (1 << l) * static_cast<double>(i) + 0.5 * ((1 << l) - 1); }
// Level-l position of full-resolution x: (x - (2^l - 1) / 2) / 2^l, the division taken as
// the product by 2^-l, which is exact and the same value.
struct ToLevel {
  explicit ToLevel(int l) : offset(0.5 * ((1 << l) - 1)), scale(std::ldexp(1.0, -l)) {}
  double operator()(double x) const { return (x - offset) * scale; }
  double offset;
  double scale;
};

struct TemplatePixel {
  double x = 0.0;  // normalised
  double y = 0.0;
  double t = 0.0;
  double j[8] = {};
};
// The normal equations read the pixels' Jacobians as rows of doubles a pixel apart.
static_assert(sizeof(TemplatePixel) % sizeof(double) == 0);

std::vector<TemplatePixel> BuildTemplate(const Image& ref, int l, const Region& r, const Normaliser& n) {
  std::vector<TemplatePixel> pixels;
  const double levelScale = n.s / (1 << l);
  for (int y = 1; y < ref.h - 1; ++y) {
    const double fy = FullPosition(y, l);
    if (fy < r.y0 || fy > r.y1) continue;
    for (int x = 1; x < ref.w - 1; ++x) {
      const double fx = FullPosition(x, l);
      if (fx < r.x0 || fx > r.x1) continue;
      TemplatePixel p;
      p.x = (fx - n.cx) / n.s;
      p.y = (fy - n.cy) / n.s;
      p.t = ref.At(x, y);
      const double gx = 0.5 * (ref.At(x + 1, y) - ref.At(x - 1, y)) * levelScale;
      const double gy = 0.5 * (ref.At(x, y + 1) - ref.At(x, y - 1)) * levelScale;
      const double radial = gx * p.x + gy * p.y;
      const double j[8] = {gx * p.x, gx * p.y, gx, gy * p.x, gy * p.y, gy, -radial * p.x, -radial * p.y};
      std::copy(j, j + 8, p.j);
      pixels.push_back(p);
    }
  }
  return pixels;
}

// The frame's value at the template pixel seen through the normalised warp w.
bool Warped(const Image& frame, const ToLevel& level, const Normaliser& n, const Mat3& w, const TemplatePixel& p,
            double& value) {
  const double d = w.p[2][0] * p.x + w.p[2][1] * p.y + w.p[2][2];
  if (!(std::fabs(d) > 1e-12)) return false;
  const double u = (w.p[0][0] * p.x + w.p[0][1] * p.y + w.p[0][2]) / d * n.s + n.cx;
  const double v = (w.p[1][0] * p.x + w.p[1][1] * p.y + w.p[1][2]) / d * n.s + n.cy;
  return SampleCubic(frame, level(u), level(v), value);
}

// Mean absolute error and the share of template pixels inside the frame.
void Score(const std::vector<TemplatePixel>& tpl, const Image& frame, int l, const Normaliser& n, const Mat3& w,
           double& error, double& inside) {
  const ToLevel level(l);
  double sum = 0.0;
  size_t count = 0;
  for (const TemplatePixel& p : tpl) {
    double value = 0.0;
    if (!Warped(frame, level, n, w, p, value)) continue;
    sum += std::fabs(value - p.t);
    ++count;
  }
  inside = tpl.empty() ? 0.0 : static_cast<double>(count) / static_cast<double>(tpl.size());
  error = count > 0 ? sum / static_cast<double>(count) : std::numeric_limits<double>::quiet_NaN();
}

// Solves the 8 x 8 system a x = b by Gaussian elimination with partial pivoting.
bool Solve8(double a[8][8], double b[8], double x[8]) {
  for (int c = 0; c < 8; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 8; ++r) {
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    }
    if (!(std::fabs(a[pivot][c]) > 1e-300)) return false;
    if (pivot != c) {
      for (int k = 0; k < 8; ++k) std::swap(a[c][k], a[pivot][k]);
      std::swap(b[c], b[pivot]);
    }
    for (int r = c + 1; r < 8; ++r) {
      const double f = a[r][c] / a[c][c];
      for (int k = c; k < 8; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  for (int c = 7; c >= 0; --c) {
    double s = b[c];
    for (int k = c + 1; k < 8; ++k) s -= a[c][k] * x[k];
    x[c] = s / a[c][c];
    if (!std::isfinite(x[c])) return false;
  }
  return true;
}

// Smallest robust scale, in grey levels: the quantisation step.
constexpr double kMinScale = 0.5;

// Gauss-Newton on one level; false when a step cannot be formed or leaves the frame.
bool RefineLevel(const std::vector<TemplatePixel>& tpl, const Image& frame, int l, const Normaliser& n, Mat3& w,
                 int& iterations) {
  if (tpl.size() < 16) return true;  // too little to refine on this level
  const ToLevel level(l);
  std::vector<double> errors(tpl.size());
  std::vector<char> valid(tpl.size());
  std::vector<double> magnitudes;
  magnitudes.reserve(tpl.size());
  const auto normalEquations = detail::ActiveAlignKernels().normalEquations;
  double extent = 0.0;
  for (const TemplatePixel& p : tpl) extent = std::max({extent, std::fabs(p.x), std::fabs(p.y)});
  for (int it = 0; it < kAlignIterations; ++it) {
    magnitudes.clear();
    for (size_t i = 0; i < tpl.size(); ++i) {
      double value = 0.0;
      valid[i] = Warped(frame, level, n, w, tpl[i], value) ? 1 : 0;
      if (valid[i]) {
        errors[i] = value - tpl[i].t;
        magnitudes.push_back(std::fabs(errors[i]));
      }
    }
    if (magnitudes.size() * 2 < tpl.size()) return false;
    const auto middle = magnitudes.begin() + static_cast<long>(magnitudes.size() / 2);
    std::nth_element(magnitudes.begin(), middle, magnitudes.end());
    const double scale = std::max(kMinScale, 1.4826 * *middle);
    const double k = kHuberThreshold * scale;
    double a[8][8] = {};
    double b[8] = {};
    normalEquations(tpl[0].j, sizeof(TemplatePixel) / sizeof(double), errors.data(), valid.data(), tpl.size(), k,
                    &a[0][0], b);
    for (int r = 0; r < 8; ++r) {
      for (int c = 0; c < r; ++c) a[r][c] = a[c][r];
    }
    double dp[8] = {};
    if (!Solve8(a, b, dp)) return false;
    ++iterations;
    Mat3 delta;
    delta.p[0][0] = 1.0 + dp[0];
    delta.p[0][1] = dp[1];
    delta.p[0][2] = dp[2];
    delta.p[1][0] = dp[3];
    delta.p[1][1] = 1.0 + dp[4];
    delta.p[1][2] = dp[5];
    delta.p[2][0] = dp[6];
    delta.p[2][1] = dp[7];
    delta.p[2][2] = 1.0;
    Mat3 inverse;
    if (!Inverse(delta, inverse)) return false;
    w = Compose(w, inverse);
    // How far the step moves the region's corners, in level pixels.
    double moved = 0.0;
    for (double cy : {-extent, extent}) {
      for (double cx : {-extent, extent}) {
        const double d = dp[6] * cx + dp[7] * cy + 1.0;
        const double u = ((1.0 + dp[0]) * cx + dp[1] * cy + dp[2]) / d - cx;
        const double v = (dp[3] * cx + (1.0 + dp[4]) * cy + dp[5]) / d - cy;
        moved = std::max(moved, std::hypot(u, v) * n.s / (1 << l));
      }
    }
    if (!std::isfinite(moved)) return false;
    if (moved < kAlignStop) break;
  }
  return true;
}

void CheckInputs(const AlignmentPyramid& reference, const AlignmentPyramid& frame, const RoiRect& roi) {
  if (reference.Width() != frame.Width() || reference.Height() != frame.Height()) {
    throw Error("the frame is " + std::to_string(frame.Width()) + " x " + std::to_string(frame.Height()) +
                " pixels, the reference frame " + std::to_string(reference.Width()) + " x " +
                std::to_string(reference.Height()));
  }
  if (roi.Width() <= 0 || roi.Height() <= 0 || roi.left < 0 || roi.top < 0 || roi.right > reference.Width() ||
      roi.bottom > reference.Height()) {
    throw Error("the ROI does not lie inside the reference frame");
  }
}

// The region of the ROI, once the frames agree in size, the ROI lies in the reference and
// both pyramids were built for this ROI's region (they have its levels).
Region CheckedRegion(const AlignmentPyramid& reference, const AlignmentPyramid& frame, const RoiRect& roi) {
  CheckInputs(reference, frame, roi);
  const Region region = MakeRegion(roi, reference.Width(), reference.Height());
  const size_t levels = static_cast<size_t>(LevelCount(region, reference.Width(), reference.Height()));
  if (reference.Get().pyramid.levels.size() != levels || frame.Get().pyramid.levels.size() != levels) {
    throw Error("the alignment's pyramids were built for another ROI");
  }
  return region;
}

Normaliser MakeNormaliser(const RoiRect& roi) {
  Normaliser n;
  n.cx = 0.5 * (roi.left + roi.right - 1);
  n.cy = 0.5 * (roi.top + roi.bottom - 1);
  n.s = std::max(1.0, 0.5 * std::max(roi.Width(), roi.Height()));
  return n;
}

}  // namespace

AlignmentPyramid::AlignmentPyramid(const GrayImage& frame, const RoiRect& roi)
    : width_(frame.Width()), height_(frame.Height()) {
  // The region is cut to the frame; a ROI outside it is refused by the alignment.
  const RoiRect inside{std::clamp(roi.left, 0, width_), std::clamp(roi.top, 0, height_),
                       std::clamp(roi.right, 0, width_), std::clamp(roi.bottom, 0, height_)};
  auto levels = std::make_shared<Levels>();
  if (inside.Width() > 0 && inside.Height() > 0) {
    levels->pyramid = Build(frame, LevelCount(MakeRegion(inside, width_, height_), width_, height_));
  }
  levels_ = std::move(levels);
}

namespace {

// The pyramids of two frames for the ROI; of frames that differ in size, empty ones, which
// the alignment refuses by their sizes.
std::pair<AlignmentPyramid, AlignmentPyramid> PyramidsOf(const GrayImage& reference, const GrayImage& frame,
                                                         const RoiRect& roi) {
  const bool alike = reference.Width() == frame.Width() && reference.Height() == frame.Height();
  const RoiRect used = alike ? roi : RoiRect{};
  return {AlignmentPyramid(reference, used), AlignmentPyramid(frame, used)};
}

}  // namespace

AlignmentResult AlignDirect(const GrayImage& reference, const GrayImage& frame, Matrix& h, const RoiRect& roi) {
  const auto [a, b] = PyramidsOf(reference, frame, roi);
  return AlignDirect(a, b, h, roi);
}

Matrix CoarseTranslationSearch(const GrayImage& reference, const GrayImage& frame, const RoiRect& roi, int radius) {
  const auto [a, b] = PyramidsOf(reference, frame, roi);
  return CoarseTranslationSearch(a, b, roi, radius);
}

AlignmentResult AlignDirect(const AlignmentPyramid& reference, const AlignmentPyramid& frame, Matrix& h,
                            const RoiRect& roi) {
  const Region region = CheckedRegion(reference, frame, roi);
  const int levels = static_cast<int>(reference.Get().pyramid.levels.size());
  const Pyramid& ref = reference.Get().pyramid;
  const Pyramid& frm = frame.Get().pyramid;
  const Normaliser n = MakeNormaliser(roi);
  const Mat3 start = Compose(n.ToNormal(), Compose(PixelMapOf(h), n.FromNormal()));

  AlignmentResult result;
  const std::vector<TemplatePixel> fine = BuildTemplate(ref.levels[0], 0, region, n);
  double inside = 0.0;
  Score(fine, frm.levels[0], 0, n, start, result.startError, inside);

  Mat3 w = start;
  bool ok = true;
  for (int l = levels - 1; l >= 0 && ok; --l) {
    const std::vector<TemplatePixel> tpl =
        l == 0 ? fine : BuildTemplate(ref.levels[static_cast<size_t>(l)], l, region, n);
    ok = RefineLevel(tpl, frm.levels[static_cast<size_t>(l)], l, n, w, result.iterations);
  }
  double error = std::numeric_limits<double>::quiet_NaN();
  if (ok) Score(fine, frm.levels[0], 0, n, w, error, inside);
  const bool startKnown = std::isfinite(result.startError);
  if (!ok || !std::isfinite(error) || inside < 0.5 || (startKnown && error > result.startError * (1.0 + 1e-3))) {
    result.diverged = true;
    result.error = error;
    return result;
  }
  result.error = error;
  h = HomographyOf(Compose(n.FromNormal(), Compose(w, n.ToNormal())));
  return result;
}

Matrix CoarseTranslationSearch(const AlignmentPyramid& reference, const AlignmentPyramid& frame, const RoiRect& roi,
                               int radius) {
  const Region region = CheckedRegion(reference, frame, roi);
  const int levels = static_cast<int>(reference.Get().pyramid.levels.size());
  const Pyramid& ref = reference.Get().pyramid;
  const Pyramid& frm = frame.Get().pyramid;
  int dx = 0;
  int dy = 0;
  for (int l = levels - 1; l >= 0; --l) {
    const Image& a = ref.levels[static_cast<size_t>(l)];
    const Image& b = frm.levels[static_cast<size_t>(l)];
    int reach = 1;
    if (l == levels - 1) {
      reach = std::max(1, (std::max(0, radius) + (1 << l) - 1) / (1 << l));
    } else {
      dx *= 2;
      dy *= 2;
    }
    // Level pixels of the region.
    std::vector<std::pair<int, int>> pixels;
    for (int y = 0; y < a.h; ++y) {
      const double fy = FullPosition(y, l);
      if (fy < region.y0 || fy > region.y1) continue;
      for (int x = 0; x < a.w; ++x) {
        const double fx = FullPosition(x, l);
        if (fx >= region.x0 && fx <= region.x1) pixels.emplace_back(x, y);
      }
    }
    double best = std::numeric_limits<double>::infinity();
    int bestX = dx;
    int bestY = dy;
    for (int sy = dy - reach; sy <= dy + reach; ++sy) {
      for (int sx = dx - reach; sx <= dx + reach; ++sx) {
        double sum = 0.0;
        size_t count = 0;
        for (const auto& [x, y] : pixels) {
          const int u = x + sx;
          const int v = y + sy;
          if (u < 0 || v < 0 || u >= b.w || v >= b.h) continue;
          sum += std::fabs(b.At(u, v) - a.At(x, y));
          ++count;
        }
        if (count * 2 < pixels.size() || count == 0) continue;
        const double score = sum / static_cast<double>(count);
        if (score < best) {
          best = score;
          bestX = sx;
          bestY = sy;
        }
      }
    }
    dx = bestX;
    dy = bestY;
  }
  Matrix h = IdentityHomography();
  h.At1(1, 3) = dx / HomographyUnit;
  h.At1(2, 3) = dy / HomographyUnit;
  return h;
}

}  // namespace lumet
