#include "registration/block_matching.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "util/parallel.h"

namespace lumet {

namespace {

bool BlockInside(const FeaturePoint& p, int s, int w, int h) {
  const double x = p.x;
  const double y = p.y;
  return s <= x && x < static_cast<double>(w) - s && s <= y && y < static_cast<double>(h) - s;
}

bool Comparable(const FeaturePoint& p, const FeaturePoint& q, int s, int d, const GrayImage& reference,
                const GrayImage& frame) {
  const double dd = d;
  return std::fabs(static_cast<double>(p.x) - static_cast<double>(q.x)) < dd &&
         std::fabs(static_cast<double>(p.y) - static_cast<double>(q.y)) < dd &&
         BlockInside(p, s, reference.Width(), reference.Height()) && BlockInside(q, s, frame.Width(), frame.Height());
}

double BlockArea(int s) {
  const int64_t side = 2 * static_cast<int64_t>(s) + 1;
  return static_cast<double>(side * side);
}

// One row per reference point, one column per frame point.
Matrix ZeroCosts(int e, int c) {
  Matrix costs;
  costs.Allocate(e, c);
  costs.Fill(0.0);
  return costs;
}

}  // namespace

Matrix BlockCostsDirect(const GrayImage& reference, const GrayImage& frame, const std::vector<FeaturePoint>& refPoints,
                        const std::vector<FeaturePoint>& framePoints, int s, int d) {
  const int e = static_cast<int>(refPoints.size());
  const int c = static_cast<int>(framePoints.size());
  Matrix costs = ZeroCosts(e, c);
  for (int j = 0; j < c; ++j) {
    for (int i = 0; i < e; ++i) {
      const FeaturePoint& p = refPoints[static_cast<size_t>(i)];
      const FeaturePoint& q = framePoints[static_cast<size_t>(j)];
      if (!Comparable(p, q, s, d, reference, frame)) {
        costs[i][j] = kNotComparable;
        continue;
      }
      const int px = static_cast<int>(p.x);
      const int py = static_cast<int>(p.y);
      const int qx = static_cast<int>(q.x);
      const int qy = static_cast<int>(q.y);
      double sum = 0.0;
      for (int v = -s; v <= s; ++v) {
        for (int u = -s; u <= s; ++u) {
          sum +=
              std::abs(static_cast<int>(reference.Row(py + v)[px + u]) - static_cast<int>(frame.Row(qy + v)[qx + u]));
        }
      }
      costs[i][j] = sum / BlockArea(s);
    }
  }
  return costs;
}

Matrix BlockCosts(const GrayImage& reference, const GrayImage& frame, const std::vector<FeaturePoint>& refPoints,
                  const std::vector<FeaturePoint>& framePoints, int s, int d) {
  const int e = static_cast<int>(refPoints.size());
  const int c = static_cast<int>(framePoints.size());
  Matrix costs = ZeroCosts(e, c);
  std::vector<std::pair<int, int>> cells;  // comparable (i, j)
  for (int j = 0; j < c; ++j) {
    for (int i = 0; i < e; ++i) {
      if (Comparable(refPoints[static_cast<size_t>(i)], framePoints[static_cast<size_t>(j)], s, d, reference, frame)) {
        cells.emplace_back(i, j);
      } else {
        costs[i][j] = kNotComparable;
      }
    }
  }
  if (cells.empty()) return costs;
  // A comparable pair has s < W / 2, so the block side cannot overflow.
  const int side = 2 * s + 1;
  const double area = BlockArea(s);
  const int count = static_cast<int>(cells.size());
  // The block sums are whole numbers far below 2^53, so an integer sum gives exactly the
  // double the plain sum gives.
  ParallelFor(0, count, static_cast<long>(side) * side, [&](int lo, int hi) {
    for (int k = lo; k < hi; ++k) {
      const auto [i, j] = cells[static_cast<size_t>(k)];
      const FeaturePoint& p = refPoints[static_cast<size_t>(i)];
      const FeaturePoint& q = framePoints[static_cast<size_t>(j)];
      const int px = static_cast<int>(p.x) - s;
      const int py = static_cast<int>(p.y);
      const int qx = static_cast<int>(q.x) - s;
      const int qy = static_cast<int>(q.y);
      int64_t sum = 0;
      for (int v = -s; v <= s; ++v) {
        const uint8_t* a = reference.Row(py + v) + px;
        const uint8_t* b = frame.Row(qy + v) + qx;
        int32_t rowSum = 0;  // at most 255 * side
        for (int u = 0; u < side; ++u) rowSum += std::abs(static_cast<int32_t>(a[u]) - static_cast<int32_t>(b[u]));
        sum += rowSum;
      }
      costs[i][j] = static_cast<double>(sum) / area;
    }
  });
  return costs;
}

std::vector<std::pair<int, int>> PairByCost(Matrix& costs) {
  const int e = costs.Rows();
  const int c = costs.Cols();
  std::vector<std::pair<int, int>> taken;
  for (int pass = 0; pass < kMaxPairs; ++pass) {
    double best = kAlreadyPaired;
    int bi = -1;
    int bj = -1;
    for (int j = 0; j < c; ++j) {
      for (int i = 0; i < e; ++i) {
        if (costs[i][j] < best) {
          best = costs[i][j];
          bi = i;
          bj = j;
        }
      }
    }
    if (bi < 0) break;  // no comparable pair left: the remaining passes would find none
    for (int j = 0; j < c; ++j) costs[bi][j] = kAlreadyPaired;
    for (int i = 0; i < e; ++i) costs[i][bj] = kAlreadyPaired;
    taken.emplace_back(bi, bj);
  }
  return taken;
}

MatchedPairs MatchBlocks(const GrayImage& reference, const GrayImage& frame, const std::vector<FeaturePoint>& refPoints,
                         const std::vector<FeaturePoint>& framePoints, int s, int d) {
  Matrix costs = BlockCosts(reference, frame, refPoints, framePoints, s, d);
  MatchedPairs pairs;
  for (const auto& [i, j] : PairByCost(costs)) {
    pairs.a.push_back(refPoints[static_cast<size_t>(i)]);
    pairs.b.push_back(framePoints[static_cast<size_t>(j)]);
  }
  return pairs;
}

}  // namespace lumet
