#include "reconstruction/enhanced/local_motion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstddef>

#include "numeric/pixel_map.h"
#include "numeric/cubic_kernel.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// Gauss-Newton steps of the sub-pixel refinement.
constexpr int kRefineSteps = 6;
// Sub-pixel steps below this (LR pixels) end the refinement.
constexpr double kRefineDone = 1e-3;

// Block side (frame pixels) of the search, the margin its matching window adds on each side,
// and the farthest whole-pixel offset tried (LR pixels): an object as fast as twice the
// camera's typical pan between neighbours a window of 5 apart.
constexpr int kMotionBlock = 8;
constexpr int kMotionWindowMargin = 2;
constexpr int kMotionSearch = 6;

// Bilinear interpolation in the cell whose top-left pixel is p (rows of width), at fractions
// (ax, ay).
inline double BilinearCell(const double* p, size_t width, double ax, double ay) {
  const double top = (1.0 - ax) * p[0] + ax * p[1];
  const double bottom = (1.0 - ax) * p[width] + ax * p[width + 1];
  return (1.0 - ay) * top + ay * bottom;
}

// A frame's green channel in the rows it holds (frames are kept only where the grid reaches),
// as doubles; look-ups clamp to those rows.
struct HeldPlane {
  int width = 0;
  int first = 0;
  int rows = 0;
  std::vector<double> v;

  explicit HeldPlane(const GrayImage& g) : width(g.Width()), first(g.FirstRow()), rows(g.HeldRows()) {
    v.resize(static_cast<size_t>(width) * static_cast<size_t>(rows));
    for (int y = 0; y < rows; ++y) {
      const uint8_t* row = g.Row(first + y);
      std::copy(row, row + width, v.begin() + static_cast<std::ptrdiff_t>(y) * width);
    }
  }
  double At(int x, int y) const {
    x = std::clamp(x, 0, width - 1);
    y = std::clamp(y - first, 0, rows - 1);
    return v[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
  // The look-ups read the plane directly where every tap lies inside it (nearly always: the
  // search reads them by the hundred per pixel), and clamp only near its edges, with the same
  // products and sums either way.
  double Bilinear(double x, double y) const {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    const double ax = x - fx;
    const double ay = y - fy;
    if (fx >= 0.0 && fx <= width - 2.0 && fy >= first && fy <= first + rows - 2.0) {
      const size_t row = static_cast<size_t>(iy - first);
      return BilinearCell(v.data() + row * static_cast<size_t>(width) + static_cast<size_t>(ix),
                          static_cast<size_t>(width), ax, ay);
    }
    const double top = (1.0 - ax) * At(ix, iy) + ax * At(ix + 1, iy);
    const double bottom = (1.0 - ax) * At(ix, iy + 1) + ax * At(ix + 1, iy + 1);
    return (1.0 - ay) * top + ay * bottom;
  }
  double Cubic(double x, double y) const {
    const double t = y - first;
    const double fx = std::floor(x);
    const double fy = std::floor(t);
    if (fx >= 1.0 && fx <= width - 3.0 && fy >= 1.0 && fy <= rows - 3.0) {
      double wx[4];
      double wy[4];
      CubicWeights(x - fx, wx);
      CubicWeights(t - fy, wy);
      const size_t stride = static_cast<size_t>(width);
      const double* p = v.data() + static_cast<size_t>(fy - 1.0) * stride + static_cast<size_t>(fx - 1.0);
      double sum = 0.0;
      for (int b = 0; b < 4; ++b) {
        double across = 0.0;
        for (int a = 0; a < 4; ++a) across += wx[a] * p[static_cast<size_t>(b) * stride + static_cast<size_t>(a)];
        sum += wy[b] * across;
      }
      return sum;
    }
    return CubicSample(x, t, width, rows, [&](int i, int j) { return At(i, j + first); });
  }
  // Whether every position of w lies where the cubic look-up reads the plane itself, not its
  // edge repeated: beyond frame 0's border a frame cannot be told to agree or to move.
  template <typename Window>
  bool Holds(const Window& w) const {
    for (size_t i = 0; i < w.Size(); ++i) {
      if (!(w.x[i] >= 1.0 && w.x[i] <= width - 3.0 && w.y[i] >= first + 1.0 && w.y[i] <= first + rows - 3.0)) {
        return false;
      }
    }
    return true;
  }
};

// One frame's pixels beside frame 0: where the homography takes each of them in frame 0.
struct FramePair {
  const HeldPlane& frame0;
  const GrayImage& frame;
  PixelMap toReference;

  // False when the pixel's position is not a number (a degenerate homography).
  bool Reference(int u, int v, double& x, double& y) const {
    toReference.Apply(u, v, x, y);
    return std::isfinite(x) && std::isfinite(y) && std::fabs(x) < 1e7 && std::fabs(y) < 1e7;
  }
  int FirstRow() const { return frame.FirstRow(); }
  int EndRow() const { return frame.FirstRow() + frame.HeldRows(); }
};

// A block's matching window: its pixels' values, their reference positions, and the values'
// gradient carried to reference coordinates. The frame's own gradient steers the refinement:
// frame 0's, read where it is sampled, shares its noise and pulls each step short (at a noise
// of 2 grey levels, by a twentieth of a pixel).
struct Window {
  std::vector<double> value;
  std::vector<double> x;
  std::vector<double> y;
  std::vector<double> gx;
  std::vector<double> gy;

  size_t Size() const { return value.size(); }
};

// The frame pixels u0 .. u1 - 1, v0 .. v1 - 1 it holds, with their gradients.
Window WindowOf(const FramePair& pair, int u0, int v0, int u1, int v1) {
  Window w;
  const int width = pair.frame.Width();
  const auto at = [&](int u, int v) {
    const int row = std::clamp(v, pair.FirstRow(), pair.EndRow() - 1);
    return static_cast<double>(pair.frame.Row(row)[std::clamp(u, 0, width - 1)]);
  };
  // The frame's axes in reference coordinates near the window (the homography's Jacobian),
  // inverted and transposed to carry gradients.
  double rx[3] = {};
  double ry[3] = {};
  for (int k = 0; k < 3; ++k) {
    if (!pair.Reference((u0 + u1) / 2 + (k == 1 ? 1 : 0), (v0 + v1) / 2 + (k == 2 ? 1 : 0), rx[k], ry[k])) return w;
  }
  const double j[2][2] = {{rx[1] - rx[0], rx[2] - rx[0]}, {ry[1] - ry[0], ry[2] - ry[0]}};  // d(reference) / d(frame)
  const double det = j[0][0] * j[1][1] - j[0][1] * j[1][0];
  if (!(std::fabs(det) > 1e-9)) return w;
  const size_t most = static_cast<size_t>(std::max(0, u1 - u0)) * static_cast<size_t>(std::max(0, v1 - v0));
  for (std::vector<double>* v : {&w.value, &w.x, &w.y, &w.gx, &w.gy}) v->reserve(most);
  for (int v = std::max(pair.FirstRow(), v0); v < std::min(pair.EndRow(), v1); ++v) {
    for (int u = std::max(0, u0); u < std::min(width, u1); ++u) {
      double x = 0.0;
      double y = 0.0;
      if (!pair.Reference(u, v, x, y)) continue;
      w.value.push_back(at(u, v));
      w.x.push_back(x);
      w.y.push_back(y);
      const double du = (at(u + 1, v) - at(u - 1, v)) / 2.0;
      const double dv = (at(u, v + 1) - at(u, v - 1)) / 2.0;
      // grad_reference = J^-T grad_frame.
      w.gx.push_back((j[1][1] * du - j[1][0] * dv) / det);
      w.gy.push_back((-j[0][1] * du + j[0][0] * dv) / det);
    }
  }
  return w;
}

// How a window's values follow frame 0's: value = gain * frame 0 + offset. Frames of another
// brightness (a camera's exposure, a light) match through it, so that a change of brightness
// is not read as motion and motion is found before the brightness is matched (which a large
// moving object would mislead).
struct Line {
  double gain = 1.0;
  double offset = 0.0;
};

// The gains a window may take: a texture's own contrast is not to be matched by scaling
// another one.
constexpr double kLeastGain = 0.67;
constexpr double kGreatestGain = 1.5;

// Mean square difference between the window and frame 0's values reference(i) for its pixels i
// through the line fitted between them (its gain clamped to kLeastGain .. kGreatestGain),
// which line receives.
template <typename Reference>
double MeanSquareOf(const Window& w, Reference reference, Line* line = nullptr) {
  const size_t n = w.Size();
  if (n == 0) return 0.0;
  double sa = 0.0, sb = 0.0, saa = 0.0, sab = 0.0, sbb = 0.0;  // sums of a, b and their products
  for (size_t i = 0; i < n; ++i) {
    const double a = reference(i);
    const double b = w.value[i];
    sa += a;
    sb += b;
    saa += a * a;
    sab += a * b;
    sbb += b * b;
  }
  const double count = static_cast<double>(n);
  const double ma = sa / count;
  const double mb = sb / count;
  const double aa = std::max(0.0, saa / count - ma * ma);
  const double ab = sab / count - ma * mb;
  const double bb = std::max(0.0, sbb / count - mb * mb);
  const double gain = std::clamp(aa > 0.0 ? ab / aa : 1.0, kLeastGain, kGreatestGain);
  if (line != nullptr) *line = Line{gain, mb - gain * ma};
  return std::max(0.0, bb - 2.0 * gain * ab + gain * gain * aa);
}

// The same at the window's positions moved by (dx, dy); sample reads frame 0.
template <typename Sample>
double MeanSquare(const Window& w, double dx, double dy, Sample sample, Line* line = nullptr) {
  return MeanSquareOf(w, [&](size_t i) { return sample(w.x[i] + dx, w.y[i] + dy); }, line);
}

// The bilinear look-ups of a window's positions moved by whole pixels: each position keeps its
// cell's fractions, so they are found once for the search, and the cells are read directly
// when every offset searched keeps them inside the plane.
struct ShiftedCells {
  std::vector<size_t> cell;  // the top-left pixel's index in the held plane
  std::vector<double> ax;
  std::vector<double> ay;
  bool inside = true;

  ShiftedCells(const Window& w, const HeldPlane& plane, int reach) {
    const size_t n = w.Size();
    cell.resize(n);
    ax.resize(n);
    ay.resize(n);
    for (size_t i = 0; i < n && inside; ++i) {
      const double fx = std::floor(w.x[i]);
      const double fy = std::floor(w.y[i]) - plane.first;
      inside = fx >= reach && fx <= plane.width - 2.0 - reach && fy >= reach && fy <= plane.rows - 2.0 - reach;
      if (!inside) break;
      cell[i] = static_cast<size_t>(fy) * static_cast<size_t>(plane.width) + static_cast<size_t>(fx);
      ax[i] = w.x[i] - std::floor(w.x[i]);
      ay[i] = w.y[i] - std::floor(w.y[i]);
    }
  }
  // Frame 0 at pixel i's position moved by `shift` plane elements.
  double At(const HeldPlane& plane, size_t i, std::ptrdiff_t shift) const {
    return BilinearCell(plane.v.data() + static_cast<std::ptrdiff_t>(cell[i]) + shift,
                        static_cast<size_t>(plane.width), ax[i], ay[i]);
  }
};

// A block's best whole-pixel offset counts only when every other one two or more pixels from
// it leaves more than this times its difference (mean square).
constexpr double kMotionUnique = 1.5;

// The best whole-pixel offset of a window's content (bilinear look-up), within kMotionSearch;
// false when another one at least two pixels from it matches nearly as well
// (kMotionUnique): a pattern that repeats within the search (a chequerboard, a fence, a
// line of text) looks alike at more than one place, and none of them is known to be motion.
bool WholePixelSearch(const Window& w, const HeldPlane& frame0, double& dx, double& dy) {
  const auto bilinear = [&](double x, double y) { return frame0.Bilinear(x, y); };
  const ShiftedCells cells(w, frame0, kMotionSearch);
  constexpr int kSide = 2 * kMotionSearch + 1;
  std::vector<double> e(static_cast<size_t>(kSide) * kSide);
  size_t best = 0;
  for (int oy = -kMotionSearch; oy <= kMotionSearch; ++oy) {
    for (int ox = -kMotionSearch; ox <= kMotionSearch; ++ox) {
      const size_t i = static_cast<size_t>(oy + kMotionSearch) * kSide + static_cast<size_t>(ox + kMotionSearch);
      const std::ptrdiff_t shift = static_cast<std::ptrdiff_t>(oy) * frame0.width + ox;
      e[i] = cells.inside ? MeanSquareOf(w, [&](size_t j) { return cells.At(frame0, j, shift); })
                          : MeanSquare(w, ox, oy, bilinear);
      if (e[i] < e[best]) best = i;
    }
  }
  const int bx = static_cast<int>(best % kSide);
  const int by = static_cast<int>(best / kSide);
  dx = bx - kMotionSearch;
  dy = by - kMotionSearch;
  for (size_t i = 0; i < e.size(); ++i) {
    const int x = static_cast<int>(i % kSide);
    const int y = static_cast<int>(i / kSide);
    if (std::max(std::abs(x - bx), std::abs(y - by)) >= 2 && e[i] < kMotionUnique * e[best]) return false;
  }
  return true;
}

// Tukey's biweight of residual r at scale c.
double Biweight(double r, double c) {
  const double t = r / c;
  return std::fabs(t) < 1.0 ? (1.0 - t * t) * (1.0 - t * t) : 0.0;
}

// The biweight's scale for residuals r: kBiweightScale times their robust spread (median
// absolute deviation from the median), at least kBiweightFloor grey levels.
constexpr double kBiweightScale = 4.685;
constexpr double kBiweightFloor = 1.0;
double BiweightScale(std::vector<double> r) {
  if (r.empty()) return kBiweightFloor;
  const auto mid = r.begin() + static_cast<std::ptrdiff_t>(r.size() / 2);
  std::nth_element(r.begin(), mid, r.end());
  const double median = *mid;
  for (double& v : r) v = std::fabs(v - median);
  std::nth_element(r.begin(), mid, r.end());
  return std::max(kBiweightFloor, kBiweightScale * 1.4826 * *mid);
}

// Gauss-Newton steps on the cubic look-up from (dx, dy) through the window's line
// (MeanSquare), refitted at each step, each pixel weighed by the biweight of its residual: in a
// window that holds part of the scene beside what moved, the scene's pixels would pull the
// offset a tenth of a pixel off. Returns the mean square reached (unweighted).
double RefineOffset(const Window& w, const HeldPlane& frame0, double& dx, double& dy) {
  const auto cubic = [&](double x, double y) { return frame0.Cubic(x, y); };
  const size_t n = w.Size();
  const std::vector<double>& gx = w.gx;
  const std::vector<double>& gy = w.gy;
  std::vector<double> r(n);
  std::vector<double> weight(n);
  for (int step = 0; step < kRefineSteps; ++step) {
    Line line;
    MeanSquare(w, dx, dy, cubic, &line);
    for (size_t i = 0; i < n; ++i) r[i] = line.gain * cubic(w.x[i] + dx, w.y[i] + dy) + line.offset - w.value[i];
    const double scale = BiweightScale(r);
    double total = 0.0;
    double mr = 0.0;
    double mx = 0.0;
    double my = 0.0;
    for (size_t i = 0; i < n; ++i) {
      weight[i] = Biweight(r[i], scale);
      total += weight[i];
      mr += weight[i] * r[i];
      mx += weight[i] * gx[i];
      my += weight[i] * gy[i];
    }
    if (!(total > 0.0)) break;
    mr /= total;
    mx /= total;
    my /= total;
    // The weighted means taken out: the offset of the line is refitted with the step.
    double xx = 0.0, xy = 0.0, yy = 0.0, ex = 0.0, ey = 0.0;  // the normal equations
    for (size_t i = 0; i < n; ++i) {
      const double px = gx[i] - mx;
      const double py = gy[i] - my;
      const double pr = r[i] - mr;
      xx += weight[i] * px * px;
      xy += weight[i] * px * py;
      yy += weight[i] * py * py;
      ex += weight[i] * px * pr;
      ey += weight[i] * py * pr;
    }
    const double det = xx * yy - xy * xy;
    if (!(det > 1e-9 * (xx + yy) * (xx + yy))) break;
    const double sx = -(yy * ex - xy * ey) / det;
    const double sy = -(xx * ey - xy * ex) / det;
    // A step out of the whole-pixel cell it started in is not trusted.
    if (!(std::fabs(sx) < 1.0 && std::fabs(sy) < 1.0)) break;
    dx += sx;
    dy += sy;
    if (std::fabs(sx) + std::fabs(sy) < kRefineDone) break;
  }
  return MeanSquare(w, dx, dy, cubic);
}

struct Block {
  bool inside = false;  // its centre sees the grid grown by the search
  double still = 0.0;   // mean square against frame 0 where the homography puts it
  Line stillLine;       // through which
  bool moved = false;
  bool clean = false;  // its offset explains it as well as the homography explains the scene
  double dx = 0.0;
  double dy = 0.0;
  int component = -1;
};

// The block lattice of one frame: kMotionBlock pixels a side, from the frame's corner.
struct Blocks {
  int across = 0;
  int down = 0;
  double gate = 0.0;  // kMotionGate squared times the still level (SearchBlocks)
  Line line;          // the frame's brightness against frame 0's: the blocks' median (StillLevel)
  std::vector<Block> b;

  Block& At(int x, int y) { return b[static_cast<size_t>(y) * static_cast<size_t>(across) + static_cast<size_t>(x)]; }
};

Window BlockWindow(const FramePair& pair, int bx, int by, int margin) {
  const int u0 = bx * kMotionBlock;
  const int v0 = by * kMotionBlock;
  return WindowOf(pair, u0 - margin, v0 - margin, u0 + kMotionBlock + margin, v0 + kMotionBlock + margin);
}

// Every block's difference from frame 0 where the homography puts it.
Blocks MeasureBlocks(const FramePair& pair, const HrGeometry& grid) {
  // The reference positions searched: the grid's, grown by the search and a block.
  const double reach = kMotionSearch + kMotionBlock;
  const double loX = grid.x0 / grid.scale - reach;
  const double hiX = (grid.x0 + grid.width - 1) / grid.scale + reach;
  const double loY = grid.y0 / grid.scale - reach;
  const double hiY = (grid.y0 + grid.height - 1) / grid.scale + reach;
  Blocks blocks;
  blocks.across = (pair.frame.Width() + kMotionBlock - 1) / kMotionBlock;
  blocks.down = (pair.frame.Height() + kMotionBlock - 1) / kMotionBlock;
  blocks.b.resize(static_cast<size_t>(blocks.across) * static_cast<size_t>(blocks.down));
  ParallelFor(0, blocks.down, 20000L * blocks.across, [&](int first, int last) {
    for (int by = first; by < last; ++by) {
      for (int bx = 0; bx < blocks.across; ++bx) {
        const int cu = std::min(pair.frame.Width() - 1, bx * kMotionBlock + kMotionBlock / 2);
        const int cv = std::min(pair.frame.Height() - 1, by * kMotionBlock + kMotionBlock / 2);
        double cx = 0.0;
        double cy = 0.0;
        if (cv < pair.FirstRow() || cv >= pair.EndRow() || !pair.Reference(cu, cv, cx, cy)) continue;
        if (!(cx >= loX && cx <= hiX && cy >= loY && cy <= hiY)) continue;
        const Window w = BlockWindow(pair, bx, by, kMotionWindowMargin);
        if (w.Size() < static_cast<size_t>(kMotionBlock * kMotionBlock) || !pair.frame0.Holds(w)) continue;
        Block& b = blocks.At(bx, by);
        b.inside = true;
        b.still = MeanSquare(w, 0.0, 0.0, [&](double x, double y) { return pair.frame0.Cubic(x, y); }, &b.stillLine);
      }
    }
  });
  return blocks;
}

// The median of values (empty: fallback).
double Median(std::vector<double> values, double fallback) {
  if (values.empty()) return fallback;
  const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), mid, values.end());
  return *mid;
}

// What a registered scene differs by: the median of the blocks' differences, or the noise's
// share, whichever is more. The frame's line (Blocks::line) is the blocks' median gain and
// offset, which most of them show however much of the frame moves.
double StillLevel(Blocks& blocks, double noise) {
  std::vector<double> still;
  std::vector<double> gains;
  std::vector<double> offsets;
  for (const Block& b : blocks.b) {
    if (!b.inside) continue;
    still.push_back(b.still);
    gains.push_back(b.stillLine.gain);
    offsets.push_back(b.stillLine.offset);
  }
  blocks.line = Line{Median(gains, 1.0), Median(offsets, 0.0)};
  return std::max(noise * noise, Median(still, 0.0));
}

// A block is searched only when it differs from frame 0 by more than kMotionGate times what
// a registered scene differs by (root mean square, through the line that matches their
// brightness: the median block's, at least the noise): aliasing and noise do that much. Its
// best offset is taken when it leaves at most kMotionAccept of that difference (mean square).
constexpr double kMotionGate = 2.0;
constexpr double kMotionAccept = 0.25;
// Offsets shorter than this (LR pixels) are not motion: a registration's local error, a
// change of brightness or blur across the frame fits them as well, and the agreement weights
// take care of what little they misplace.
constexpr double kMotionLeast = 1.0;

// Searches the blocks that differ by more than kMotionGate times the still level (root mean
// square) and keeps the offsets that leave at most kMotionAccept of their difference. Those
// that leave less than that gate are clean: the others hold the border of what moved, or
// match a look-alike elsewhere.
void SearchBlocks(const FramePair& pair, double level, Blocks& blocks) {
  blocks.gate = kMotionGate * kMotionGate * level;
  const double gate = blocks.gate;
  ParallelFor(0, blocks.down, 200000L * blocks.across, [&](int first, int last) {
    for (int by = first; by < last; ++by) {
      for (int bx = 0; bx < blocks.across; ++bx) {
        Block& b = blocks.At(bx, by);
        if (!b.inside || !(b.still > gate)) continue;
        const Window w = BlockWindow(pair, bx, by, kMotionWindowMargin);
        double dx = 0.0;
        double dy = 0.0;
        if (!WholePixelSearch(w, pair.frame0, dx, dy)) continue;
        const double moved = RefineOffset(w, pair.frame0, dx, dy);
        if (moved < kMotionAccept * b.still && std::hypot(dx, dy) >= kMotionLeast) {
          b.moved = true;
          b.clean = moved < gate;
          b.dx = dx;
          b.dy = dy;
        }
      }
    }
  });
}

// Neighbouring blocks whose offsets differ by less than this (LR pixels) move as one.
constexpr double kMotionJoin = 1.0;

// The clean blocks joined to block (bx, by) through neighbours whose offsets differ by less
// than kMotionJoin, marked as component c.
std::vector<std::pair<int, int>> FloodComponent(Blocks& blocks, int bx, int by, int c) {
  std::vector<std::pair<int, int>> members{{bx, by}};
  blocks.At(bx, by).component = c;
  for (size_t i = 0; i < members.size(); ++i) {
    const auto [x, y] = members[i];
    for (int ny = std::max(0, y - 1); ny <= std::min(blocks.down - 1, y + 1); ++ny) {
      for (int nx = std::max(0, x - 1); nx <= std::min(blocks.across - 1, x + 1); ++nx) {
        Block& n = blocks.At(nx, ny);
        if (!n.clean || n.component >= 0) continue;
        if (std::hypot(n.dx - blocks.At(x, y).dx, n.dy - blocks.At(x, y).dy) >= kMotionJoin) continue;
        n.component = c;
        members.emplace_back(nx, ny);
      }
    }
  }
  return members;
}

// Neighbouring clean blocks whose offsets differ by less than kMotionJoin are one object:
// its offset is refined once over all their pixels, whose aliasing errors average out
// where a block's alone would misplace its pixels by a tenth of a pixel. The moved blocks
// beside it whose offsets are as close (its border, part scene) take its offset too.
void JoinObjects(const FramePair& pair, Blocks& blocks) {
  int components = 0;
  for (int by = 0; by < blocks.down; ++by) {
    for (int bx = 0; bx < blocks.across; ++bx) {
      if (!blocks.At(bx, by).clean || blocks.At(bx, by).component >= 0) continue;
      const std::vector<std::pair<int, int>> members = FloodComponent(blocks, bx, by, components++);
      Window w;
      double dx = 0.0;
      double dy = 0.0;
      for (const auto& [x, y] : members) {
        const Window part = BlockWindow(pair, x, y, 0);
        w.value.insert(w.value.end(), part.value.begin(), part.value.end());
        w.x.insert(w.x.end(), part.x.begin(), part.x.end());
        w.y.insert(w.y.end(), part.y.begin(), part.y.end());
        w.gx.insert(w.gx.end(), part.gx.begin(), part.gx.end());
        w.gy.insert(w.gy.end(), part.gy.begin(), part.gy.end());
        dx += blocks.At(x, y).dx / static_cast<double>(members.size());
        dy += blocks.At(x, y).dy / static_cast<double>(members.size());
      }
      if (members.size() > 1 && !(RefineOffset(w, pair.frame0, dx, dy) < blocks.gate)) continue;
      for (const auto& [x, y] : members) {
        for (int ny = std::max(0, y - 1); ny <= std::min(blocks.down - 1, y + 1); ++ny) {
          for (int nx = std::max(0, x - 1); nx <= std::min(blocks.across - 1, x + 1); ++nx) {
            Block& n = blocks.At(nx, ny);
            const bool member = n.component == components - 1;
            if (!member && (!n.moved || n.clean || std::hypot(n.dx - dx, n.dy - dy) >= kMotionJoin)) continue;
            n.dx = dx;
            n.dy = dy;
          }
        }
      }
    }
  }
}

// Mean square difference of the 3 x 3 neighbourhood of frame pixel (u, v) from frame 0 moved
// by (dx, dy), through the frame's line: on an object's border a line of its own would let
// the wrong side pass.
// Read in place: it runs for every candidate of every pixel near what moved.
double NeighbourhoodMeanSquare(const FramePair& pair, int u, int v, double dx, double dy, const Line& line) {
  double squares = 0.0;
  size_t count = 0;
  for (int nv = std::max(pair.FirstRow(), v - 1); nv < std::min(pair.EndRow(), v + 2); ++nv) {
    for (int nu = std::max(0, u - 1); nu < std::min(pair.frame.Width(), u + 2); ++nu) {
      double x = 0.0;
      double y = 0.0;
      if (!pair.Reference(nu, nv, x, y)) continue;
      const double d = line.gain * pair.frame0.Cubic(x + dx, y + dy) + line.offset - pair.frame.Row(nv)[nu];
      squares += d * d;
      ++count;
    }
  }
  return squares / static_cast<double>(std::max<size_t>(count, 1));
}

// A pixel keeps its offset only when at least this many of its eight neighbours share it.
constexpr int kMotionNeighbours = 3;

// What moves is a region: a pixel whose offset fewer than kMotionNeighbours of its eight
// neighbours share matched by chance, and keeps none.
void DropLoneOffsets(const FramePair& pair, LocalMotion& motion) {
  const int width = pair.frame.Width();
  std::vector<size_t> lone;
  for (int v = pair.FirstRow(); v < pair.EndRow(); ++v) {
    for (int u = 0; u < width; ++u) {
      const size_t i = motion.Index(u, v);
      if (motion.dx[i] == 0.0f && motion.dy[i] == 0.0f) continue;
      int same = 0;
      for (int nv = std::max(pair.FirstRow(), v - 1); nv <= std::min(pair.EndRow() - 1, v + 1); ++nv) {
        for (int nu = std::max(0, u - 1); nu <= std::min(width - 1, u + 1); ++nu) {
          const size_t n = motion.Index(nu, nv);
          same += (n != i && motion.dx[n] == motion.dx[i] && motion.dy[n] == motion.dy[i]) ? 1 : 0;
        }
      }
      if (same < kMotionNeighbours) lone.push_back(i);
    }
  }
  for (size_t i : lone) {
    motion.dx[i] = 0.0f;
    motion.dy[i] = 0.0f;
  }
}

// A pixel takes a neighbouring block's offset when that explains its 3 x 3 neighbourhood
// better than the homography by this factor (mean square).
constexpr double kMotionPixelAccept = 0.5;

// Each pixel next to a moved block takes the offset among its own and its neighbours' blocks'
// that explains its neighbourhood best, when that is clearly better than none: pixels on an
// object's border choose between its motion and the scene's, and what neither explains (what
// it uncovers) is left to the agreement weights.
LocalMotion AssignPixels(const FramePair& pair, Blocks& blocks) {
  const int width = pair.frame.Width();
  LocalMotion motion;
  motion.width = width;
  motion.firstRow = pair.FirstRow();
  motion.rows = pair.EndRow() - pair.FirstRow();
  motion.dx.assign(static_cast<size_t>(width) * static_cast<size_t>(motion.rows), 0.0f);
  motion.dy.assign(motion.dx.size(), 0.0f);
  ParallelFor(pair.FirstRow(), pair.EndRow(), 20000L * width, [&](int first, int last) {
    for (int v = first; v < last; ++v) {
      for (int u = 0; u < width; ++u) {
        const int bx = u / kMotionBlock;
        const int by = v / kMotionBlock;
        double best = -1.0;
        const Block* chosen = nullptr;
        for (int ny = std::max(0, by - 1); ny <= std::min(blocks.down - 1, by + 1); ++ny) {
          for (int nx = std::max(0, bx - 1); nx <= std::min(blocks.across - 1, bx + 1); ++nx) {
            const Block& b = blocks.At(nx, ny);
            if (!b.moved) continue;
            if (best < 0.0) best = kMotionPixelAccept * NeighbourhoodMeanSquare(pair, u, v, 0.0, 0.0, blocks.line);
            const double e = NeighbourhoodMeanSquare(pair, u, v, b.dx, b.dy, blocks.line);
            if (e < best) {
              best = e;
              chosen = &b;
            }
          }
        }
        if (chosen == nullptr) continue;
        const size_t i = motion.Index(u, v);
        motion.dx[i] = static_cast<float>(chosen->dx);
        motion.dy[i] = static_cast<float>(chosen->dy);
      }
    }
  });
  DropLoneOffsets(pair, motion);
  for (size_t i = 0; i < motion.dx.size(); ++i) motion.moved += motion.dx[i] != 0.0f || motion.dy[i] != 0.0f ? 1 : 0;
  return motion.moved == 0 ? LocalMotion() : motion;
}

LocalMotion FrameMotion(const FramePair& pair, const HrGeometry& grid, double noise) {
  Blocks blocks = MeasureBlocks(pair, grid);
  SearchBlocks(pair, StillLevel(blocks, noise), blocks);
  if (std::none_of(blocks.b.begin(), blocks.b.end(), [](const Block& b) { return b.moved; })) return LocalMotion();
  JoinObjects(pair, blocks);
  return AssignPixels(pair, blocks);
}

}  // namespace

std::vector<LocalMotion> EstimateLocalMotion(const std::vector<ColorGrayImage>& frames,
                                             const std::vector<Matrix>& homographies, const HrGeometry& grid,
                                             double noise) {
  std::vector<LocalMotion> motion(frames.size());
  if (frames.size() < 2) return motion;
  const HeldPlane frame0(frames[0].channels[1]);
  for (size_t k = 1; k < frames.size() && k < homographies.size(); ++k) {
    PixelMap toReference;
    const double det = Adjugate(PixelMapOf(homographies[k]), toReference);
    if (!std::isfinite(det) || det == 0.0) continue;
    const FramePair pair{frame0, frames[k].channels[1], toReference};
    motion[k] = FrameMotion(pair, grid, noise);
  }
  return motion;
}

}  // namespace lumet
