#pragma once

namespace lumet {

// Score logged for a frame with too few pairs for a search.
inline constexpr double kTooFewPairs = 99999.9;
// The smallest sample a search is run with.
inline constexpr int kMinSampleSize = 6;

// Pairs per trial and the pool of best pairs the trials draw from.
struct SearchSizes {
  int sampleSize = 0;
  int poolSize = 0;
  // False when the sample is too small (below kMinSampleSize) for a search to run.
  bool Searchable() const { return sampleSize >= kMinSampleSize; }
};

// The user's sizes, or, when the pool asked for exceeds the pairs found, pairCount - 5 and
// pairCount - 1. With ransacFirst <= ransacSecond (or ransacSecond above the pair count),
// a searchable result always satisfies sampleSize <= poolSize <= pairCount.
SearchSizes ChooseSearchSizes(int ransacFirst, int ransacSecond, int pairCount);

}  // namespace lumet
