#include "reconstruction/robust_btv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "numeric/convolve.h"
#include "numeric/random.h"
#include "reconstruction/psf_kernel.h"
#include "test_images.h"

namespace lumet {
namespace {

using testing::MakeDouble;

// The iteration step written out plainly, one operation per pass, in double sign images,
// with the direct convolution: the oracle of BtvStep.
class OracleIteration {
 public:
  OracleIteration(int w, int h) {
    for (auto& s : signs_) {
      s.Create(w, h);
      s.Fill(0.0);
    }
  }

  void Step(DoubleImage& x, const DoubleImage& z, const CountImage& count, const FloatMatrix& k, int n, double alpha,
            double beta, double lambda, int t) {
    const int w = x.Width();
    const int h = x.Height();
    DoubleImage g;
    g.Create(w, h);
    g.Fill(0.0);
    DoubleImage hx;
    ConvolveMirrorDirect(x, hx, k, n);
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < w; ++j) {
        const double d = hx.At(j, i) - z.At(j, i);
        if (d > 0) g.At(j, i) = g.At(j, i) + std::sqrt(static_cast<double>(count[i][j]));
        if (d < 0) g.At(j, i) = g.At(j, i) - std::sqrt(static_cast<double>(count[i][j]));
      }
    }
    DoubleImage second;
    ConvolveMirrorDirect(g, second, k, n);
    g = second;
    DoubleImage& s10 = signs_[0];
    DoubleImage& s01 = signs_[1];
    DoubleImage& s20 = signs_[2];
    DoubleImage& s11 = signs_[3];
    DoubleImage& s02 = signs_[4];
    if (h >= 3) {
      for (int r = 0; r <= h - 3; ++r) {
        for (int c = 0; c <= w - 3; ++c) {
          s10.At(c, r) = Sign(x.At(c, r) - x.At(c + 1, r));
          s01.At(c, r) = Sign(x.At(c, r) - x.At(c, r + 1));
          s20.At(c, r) = Sign(x.At(c, r) - x.At(c + 2, r));
          s11.At(c, r) = Sign(x.At(c, r) - x.At(c + 1, r + 1));
          s02.At(c, r) = Sign(x.At(c, r) - x.At(c, r + 2));
        }
      }
    }
    for (int i = 2; i < h; ++i) {
      for (int j = 2; j < w; ++j) {
        const double r1 = (s01.At(j, i) - s01.At(j, i - 1)) + (s10.At(j, i) - s10.At(j - 1, i));
        const double r2 = (s02.At(j, i) - s02.At(j, i - 2)) + (s11.At(j, i) - s11.At(j - 1, i - 1)) +
                          (s20.At(j, i) - s20.At(j - 2, i));
        g.At(j, i) = ((r2 * alpha + r1) * alpha * lambda + g.At(j, i)) * beta;
      }
    }
    const double step = t < 15 ? 20.0 : t < 30 ? 15.0 : t < 60 ? 8.0 : 1.0;
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < w; ++j) x.At(j, i) = x.At(j, i) - step * g.At(j, i);
    }
  }

 private:
  static double Sign(double v) { return v > 0 ? 1.0 : v < 0 ? -1.0 : 0.0; }
  DoubleImage signs_[5];
};

DoubleImage RandomPlane(int w, int h, LcgRandom& random, double low, double high) {
  return MakeDouble(w, h, [&](int, int) { return low + (high - low) * random.Next() / LcgRandom::kMax; });
}

CountImage RandomCount(int w, int h, LcgRandom& random) {
  CountImage count;
  count.Create(w, h);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) count[i][j] = random.Next() % 5;  // about one in five empty
  }
  return count;
}

bool SamePixels(const DoubleImage& a, const DoubleImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int i = 0; i < a.Height(); ++i) {
    for (int j = 0; j < a.Width(); ++j) {
      if (a.At(j, i) != b.At(j, i)) {
        ADD_FAILURE() << "pixel " << j << "," << i << ": " << a.At(j, i) << " vs " << b.At(j, i);
        return false;
      }
    }
  }
  return true;
}

TEST(RobustBtvTest, StepSizeFallsInFourStages) {
  const std::pair<int, double> table[] = {{0, 20.0}, {14, 20.0}, {15, 15.0}, {29, 15.0},
                                          {30, 8.0}, {59, 8.0},  {60, 1.0},  {99, 1.0}};
  for (const auto& [t, step] : table) EXPECT_EQ(BtvStepSize(t), step) << "t = " << t;
}

TEST(RobustBtvTest, StepsEqualThePlainComputationExactly) {
  struct Case {
    const char* name;
    int w, h;
    double sigma;
    double alpha, beta, lambda;
  };
  const Case cases[] = {
      {"init params weights", 23, 19, 0.2, 0.7, 1.0, 0.003},
      {"strong regulariser", 23, 19, 0.2, 0.5, 0.8, 2.0},
      {"no regulariser (alpha 0)", 17, 21, 0.3, 0.0, 1.3, 5.0},
      {"large grid on the threaded path", 104, 90, 0.3, 0.7, 0.9, 1.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LcgRandom random;
    DoubleImage x = RandomPlane(c.w, c.h, random, 0.0, 255.0);
    const DoubleImage z = RandomPlane(c.w, c.h, random, 0.0, 255.0);
    const CountImage count = RandomCount(c.w, c.h, random);
    int n = 0;
    const FloatMatrix k = MakePsfKernel(c.sigma, 3.0, n);
    DoubleImage expected = x;
    OracleIteration oracle(c.w, c.h);
    BtvWorkspace workspace(count);
    // Steps across the first change of step size; the sign images carry over.
    for (int t = 13; t <= 16; ++t) {
      SCOPED_TRACE("t = " + std::to_string(t));
      oracle.Step(expected, z, count, k, n, c.alpha, c.beta, c.lambda, t);
      BtvStep(x, z, k, n, c.alpha, c.beta, c.lambda, BtvStepSize(t), workspace);
      ASSERT_TRUE(SamePixels(x, expected));
    }
  }
}

TEST(RobustBtvTest, DataTermIsTheSignOfTheResidualTimesRootCount) {
  // Residuals of the same sign but five times the size give the very same step.
  LcgRandom random;
  const int w = 20;
  const int h = 18;
  const DoubleImage x = RandomPlane(w, h, random, 0.0, 255.0);
  const DoubleImage z = RandomPlane(w, h, random, 0.0, 255.0);
  const CountImage count = RandomCount(w, h, random);
  int n = 0;
  const FloatMatrix k = MakePsfKernel(0.2, 3.0, n);
  DoubleImage hx;
  ConvolveMirror(x, hx, k, n);
  const DoubleImage z5 = MakeDouble(w, h, [&](int j, int i) { return hx.At(j, i) - 5.0 * (hx.At(j, i) - z.At(j, i)); });
  DoubleImage a = x;
  DoubleImage b = x;
  BtvWorkspace wa(count);
  BtvWorkspace wb(count);
  BtvStep(a, z, k, n, 0.7, 1.0, 0.003, 20.0, wa);
  BtvStep(b, z5, k, n, 0.7, 1.0, 0.003, 20.0, wb);
  EXPECT_TRUE(SamePixels(a, b));

  // Without observations and without regulariser nothing moves.
  CountImage empty;
  empty.Create(w, h);
  empty.Fill(0);
  DoubleImage c = x;
  BtvWorkspace wc(empty);
  BtvStep(c, z, k, n, 0.7, 1.0, 0.0, 20.0, wc);
  EXPECT_TRUE(SamePixels(c, x));
}

TEST(RobustBtvTest, ShiftsOfDistanceOneWeighAlphaAndOfDistanceTwoAlphaSquared) {
  // One bright pixel on a dark plane, no observations: the step is the regulariser alone,
  // g = (R2 * alpha + R1) * alpha with lambda = beta = 1, times the step 20.
  const int w = 12;
  const int h = 12;
  const int r0 = 5;
  const int c0 = 6;
  DoubleImage x = MakeDouble(w, h, [&](int j, int i) { return i == r0 && j == c0 ? 100.0 : 0.0; });
  const DoubleImage z = MakeDouble(w, h, [](int, int) { return 0.0; });
  CountImage count;
  count.Create(w, h);
  count.Fill(0);
  int n = 0;
  const FloatMatrix k = MakePsfKernel(0.2, 3.0, n);
  BtvWorkspace ws(count);
  const double alpha = 0.5;
  BtvStep(x, z, k, n, alpha, 1.0, 1.0, 20.0, ws);
  // The spike: R1 = 4, R2 = 6.
  EXPECT_DOUBLE_EQ(x.At(c0, r0), 100.0 - 20.0 * (6 * alpha + 4) * alpha);
  // Neighbours at distance 1 (R1 = -1, R2 = 0): + 20 alpha.
  EXPECT_DOUBLE_EQ(x.At(c0 + 1, r0), 20.0 * alpha);
  EXPECT_DOUBLE_EQ(x.At(c0, r0 + 1), 20.0 * alpha);
  EXPECT_DOUBLE_EQ(x.At(c0, r0 - 1), 20.0 * alpha);
  // Neighbours at distance 2 along a row, a column and the diagonal (R1 = 0, R2 = -1):
  // + 20 alpha^2.
  EXPECT_DOUBLE_EQ(x.At(c0 + 2, r0), 20.0 * alpha * alpha);
  EXPECT_DOUBLE_EQ(x.At(c0, r0 - 2), 20.0 * alpha * alpha);
  EXPECT_DOUBLE_EQ(x.At(c0 + 1, r0 + 1), 20.0 * alpha * alpha);
  // Far away nothing changes.
  EXPECT_EQ(x.At(1, 10), 0.0);
}

TEST(RobustBtvTest, RowsAndColumnsZeroAndOneGetNeitherRegulariserNorBeta) {
  LcgRandom random;
  const int w = 16;
  const int h = 15;
  const DoubleImage x = RandomPlane(w, h, random, 0.0, 255.0);
  const DoubleImage z = RandomPlane(w, h, random, 0.0, 255.0);
  const CountImage count = RandomCount(w, h, random);
  int n = 0;
  const FloatMatrix k = MakePsfKernel(0.2, 3.0, n);
  // beta = 0 stops the interior entirely; the two outer rows and columns on the top and
  // left move with the blurred data term, the same for any alpha and lambda.
  DoubleImage a = x;
  DoubleImage b = x;
  BtvWorkspace wa(count);
  BtvWorkspace wb(count);
  BtvStep(a, z, k, n, 0.7, 0.0, 0.003, 20.0, wa);
  BtvStep(b, z, k, n, 0.2, 0.0, 9.0, 20.0, wb);
  EXPECT_TRUE(SamePixels(a, b));
  int moved = 0;
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      if (i >= 2 && j >= 2) {
        EXPECT_EQ(a.At(j, i), x.At(j, i)) << j << "," << i;
      } else if (a.At(j, i) != x.At(j, i)) {
        ++moved;
      }
    }
  }
  EXPECT_GT(moved, 2 * w);
}

TEST(RobustBtvTest, IterationRefinesOneBandAfterAnotherWithProgressAndPictures) {
  LcgRandom random;
  const int w = 12;
  const int h = 10;
  ColorDoubleImage x;
  ColorDoubleImage z;
  x.Create(w, h);
  z.Create(w, h);
  for (int c = 0; c < 3; ++c) {
    x.channels[static_cast<size_t>(c)] = RandomPlane(w, h, random, 0.0, 255.0);
    z.channels[static_cast<size_t>(c)] = RandomPlane(w, h, random, 0.0, 255.0);
  }
  const CountImage count = RandomCount(w, h, random);
  int n = 0;
  const FloatMatrix k = MakePsfKernel(0.2, 3.0, n);
  const ColorDoubleImage initial = x;

  std::vector<std::pair<int, int>> steps;
  std::vector<int> pictureAt;  // index into steps at each picture
  ColorDoubleImage atGreen;
  ColorDoubleImage atBlue;
  bool firstPictureIsInitial = false;
  RobustBtvIterate(
      x, z, count, k, n, 0.7, 1.0, 0.003,
      [&](int band, int step) {
        steps.emplace_back(band, step);
        if (band == 1 && step == 0) atGreen = x;
        if (band == 2 && step == 0) atBlue = x;
      },
      [&](const ColorDoubleImage& estimate) {
        pictureAt.push_back(static_cast<int>(steps.size()) - 1);
        if (pictureAt.size() == 1) {
          firstPictureIsInitial = true;
          for (size_t c = 0; c < 3; ++c) firstPictureIsInitial &= SamePixels(estimate.channels[c], initial.channels[c]);
        }
      });
  ASSERT_EQ(steps.size(), 300u);
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(steps[static_cast<size_t>(i)], std::make_pair(i / 100, i % 100));
  }
  ASSERT_EQ(pictureAt.size(), 30u);
  for (size_t p = 0; p < 30; ++p) EXPECT_EQ(pictureAt[p], static_cast<int>(p) * 10);  // steps 0, 10, ... of each band
  EXPECT_TRUE(firstPictureIsInitial);
  // Red is final before green starts; green and blue are untouched until their band.
  EXPECT_TRUE(SamePixels(atGreen.channels[0], x.channels[0]));
  EXPECT_TRUE(SamePixels(atGreen.channels[1], initial.channels[1]));
  EXPECT_TRUE(SamePixels(atGreen.channels[2], initial.channels[2]));
  EXPECT_TRUE(SamePixels(atBlue.channels[1], x.channels[1]));
  EXPECT_TRUE(SamePixels(atBlue.channels[2], initial.channels[2]));
  int blueMoved = 0;
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) blueMoved += x.channels[2].At(j, i) != initial.channels[2].At(j, i);
  }
  EXPECT_GT(blueMoved, w * h / 2);
}

}  // namespace
}  // namespace lumet
