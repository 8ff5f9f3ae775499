#include "reconstruction/enhanced/edge_psf.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "util/parallel.h"

namespace lumet {

namespace {

// Frame 0's luma over a rectangle, and where any channel was clipped.
struct LumaRegion {
  int x0 = 0, y0 = 0, width = 0, height = 0;
  std::vector<double> v;
  std::vector<char> clipped;
  double At(int x, int y) const { return v[static_cast<size_t>(y) * width + x]; }
  bool Clipped(int x, int y) const { return clipped[static_cast<size_t>(y) * width + x] != 0; }
};

constexpr double kLuma[3] = {0.299, 0.587, 0.114};

LumaRegion ReadLuma(const ColorGrayImage& frame, const RoiRect& region, SampleDepth depth) {
  LumaRegion r;
  const DeepPlanes* deep = depth == SampleDepth::Deep ? frame.deep.get() : nullptr;
  // A frame may hold only the rows a method reads of it.
  int first = 0;
  int end = frame.Height();
  for (int c = 0; c < 3; ++c) {
    const auto& plane = frame.channels[static_cast<size_t>(c)];
    first = std::max(first, plane.FirstRow());
    end = std::min(end, plane.FirstRow() + plane.HeldRows());
    if (deep != nullptr) {
      first = std::max(first, deep->channels[c].FirstRow());
      end = std::min(end, deep->channels[c].FirstRow() + deep->channels[c].HeldRows());
    }
  }
  r.x0 = std::max(0, region.left);
  r.y0 = std::max(first, region.top);
  r.width = std::max(0, std::min(frame.Width(), region.right) - r.x0);
  r.height = std::max(0, std::min(end, region.bottom) - r.y0);
  r.v.assign(static_cast<size_t>(r.width) * r.height, 0.0);
  r.clipped.assign(r.v.size(), 0);
  // Floating-point samples keep what lies beyond white and black: nothing is clipped there.
  const bool clips = deep == nullptr || !deep->floatSamples;
  for (int y = 0; y < r.height; ++y) {
    for (int x = 0; x < r.width; ++x) {
      const size_t i = static_cast<size_t>(y) * r.width + x;
      for (int c = 0; c < 3; ++c) {
        const double s = deep != nullptr ? deep->channels[c].Row(y + r.y0)[x + r.x0]
                                         : frame.channels[static_cast<size_t>(c)].Row(y + r.y0)[x + r.x0];
        r.v[i] += kLuma[c] * s;
        if (clips && (s <= 0.0 || s >= 255.0)) r.clipped[i] = 1;
      }
    }
  }
  return r;
}

// A place where an edge may pass: a pixel of the region, its unit normal (towards the
// brighter side) and its Sobel slope.
struct Candidate {
  int x;
  int y;
  double nx;
  double ny;
  double slope;
};

// Pixels whose Sobel slope is at least kEdgeMinSlope and no less than that of either
// neighbour along its direction (strictly more than the one behind), strongest first.
std::vector<Candidate> FindCandidates(const LumaRegion& r) {
  std::vector<double> gx(r.v.size(), 0.0);
  std::vector<double> gy(r.v.size(), 0.0);
  std::vector<double> slope(r.v.size(), 0.0);
  for (int y = 1; y + 1 < r.height; ++y) {
    for (int x = 1; x + 1 < r.width; ++x) {
      const size_t i = static_cast<size_t>(y) * r.width + x;
      gx[i] = (r.At(x + 1, y - 1) + 2.0 * r.At(x + 1, y) + r.At(x + 1, y + 1) - r.At(x - 1, y - 1) -
               2.0 * r.At(x - 1, y) - r.At(x - 1, y + 1)) / 8.0;
      gy[i] = (r.At(x - 1, y + 1) + 2.0 * r.At(x, y + 1) + r.At(x + 1, y + 1) - r.At(x - 1, y - 1) -
               2.0 * r.At(x, y - 1) - r.At(x + 1, y - 1)) / 8.0;
      slope[i] = std::hypot(gx[i], gy[i]);
    }
  }
  std::vector<Candidate> found;
  for (int y = 2; y + 2 < r.height; ++y) {
    for (int x = 2; x + 2 < r.width; ++x) {
      const size_t i = static_cast<size_t>(y) * r.width + x;
      if (!(slope[i] >= kEdgeMinSlope)) continue;
      const double nx = gx[i] / slope[i];
      const double ny = gy[i] / slope[i];
      const int ox = static_cast<int>(std::lround(nx));
      const int oy = static_cast<int>(std::lround(ny));
      const double ahead = slope[static_cast<size_t>(y + oy) * r.width + (x + ox)];
      const double behind = slope[static_cast<size_t>(y - oy) * r.width + (x - ox)];
      if (slope[i] >= ahead && slope[i] > behind) found.push_back({x, y, nx, ny, slope[i]});
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) { return a.slope > b.slope; });
  return found;
}

// One sample of a site's window: its distance across the edge's normal and along it from
// the site's pixel, and its luma.
struct Sample {
  double d;
  double t;
  double value;
};

// The window of a candidate, or false when it reaches past the region or holds a clipped
// sample.
bool Window(const LumaRegion& r, const Candidate& c, double half, std::vector<Sample>& samples) {
  samples.clear();
  const int reach = static_cast<int>(std::ceil(half));
  for (int y = c.y - reach; y <= c.y + reach; ++y) {
    for (int x = c.x - reach; x <= c.x + reach; ++x) {
      const double dx = x - c.x;
      const double dy = y - c.y;
      const double d = dx * c.nx + dy * c.ny;
      const double t = -dx * c.ny + dy * c.nx;
      if (std::fabs(d) > half || std::fabs(t) > half) continue;
      if (x < 0 || y < 0 || x >= r.width || y >= r.height || r.Clipped(x, y)) return false;
      samples.push_back({d, t, r.At(x, y)});
    }
  }
  return true;
}

// A site's profile: level a, contrast b, the edge's offset d0 along the normal, its slant
// (d0 moves by slant per pixel along the edge) and log sigma.
using Profile = std::array<double, 5>;
enum { kLevel, kContrast, kOffset, kSlant, kLogSigma };

// Sum of squared misfits of samples to profile p; with jtj and jtr, the normal equations of
// its first `count` parameters too.
double Misfit(const std::vector<Sample>& samples, const Profile& p, int count, double (*jtj)[5], double* jtr) {
  const double sigma = std::exp(p[kLogSigma]);
  if (jtj != nullptr) {
    for (int i = 0; i < count; ++i) {
      jtr[i] = 0.0;
      for (int j = 0; j < count; ++j) jtj[i][j] = 0.0;
    }
  }
  double cost = 0.0;
  for (const Sample& s : samples) {
    const double z = (s.d - p[kOffset] - p[kSlant] * s.t) / sigma;
    const double cdf = 0.5 * std::erfc(-z / std::numbers::sqrt2);
    const double r = p[kLevel] + p[kContrast] * cdf - s.value;
    cost += r * r;
    if (jtj == nullptr) continue;
    const double pdf = std::exp(-0.5 * z * z) / std::sqrt(2.0 * std::numbers::pi);
    const double g[5] = {1.0, cdf, -p[kContrast] * pdf / sigma, -p[kContrast] * pdf * s.t / sigma,
                         -p[kContrast] * pdf * z};
    for (int i = 0; i < count; ++i) {
      jtr[i] += g[i] * r;
      for (int j = 0; j < count; ++j) jtj[i][j] += g[i] * g[j];
    }
  }
  return cost;
}

// Solves a (n x n, n <= 5) x = b by elimination with partial pivoting; false when singular.
bool SolveSmall(double (*a)[5], double* b, int n, double* x) {
  for (int k = 0; k < n; ++k) {
    int pivot = k;
    for (int i = k + 1; i < n; ++i) {
      if (std::fabs(a[i][k]) > std::fabs(a[pivot][k])) pivot = i;
    }
    if (!(std::fabs(a[pivot][k]) > 1e-300)) return false;
    std::swap(a[k], a[pivot]);
    std::swap(b[k], b[pivot]);
    for (int i = k + 1; i < n; ++i) {
      const double f = a[i][k] / a[k][k];
      for (int j = k; j < n; ++j) a[i][j] -= f * a[k][j];
      b[i] -= f * b[k];
    }
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int j = i + 1; j < n; ++j) s -= a[i][j] * x[j];
    x[i] = s / a[i][i];
  }
  return true;
}

// Damped Gauss-Newton on the first count parameters of p (the rest held); returns the
// sum of squared misfits reached.
double FitProfile(const std::vector<Sample>& samples, Profile& p, int count, int iterations) {
  double jtj[5][5];
  double jtr[5];
  double cost = Misfit(samples, p, count, jtj, jtr);
  double damping = 1e-3;
  for (int it = 0; it < iterations && damping < 1e8; ++it) {
    double a[5][5];
    double b[5];
    for (int i = 0; i < count; ++i) {
      for (int j = 0; j < count; ++j) a[i][j] = jtj[i][j] + (i == j ? damping * jtj[i][i] + 1e-12 : 0.0);
      b[i] = -jtr[i];
    }
    double step[5];
    Profile trial = p;
    if (SolveSmall(a, b, count, step)) {
      for (int i = 0; i < count; ++i) trial[static_cast<size_t>(i)] += step[i];
    }
    trial[kLogSigma] = std::clamp(trial[kLogSigma], std::log(0.5 * kEdgeLeastSigma), std::log(kEdgeMostSigma));
    const double next = Misfit(samples, trial, count, nullptr, nullptr);
    if (next < cost) {
      const bool settled = cost - next <= 1e-10 * cost;
      p = trial;
      cost = Misfit(samples, p, count, jtj, jtr);
      damping = std::max(1e-9, damping / 3.0);
      if (settled) break;
    } else {
      damping *= 4.0;
    }
  }
  return cost;
}

// A site kept: its window and its profile fitted alone.
struct Site {
  std::vector<Sample> samples;
  Profile alone;
};

// The site's profile fitted alone, or false when it does not look like one straight edge.
bool FitSite(std::vector<Sample> samples, double half, Site& site) {
  double dark = 0.0;
  double light = 0.0;
  int darkCount = 0;
  int lightCount = 0;
  for (const Sample& s : samples) {
    if (s.d < -2.0) {
      dark += s.value;
      ++darkCount;
    } else if (s.d > 2.0) {
      light += s.value;
      ++lightCount;
    }
  }
  if (darkCount == 0 || lightCount == 0) return false;
  Profile p{dark / darkCount, light / lightCount - dark / darkCount, 0.0, 0.0, std::log(0.8)};
  const double cost = FitProfile(samples, p, 5, 25);
  const double rms = std::sqrt(cost / static_cast<double>(samples.size()));
  if (!(p[kContrast] >= kEdgeMinContrast && rms <= kEdgeMaxMisfit * p[kContrast])) return false;
  if (!(std::fabs(p[kOffset]) <= 1.0 && std::fabs(p[kSlant]) <= 0.3)) return false;
  // A blur the window does not hold both ends of is a ramp to it.
  if (!(std::exp(p[kLogSigma]) * kEdgeWindowSigmas <= half)) return false;
  site.samples = std::move(samples);
  site.alone = p;
  return true;
}

std::vector<Site> FindSites(const LumaRegion& r, const std::vector<Candidate>& candidates, double half) {
  std::vector<Site> sites;
  // The pixels within kEdgeSpacing of a site tried.
  std::vector<char> taken(r.v.size(), 0);
  const int reach = static_cast<int>(std::ceil(kEdgeSpacing));
  // Which candidates are tried depends on the earlier ones tried, not on their fits: a batch
  // of them is chosen in order, fitted on the thread pool, and kept in order up to the most
  // sites, as one by one.
  constexpr size_t kBatch = 16;
  struct Trial {
    std::vector<Sample> samples;
    bool windowed = false;
    bool fitted = false;
    Site site;
  };
  std::vector<Trial> batch;
  size_t next = 0;
  while (next < candidates.size() && static_cast<int>(sites.size()) < kEdgeMaxSites) {
    batch.clear();
    for (; next < candidates.size() && batch.size() < kBatch; ++next) {
      const Candidate& c = candidates[next];
      if (taken[static_cast<size_t>(c.y) * r.width + c.x] != 0) continue;
      for (int y = std::max(0, c.y - reach); y <= std::min(r.height - 1, c.y + reach); ++y) {
        for (int x = std::max(0, c.x - reach); x <= std::min(r.width - 1, c.x + reach); ++x) {
          if (std::hypot(x - c.x, y - c.y) < kEdgeSpacing) taken[static_cast<size_t>(y) * r.width + x] = 1;
        }
      }
      batch.emplace_back();
      batch.back().windowed = Window(r, c, half, batch.back().samples);
    }
    ParallelFor(0, static_cast<int>(batch.size()), 50000, [&](int first, int last) {
      for (int i = first; i < last; ++i) {
        Trial& t = batch[static_cast<size_t>(i)];
        t.fitted = t.windowed && FitSite(t.samples, half, t.site);
      }
    });
    for (Trial& t : batch) {
      if (static_cast<int>(sites.size()) >= kEdgeMaxSites) break;
      if (t.fitted) sites.push_back(std::move(t.site));
    }
  }
  return sites;
}

// Every site fitted with sigma given: the sum of their shares of misfit (squared rms over
// squared contrast, at most kEdgeMaxMisfit squared); kept receives the sites under that cap
// and share their mean share.
double PooledMisfit(const std::vector<Site>& sites, double sigma, int& kept, double& share) {
  const double cap = kEdgeMaxMisfit * kEdgeMaxMisfit;
  // The sites' fits on the thread pool, each into its own slot; the sums in site order.
  std::vector<double> shares(sites.size());
  ParallelFor(0, static_cast<int>(sites.size()), 20000, [&](int first, int last) {
    for (int i = first; i < last; ++i) {
      const Site& s = sites[static_cast<size_t>(i)];
      Profile p = s.alone;
      p[kLogSigma] = std::log(sigma);
      const double cost = FitProfile(s.samples, p, 4, 8);
      const double contrast = std::max(std::fabs(p[kContrast]), 1e-9);
      shares[static_cast<size_t>(i)] = cost / (static_cast<double>(s.samples.size()) * contrast * contrast);
    }
  });
  double total = 0.0;
  double keptTotal = 0.0;
  kept = 0;
  for (const double one : shares) {
    if (one < cap) {
      ++kept;
      keptTotal += one;
    }
    total += std::min(one, cap);
  }
  share = kept > 0 ? keptTotal / kept : 0.0;
  return total;
}

// The reading of windows of half side `half`, sigmas up to half / kEdgeWindowSigmas.
EdgePsfReading ReadInWindows(const LumaRegion& region, const std::vector<Candidate>& candidates, double half) {
  EdgePsfReading reading;
  const std::vector<Site> sites = FindSites(region, candidates, half);
  if (static_cast<int>(sites.size()) < kEdgeMinSites) {
    reading.edges = static_cast<int>(sites.size());
    return reading;
  }
  int kept = 0;
  double share = 0.0;
  // A coarse scan of log sigma over the range, then golden-section search around its best.
  constexpr int kScan = 12;
  const double lo = std::log(kEdgeLeastSigma);
  const double hi = std::log(half / kEdgeWindowSigmas);
  const double step = (hi - lo) / (kScan - 1);
  int best = 0;
  double bestCost = HUGE_VAL;
  for (int i = 0; i < kScan; ++i) {
    const double cost = PooledMisfit(sites, std::exp(lo + i * step), kept, share);
    if (cost < bestCost) {
      bestCost = cost;
      best = i;
    }
  }
  double a = lo + std::max(0, best - 1) * step;
  double b = lo + std::min(kScan - 1, best + 1) * step;
  const double ratio = (std::sqrt(5.0) - 1.0) / 2.0;
  double c = b - ratio * (b - a);
  double d = a + ratio * (b - a);
  double fc = PooledMisfit(sites, std::exp(c), kept, share);
  double fd = PooledMisfit(sites, std::exp(d), kept, share);
  while (b - a > 1e-3) {
    if (fc <= fd) {
      b = d;
      d = c;
      fd = fc;
      c = b - ratio * (b - a);
      fc = PooledMisfit(sites, std::exp(c), kept, share);
    } else {
      a = c;
      c = d;
      fc = fd;
      d = a + ratio * (b - a);
      fd = PooledMisfit(sites, std::exp(d), kept, share);
    }
  }
  const double sigma = std::exp(0.5 * (a + b));
  PooledMisfit(sites, sigma, kept, share);
  reading.edges = kept;
  reading.misfit = std::sqrt(share);
  if (kept >= kEdgeMinSites) reading.sigma = sigma;
  return reading;
}

}  // namespace

EdgePsfReading ReadEdgePsf(const ColorGrayImage& frame, const RoiRect& region, SampleDepth depth) {
  const LumaRegion luma = ReadLuma(frame, region, depth);
  const std::vector<Candidate> candidates = FindCandidates(luma);
  EdgePsfReading reading;
  for (double half : kEdgeWindows) {
    const EdgePsfReading r = ReadInWindows(luma, candidates, half);
    // The first found, or (when none is) the most sites any window kept.
    if (!reading.Found() && (r.Found() || r.edges > reading.edges)) reading = r;
    if (r.Found() && r.sigma * kEdgeWindowSigmas * kEdgeWindowRoom <= half) return r;
  }
  return reading;
}

EdgePsfReading AsBlurBound(EdgePsfReading reading) {
  if (reading.Found() && reading.sigma < kPixelBoxSigma && reading.sigma >= kBoxReadingShare * kPixelBoxSigma) {
    reading.sigma = kPixelBoxSigma;
  }
  return reading;
}

RoiRect EdgeRegion(const HrGeometry& grid, int width, int height) {
  const double left = grid.x0 / grid.scale;
  const double top = grid.y0 / grid.scale;
  const double right = (grid.x0 + grid.width) / grid.scale;
  const double bottom = (grid.y0 + grid.height) / grid.scale;
  const auto span = [](double from, double to, int limit, int32_t& lo, int32_t& hi) {
    double a = from - kEdgeRegionMargin;
    double b = to + kEdgeRegionMargin;
    const double side = std::clamp(b - a, static_cast<double>(kEdgeRegionSide), static_cast<double>(kEdgeRegionMostSide));
    if (b - a != side) {
      const double centre = 0.5 * (from + to);
      a = centre - 0.5 * side;
      b = centre + 0.5 * side;
    }
    lo = static_cast<int32_t>(std::clamp(std::floor(a), 0.0, static_cast<double>(limit)));
    hi = static_cast<int32_t>(std::clamp(std::ceil(b), 0.0, static_cast<double>(limit)));
  };
  RoiRect r;
  span(left, right, width, r.left, r.right);
  span(top, bottom, height, r.top, r.bottom);
  return r;
}

}  // namespace lumet
