#include "reconstruction/enhanced/forward_model.h"

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "numeric/projection.h"
#include "reconstruction/enhanced/backend.h"
#include "reconstruction/enhanced/minimiser.h"
#include "reconstruction/enhanced/solver.h"
#include "reconstruction/enhanced/weights.h"
#include "support/expect_error.h"
#include "support/test_images.h"
#include "reference_backend.h"

namespace lumet {
namespace {

HrGeometry Grid(int width, int height, double scale) {
  HrGeometry g;
  g.width = width;
  g.height = height;
  g.scale = scale;
  g.q = static_cast<int>(scale);
  return g;
}

Plane RandomPlane(int w, int h, std::mt19937& random, double lo, double hi) {
  std::uniform_real_distribution<double> value(lo, hi);
  Plane p(w, h);
  for (double& v : p.v) v = value(random);
  return p;
}

// A model with observations at random positions over the grid, split into frames, plus a
// frame of real pixels through a perspective homography.
ObservationModel RandomModel(const HrGeometry& grid, std::mt19937& random, int frames, int perFrame) {
  ObservationModel model(grid, PsfTaps(0.6, grid.scale));
  std::uniform_real_distribution<double> x(0.0, grid.width - 1.0);
  std::uniform_real_distribution<double> y(0.0, grid.height - 1.0);
  std::uniform_real_distribution<double> value(0.0, 255.0);
  for (int k = 0; k < frames; ++k) {
    for (int o = 0; o < perFrame; ++o) {
      const double hx = x(random);
      const double hy = y(random);
      const int ix = static_cast<int>(hx);
      const int iy = static_cast<int>(hy);
      const double v[3] = {value(random), value(random), value(random)};
      model.AddObservation(ix, iy, hx - ix, hy - iy, v);
    }
    model.EndFrame();
  }
  return model;
}

TEST(EnhancedModel, ForwardAndAdjointAgreeOnRandomData) {
  std::mt19937 random(7);
  const HrGeometry grid = Grid(41, 37, 3.0);
  ObservationModel model = RandomModel(grid, random, 3, 400);
  // Frame pixels through a perspective map, so that AddFrame's positions are covered too.
  const ColorGrayImage frame = testing::MakeColor(30, 30, [](int c, int x, int y) { return (x * 7 + y * 13 + c) % 256; });
  Matrix h = IdentityHomography();
  h.At1(1, 1) = 1.01;
  h.At1(1, 2) = 0.02;
  h.At1(1, 3) = 0.7 / HomographyUnit;
  h.At1(2, 1) = -0.015;
  h.At1(2, 3) = -1.3 / HomographyUnit;
  h.At1(3, 1) = 0.0004 * HomographyUnit;
  EXPECT_GT(model.AddFrame(frame, h), 20u);

  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE(trial);
    const Plane x = RandomPlane(grid.width, grid.height, random, -1.0, 1.0);
    std::vector<double> y(model.ObservationCount());
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (double& v : y) v = value(random);
    std::vector<double> ax;
    Plane blurred;
    model.Forward(x, ax, blurred);
    Plane aty;
    Plane scatter;
    model.Adjoint(y, aty, scatter);
    double left = 0.0;
    for (size_t o = 0; o < y.size(); ++o) left += ax[o] * y[o];
    double right = 0.0;
    for (size_t i = 0; i < x.v.size(); ++i) right += x.v[i] * aty.v[i];
    EXPECT_NEAR(left, right, 1e-10 * std::max(1.0, std::fabs(left)));
  }
}

TEST(EnhancedModel, ConstantImageIsPredictedExactlyAwayFromTheEdge) {
  // The PSF sums to 1: a constant estimate predicts itself wherever the PSF lies inside.
  const HrGeometry grid = Grid(40, 40, 4.0);
  ObservationModel model(grid, PsfTaps(0.6, 4.0));
  const int h = static_cast<int>(model.Taps().size()) / 2;
  const double v[3] = {0, 0, 0};
  model.AddObservation(h, h, 0.25, 0.75, v);
  model.AddObservation(grid.width - 2 - h, grid.height - 2 - h, 0.9, 0.1, v);
  model.EndFrame();
  std::vector<double> predicted;
  Plane blurred;
  model.Forward(Plane(grid.width, grid.height, 77.0), predicted, blurred);
  for (double p : predicted) EXPECT_NEAR(p, 77.0, 1e-9);
}

TEST(EnhancedModel, GradientMatchesFiniteDifferences) {
  std::mt19937 random(11);
  const HrGeometry grid = Grid(24, 22, 3.0);
  const ObservationModel model = RandomModel(grid, random, 3, 150);
  EnhancedWeights weights;
  weights.alpha = 0.7;
  weights.lambda = 0.5;  // large enough that the prior's share is checked too
  weights.frame = {1.0, 0.3, 0.0};
  const Plane x = RandomPlane(grid.width, grid.height, random, 0.0, 255.0);
  testing::ExpectGradientIsTheObjectivesSlope(CpuEnhancedBackend(), model, weights, x, random, 25);
}

TEST(EnhancedModel, MinimiserFitsObservationsMadeByTheModel) {
  // Observations predicted by the model from a smooth image: from a flat start the solver
  // must bring the mean prediction error below a hundredth of where it started.
  std::mt19937 random(3);
  const HrGeometry grid = Grid(36, 36, 3.0);
  const std::vector<double> taps = PsfTaps(0.6, 3.0);
  Plane truth(grid.width, grid.height);
  for (int y = 0; y < grid.height; ++y) {
    for (int x = 0; x < grid.width; ++x) truth.At(x, y) = 120.0 + 60.0 * std::sin(0.3 * x) * std::cos(0.2 * y);
  }
  struct Position {
    int x, y;
    double fx, fy;
  };
  std::vector<Position> positions;
  std::uniform_real_distribution<double> pos(0.0, 1.0);
  ObservationModel probe(grid, taps);
  const double zero[3] = {0, 0, 0};
  for (int i = 0; i < 1600; ++i) {
    const double hx = 7.0 + pos(random) * (grid.width - 16.0);
    const double hy = 7.0 + pos(random) * (grid.height - 16.0);
    positions.push_back({static_cast<int>(hx), static_cast<int>(hy), hx - static_cast<int>(hx), hy - static_cast<int>(hy)});
    probe.AddObservation(positions.back().x, positions.back().y, positions.back().fx, positions.back().fy, zero);
  }
  probe.EndFrame();
  std::vector<double> predicted;
  Plane blurred;
  probe.Forward(truth, predicted, blurred);
  ObservationModel model(grid, taps);
  for (size_t o = 0; o < positions.size(); ++o) {
    const double v[3] = {0.0, predicted[o], 0.0};
    model.AddObservation(positions[o].x, positions[o].y, positions[o].fx, positions[o].fy, v);
  }
  model.EndFrame();

  EnhancedWeights weights;
  weights.lambda = 0.0;
  weights.frame = {1.0};
  ObjectiveScratch scratch;
  const auto meanError = [&](const Plane& p) {
    const std::vector<double> r = FrameResiduals(CpuEnhancedBackend(), model, 1, p, scratch);
    return r[0];
  };
  Plane x(grid.width, grid.height, 120.0);
  const double before = meanError(x);
  const MinimiseResult result = MinimiseEnhanced(CpuEnhancedBackend(), model, 1, weights, 1.0, 300, 1e-9, x, nullptr);
  EXPECT_GT(result.iterations, 5);
  EXPECT_LT(meanError(x), before / 100.0) << "from " << before;
}

TEST(EnhancedModel, FrameMeansAverageEachFrameAndLeaveEmptyFramesNotANumber) {
  const HrGeometry grid = Grid(12, 12, 2.0);
  ObservationModel model(grid, PsfTaps(0.6, grid.scale));
  const double v[3] = {0.0, 0.0, 0.0};
  for (int i = 0; i < 3; ++i) model.AddObservation(4 + i, 4, 0.5, 0.5, v);
  model.EndFrame();
  model.EndFrame();  // a frame that saw nothing
  for (int i = 0; i < 2; ++i) model.AddObservation(4, 4 + i, 0.5, 0.5, v);
  model.EndFrame();
  ASSERT_EQ(model.FrameCount(), 3);
  std::vector<size_t> asked;
  const std::vector<double> means = model.FrameMeans([&](size_t o) {
    asked.push_back(o);
    return static_cast<double>(o * o);
  });
  ASSERT_EQ(means.size(), 3u);
  EXPECT_EQ(means[0], (0.0 + 1.0 + 4.0) / 3.0);
  EXPECT_TRUE(std::isnan(means[1]));
  EXPECT_EQ(means[2], (9.0 + 16.0) / 2.0);
  EXPECT_EQ(asked, (std::vector<size_t>{0, 1, 2, 3, 4})) << "each observation once, in order";
}

TEST(EnhancedModel, FrameWeightsFollowTheirResiduals) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> weights = FrameWeightsFromResiduals({1.0, 1.0, 1.4, 2.0, 3.5, nan, 1.0, 1.0});
  ASSERT_EQ(weights.size(), 8u);
  EXPECT_EQ(weights[0], 1.0);
  EXPECT_EQ(weights[2], 1.0);                        // within 1.5 x the median (1.0)
  EXPECT_DOUBLE_EQ(weights[3], (1.5 / 2.0) * (1.5 / 2.0));  // trusted share, squared
  EXPECT_EQ(weights[4], 0.0);                        // beyond 3 x the median: rejected
  EXPECT_EQ(weights[5], 0.0);                        // no observations
}

TEST(EnhancedModel, RefusesItsOwnValuesNamingThem) {
  const auto refused = [](void (*change)(EnhancedSettings&), const char* name) {
    SCOPED_TRACE(name);
    EnhancedSettings s;
    change(s);
    testing::ExpectError([&] { CheckEnhancedSettings(s); }, {name});
  };
  refused([](EnhancedSettings& s) { s.maxIterations = 0; }, "iteration cap 0");
  refused([](EnhancedSettings& s) { s.maxIterations = 100001; }, "iteration cap 100001");
  refused([](EnhancedSettings& s) { s.tolerance = -0.1; }, "tolerance -0.1");
  refused([](EnhancedSettings& s) { s.tolerance = std::nan(""); }, "tolerance");
  refused([](EnhancedSettings& s) { s.beta = 0.0; }, "beta 0");
  EXPECT_NO_THROW(CheckEnhancedSettings(EnhancedSettings{}));
}

}  // namespace
}  // namespace lumet
