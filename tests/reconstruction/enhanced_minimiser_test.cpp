#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <random>
#include <vector>

#include "reconstruction/enhanced/minimiser.h"

namespace lumet {
namespace {

template <class A, class B>
double Dot(const std::vector<A>& a, const std::vector<B>& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += static_cast<double>(a[i]) * static_cast<double>(b[i]);
  return sum;
}

// The textbook two-loop recursion for -H g over the pairs (oldest first), with the initial
// scaling s . y / y . y of the newest: what the compact form must equal.
std::vector<double> TwoLoopDirection(const std::deque<std::vector<float>>& s,
                                     const std::deque<std::vector<float>>& y, const std::vector<double>& g) {
  const size_t m = s.size();
  std::vector<double> q = g;
  std::vector<double> alpha(m);
  for (size_t i = m; i-- > 0;) {
    alpha[i] = Dot(s[i], q) / Dot(s[i], y[i]);
    for (size_t j = 0; j < q.size(); ++j) q[j] -= alpha[i] * y[i][j];
  }
  const double gamma = Dot(s[m - 1], y[m - 1]) / Dot(y[m - 1], y[m - 1]);
  for (double& v : q) v *= gamma;
  for (size_t i = 0; i < m; ++i) {
    const double beta = Dot(y[i], q) / Dot(s[i], y[i]);
    for (size_t j = 0; j < q.size(); ++j) q[j] += (alpha[i] - beta) * s[i][j];
  }
  for (double& v : q) v = -v;
  return q;
}

// Pairs of a convex quadratic with a random positive definite diagonal plus a coupling of
// neighbours (y = A s), so that s . y > 0 and the pairs carry real curvature.
struct QuadraticPairs {
  std::vector<double> diagonal;
  std::mt19937 random{11};

  explicit QuadraticPairs(size_t n) : diagonal(n) {
    std::uniform_real_distribution<double> d(0.5, 20.0);
    for (double& v : diagonal) v = d(random);
  }
  std::vector<double> Random(size_t n) {
    std::normal_distribution<double> v(0.0, 1.0);
    std::vector<double> out(n);
    for (double& x : out) x = v(random);
    return out;
  }
  std::vector<double> Apply(const std::vector<double>& s) const {
    std::vector<double> y(s.size());
    for (size_t j = 0; j < s.size(); ++j) {
      y[j] = diagonal[j] * s[j] + 0.3 * ((j > 0 ? s[j - 1] : 0.0) + (j + 1 < s.size() ? s[j + 1] : 0.0));
    }
    return y;
  }
};

// Adds a pair the way the minimiser does (rounded to float, as kept), its dot products with
// the pairs kept taken here.
void Remember(CurvatureHistory& h, const std::vector<double>& exactS, const std::vector<double>& exactY) {
  std::vector<float> s(exactS.begin(), exactS.end());
  std::vector<float> y(exactY.begin(), exactY.end());
  std::vector<double> sy;
  std::vector<double> yy;
  for (int i = 0; i < h.Pairs(); ++i) {
    sy.push_back(Dot(h.s[static_cast<size_t>(i)], y));
    yy.push_back(Dot(h.y[static_cast<size_t>(i)], y));
  }
  const double sySelf = Dot(s, y);
  const double yySelf = Dot(y, y);
  RememberCurvature(h, s, y, sy.data(), yy.data(), sySelf, yySelf);
}

// The compact direction at g, its products with the pairs taken here.
double DirectionOf(const CurvatureHistory& h, const std::vector<double>& g, std::vector<double>& d) {
  std::vector<double> sg;
  std::vector<double> yg;
  for (int i = 0; i < h.Pairs(); ++i) {
    sg.push_back(Dot(h.s[static_cast<size_t>(i)], g));
    yg.push_back(Dot(h.y[static_cast<size_t>(i)], g));
  }
  return CompactDirection(h, g, sg.data(), yg.data(), Dot(g, g), d);
}

// The compact form's direction is the two-loop recursion's to rounding, for every count of
// pairs up to the most kept and after the oldest are dropped (their dot products shifted
// with them), on a block count that leaves a tail.
TEST(EnhancedMinimiser, CompactDirectionEqualsTheTwoLoopRecursion) {
  constexpr size_t kSize = 3 * 4096 + 37;
  QuadraticPairs q(kSize);
  CurvatureHistory h;
  for (int added = 1; added <= kCurvaturePairs + 3; ++added) {
    SCOPED_TRACE(::testing::Message() << added << " pairs added");
    const std::vector<double> s = q.Random(kSize);
    Remember(h, s, q.Apply(s));
    ASSERT_EQ(h.Pairs(), std::min(added, kCurvaturePairs));
    const std::vector<double> g = q.Random(kSize);
    std::vector<double> d;
    const double slope = DirectionOf(h, g, d);
    const std::vector<double> expected = TwoLoopDirection(h.s, h.y, g);
    ASSERT_EQ(d.size(), expected.size());
    double largest = 0.0;
    double error = 0.0;
    for (size_t j = 0; j < d.size(); ++j) {
      largest = std::max(largest, std::fabs(expected[j]));
      error = std::max(error, std::fabs(d[j] - expected[j]));
    }
    EXPECT_LE(error, 1e-10 * largest);
    EXPECT_NEAR(slope, Dot(expected, g), 1e-10 * std::fabs(Dot(expected, g)));
    EXPECT_LT(slope, 0.0);  // a descent direction: H is positive definite
  }
}

// With one pair the direction is the textbook BFGS update of the scaled identity: on the
// pair's own s it gives back -s when g = y (the secant condition H y = s).
TEST(EnhancedMinimiser, CompactDirectionMeetsTheSecantCondition) {
  constexpr size_t kSize = 513;
  QuadraticPairs q(kSize);
  CurvatureHistory h;
  for (int i = 0; i < 3; ++i) {
    const std::vector<double> s = q.Random(kSize);
    Remember(h, s, q.Apply(s));
  }
  const std::vector<float>& s = h.s.back();
  const std::vector<double> y(h.y.back().begin(), h.y.back().end());
  std::vector<double> d;
  DirectionOf(h, y, d);
  for (size_t j = 0; j < kSize; ++j) EXPECT_NEAR(d[j], -s[j], 1e-9 * (1.0 + std::fabs(s[j]))) << j;
}

}  // namespace
}  // namespace lumet
