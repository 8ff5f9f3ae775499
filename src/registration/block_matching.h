#pragma once

#include <utility>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "registration/feature_point.h"

namespace lumet {

// Cost markers of the block-matching table: a pair that may not be compared, and an entry
// whose reference or frame point is already paired. Genuine costs lie in 0..255.
inline constexpr double kNotComparable = 999999.0;
inline constexpr double kAlreadyPaired = 99999.0;
inline constexpr int kMaxPairs = 30;

// Matched pairs, best first: a[j] in the reference frame matches b[j] in the LR frame.
struct MatchedPairs {
  std::vector<FeaturePoint> a;
  std::vector<FeaturePoint> b;
};

// The e x c cost table (reference points by frame points): the mean absolute difference of
// the (2s+1) x (2s+1) blocks around p = ref[i] and q = frame[j], or kNotComparable unless
// |p.x - q.x| < d, |p.y - q.y| < d and both blocks lie inside their images (s <= x < W - s,
// s <= y < H - s, each image with its own size). Entries are computed in parallel with
// integer block sums, identical to BlockCostsDirect.
Matrix BlockCosts(const GrayImage& reference, const GrayImage& frame, const std::vector<FeaturePoint>& refPoints,
                  const std::vector<FeaturePoint>& framePoints, int s, int d);

// The plain double-precision sums: the oracle of BlockCosts.
Matrix BlockCostsDirect(const GrayImage& reference, const GrayImage& frame, const std::vector<FeaturePoint>& refPoints,
                        const std::vector<FeaturePoint>& framePoints, int s, int d);

// Greedy pairing on a cost table (rows: reference points, columns: frame points): up to 30
// passes, each taking the strictly smallest entry below kAlreadyPaired (scanning frame
// index j outer, reference index i inner, so of equal costs the smaller j, then the
// smaller i wins) and marking its row and column paired. Returns the (i, j) pairs in the
// order taken. The table is consumed.
std::vector<std::pair<int, int>> PairByCost(Matrix& costs);

// Greedy pairing on the cost table, cheapest first, each point at most once, up to 30
// pairs. Of equal costs the smaller frame index wins, then the smaller reference index.
MatchedPairs MatchBlocks(const GrayImage& reference, const GrayImage& frame, const std::vector<FeaturePoint>& refPoints,
                         const std::vector<FeaturePoint>& framePoints, int s, int d);

}  // namespace lumet
