#include "registration/block_matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "test_images.h"

namespace lumet {
namespace {

FeaturePoint At(float x, float y) { return FeaturePoint{x, y, 1.0}; }

bool IsComparable(const GrayImage& ref, const GrayImage& frame, FeaturePoint p, FeaturePoint q, int s, int d) {
  const Matrix costs = BlockCosts(ref, frame, {p}, {q}, s, d);
  return costs[0][0] != kNotComparable;
}

TEST(BlockCosts, ComparableOnlyWithinSearchAreaAndWithBlocksInside) {
  const GrayImage ref = testing::NoiseImage(40, 30, 1);
  const GrayImage frame = testing::NoiseImage(40, 30, 2);
  const int s = 5;
  const int d = 10;
  struct Case {
    const char* name;
    FeaturePoint p, q;
    bool comparable;
  };
  const Case cases[] = {
      {"x difference equal to d", At(12, 15), At(22, 15), false},
      {"x difference d - 1", At(12, 15), At(21, 15), true},
      {"y difference equal to d", At(12, 6), At(12, 16), false},
      {"x = s", At(5, 15), At(6, 15), true},
      {"x = s - 1", At(4, 15), At(6, 15), false},
      {"x = W - s", At(35, 15), At(34, 15), false},
      {"x = W - s - 1", At(34, 15), At(34, 15), true},
      {"y = H - s", At(20, 25), At(20, 24), false},
      {"frame point x = s - 1", At(6, 15), At(4, 15), false},
      {"frame point y = H - s", At(20, 24), At(20, 25), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsComparable(ref, frame, c.p, c.q, s, d), c.comparable);
  }
  // With s = 32 on a 64-pixel-wide frame nothing is comparable.
  const GrayImage wide = testing::NoiseImage(64, 64, 3);
  EXPECT_FALSE(IsComparable(wide, wide, At(32, 32), At(32, 32), 32, 40));
  // A frame smaller than the reference is bounded by its own size, not read outside.
  const GrayImage small = testing::NoiseImage(20, 20, 4);
  EXPECT_FALSE(IsComparable(ref, small, At(16, 15), At(16, 15), s, d));
  EXPECT_TRUE(IsComparable(ref, small, At(14, 14), At(14, 14), s, d));
}

TEST(BlockCosts, MeanAbsoluteDifferenceOfTheBlocks) {
  const GrayImage ref = testing::MakeGray(20, 20, [](double x, double) { return x < 10 ? 10 : 30; });
  const GrayImage frame = testing::MakeGray(20, 20, [](double, double) { return 20; });
  const Matrix costs = BlockCosts(ref, frame, {At(10, 10)}, {At(10, 10), At(9, 9)}, 2, 5);
  EXPECT_EQ(costs[0][0], 10.0);  // every pixel differs by 10
  // The frame is shifted by one pixel: the costs still use the exact block sum / 25.
  const GrayImage step = testing::MakeGray(20, 20, [](double x, double) { return x < 9 ? 0 : 25; });
  const Matrix shifted = BlockCosts(ref, step, {At(10, 10)}, {At(10, 10)}, 2, 5);
  EXPECT_EQ(shifted[0][0], (5.0 * 10 + 5.0 * 15 + 15.0 * 5) / 25.0);
}

TEST(BlockCosts, IntegerSumsMatchTheDirectDoubleSums) {
  // Large enough that the s = 32 table is computed on several threads.
  const GrayImage ref = testing::NoiseImage(300, 220, 5);
  const GrayImage frame = testing::NoiseImage(300, 220, 6);
  std::vector<FeaturePoint> p;
  std::vector<FeaturePoint> q;
  for (int i = 0; i < 50; ++i) {
    p.push_back(At(static_cast<float>(20 + (i * 37) % 260), static_cast<float>(20 + (i * 23) % 180)));
    q.push_back(At(static_cast<float>(20 + (i * 41 + 7) % 260), static_cast<float>(20 + (i * 19 + 3) % 180)));
  }
  for (const int s : {0, 3, 12, 32}) {
    SCOPED_TRACE("s " + std::to_string(s));
    const Matrix fast = BlockCosts(ref, frame, p, q, s, 250);
    const Matrix direct = BlockCostsDirect(ref, frame, p, q, s, 250);
    ASSERT_EQ(fast.Rows(), 50);
    ASSERT_EQ(std::memcmp(fast.Data(), direct.Data(), sizeof(double) * 50 * 50), 0);
    int comparable = 0;
    for (int k = 0; k < 2500; ++k) comparable += fast.Data()[k] != kNotComparable;
    EXPECT_GT(comparable, s == 32 ? 1000 : 2000);
  }
}

Matrix Table(int e, int c, double fill) {
  Matrix m;
  m.Allocate(e, c);
  m.Fill(fill);
  return m;
}

TEST(PairByCost, CheapestFirstEachPointOnceTiesBySmallerFrameIndex) {
  {
    SCOPED_TRACE("equal costs: the smaller frame index, then the smaller reference index");
    Matrix costs = Table(2, 2, 50.0);
    costs[1][0] = 3.0;
    costs[0][1] = 3.0;
    const auto pairs = PairByCost(costs);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], (std::pair{1, 0}));
    EXPECT_EQ(pairs[1], (std::pair{0, 1}));
    Matrix zeros = Table(2, 2, 0.0);
    const auto tied = PairByCost(zeros);
    ASSERT_EQ(tied.size(), 2u);
    EXPECT_EQ(tied[0], (std::pair{0, 0}));
    EXPECT_EQ(tied[1], (std::pair{1, 1}));
  }
  {
    SCOPED_TRACE("three reference points closest to one frame point");
    Matrix costs = Table(3, 3, 200.0);
    costs[0][0] = 5.0;
    costs[1][0] = 2.0;
    costs[2][0] = 4.0;
    costs[0][1] = 9.0;
    costs[2][2] = 8.0;
    const auto pairs = PairByCost(costs);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0], (std::pair{1, 0}));
    EXPECT_EQ(pairs[1], (std::pair{2, 2}));
    EXPECT_EQ(pairs[2], (std::pair{0, 1}));
  }
  {
    SCOPED_TRACE("markers are never taken");
    Matrix costs = Table(2, 2, kNotComparable);
    costs[1][1] = 254.9;
    const auto pairs = PairByCost(costs);
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs[0], (std::pair{1, 1}));
    Matrix empty;
    EXPECT_TRUE(PairByCost(empty).empty());
  }
}

TEST(MatchBlocks, AtMostThirtyPairsOfTheShiftedPoints) {
  // The frame is the reference moved by (2, -1): frame(x + 2, y - 1) = ref(x, y).
  const GrayImage ref = testing::NoiseImage(100, 100, 8);
  const GrayImage frame = testing::MakeGray(100, 100, [&](double x, double y) {
    const int sx = static_cast<int>(x) - 2;
    const int sy = static_cast<int>(y) + 1;
    return sx >= 0 && sy < 100 ? ref.Row(sy)[sx] : 0;
  });
  std::vector<FeaturePoint> p;
  std::vector<FeaturePoint> q;
  for (int i = 0; i < 40; ++i) {
    const float x = static_cast<float>(12 + (i % 8) * 10);
    const float y = static_cast<float>(14 + (i / 8) * 15);
    p.push_back(At(x, y));
    q.push_back(At(x + 2, y - 1));
  }
  // q in reverse order, so a pairing by index would be wrong.
  std::reverse(q.begin(), q.end());
  const MatchedPairs pairs = MatchBlocks(ref, frame, p, q, 5, 12);
  ASSERT_EQ(pairs.a.size(), 30u);
  ASSERT_EQ(pairs.b.size(), 30u);
  for (size_t j = 0; j < 30; ++j) {
    EXPECT_EQ(pairs.b[j].x, pairs.a[j].x + 2);
    EXPECT_EQ(pairs.b[j].y, pairs.a[j].y - 1);
  }
  {
    SCOPED_TRACE("equal costs on flat images: taken in frame order, then reference order");
    const GrayImage flat = testing::MakeGray(60, 60, [](double, double) { return 80; });
    const MatchedPairs tied = MatchBlocks(flat, flat, {At(20, 20), At(30, 30)}, {At(31, 29), At(21, 22)}, 5, 12);
    ASSERT_EQ(tied.a.size(), 2u);
    EXPECT_EQ(tied.a[0].x, 20);
    EXPECT_EQ(tied.b[0].x, 31);
    EXPECT_EQ(tied.a[1].x, 30);
    EXPECT_EQ(tied.b[1].x, 21);
  }
  EXPECT_TRUE(MatchBlocks(ref, frame, {}, q, 5, 12).a.empty());
  EXPECT_TRUE(MatchBlocks(ref, frame, p, {}, 5, 12).b.empty());
}

}  // namespace
}  // namespace lumet
