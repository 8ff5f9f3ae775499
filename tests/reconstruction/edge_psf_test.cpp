#include "reconstruction/enhanced/edge_psf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "numeric/random.h"
#include "util/parallel.h"

namespace lumet {
namespace {

double Cdf(double z) { return 0.5 * std::erfc(-z / std::numbers::sqrt2); }

// A bright rotated rectangle (a bar) on the background: centre, half sides, angle (degrees)
// and how much brighter than the background it is.
struct Bar {
  double cx;
  double cy;
  double halfLength;
  double halfWidth;
  double degrees;
  double contrast;
};

// The bar blurred by a Gaussian of sigma at (x, y), exactly: the Gaussian is separable along
// the bar's own axes.
double BlurredBar(const Bar& b, double sigma, double x, double y) {
  const double a = b.degrees * std::numbers::pi / 180.0;
  const double u = (x - b.cx) * std::cos(a) + (y - b.cy) * std::sin(a);
  const double v = -(x - b.cx) * std::sin(a) + (y - b.cy) * std::cos(a);
  const double across = Cdf((u + b.halfLength) / sigma) - Cdf((u - b.halfLength) / sigma);
  const double along = Cdf((v + b.halfWidth) / sigma) - Cdf((v - b.halfWidth) / sigma);
  return b.contrast * across * along;
}

// Six bars at different angles, far enough apart that their edges are isolated, on a
// 128 x 96 frame.
std::vector<Bar> Bars(double contrast) {
  std::vector<Bar> bars;
  const double degrees[6] = {4.0, 17.0, 33.0, 51.0, 68.0, 83.0};
  for (int i = 0; i < 6; ++i) {
    bars.push_back({24.0 + 40.0 * (i % 3), 26.0 + 44.0 * (i / 3), 12.0, 8.0, degrees[i], contrast});
  }
  return bars;
}

struct Render {
  double sigma = 0.7;
  double noise = 2.0;
  double background = 60.0;
  // Averaged over each pixel's square (footprint) instead of sampled at its centre.
  bool footprint = false;
  // A checkerboard of single pixels, this far above and below the scene, over the left half of the frame.
  double stripes = 0.0;
};

// The bars as a camera of that blur sees them: 8-bit, with Gaussian noise (a sum of twelve
// uniform draws), clipped at 0 and 255.
ColorGrayImage RenderBars(const std::vector<Bar>& bars, const Render& how) {
  constexpr int kWidth = 128;
  constexpr int kHeight = 96;
  ColorGrayImage frame;
  frame.Create(kWidth, kHeight);
  LcgRandom random;
  const int sub = how.footprint ? 8 : 1;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      double v = 0.0;
      for (int j = 0; j < sub; ++j) {
        for (int i = 0; i < sub; ++i) {
          const double px = how.footprint ? x - 0.5 + (i + 0.5) / sub : x;
          const double py = how.footprint ? y - 0.5 + (j + 0.5) / sub : y;
          for (const Bar& b : bars) v += BlurredBar(b, how.sigma, px, py);
        }
      }
      v = how.background + v / (sub * sub);
      if (how.stripes > 0.0 && x < kWidth / 2) v += how.stripes * ((x + y) % 2 == 0 ? 1.0 : -1.0);
      double n = -6.0;
      for (int k = 0; k < 12; ++k) n += random.Next() / static_cast<double>(LcgRandom::kMax);
      const auto level = static_cast<uint8_t>(std::clamp(std::floor(v + how.noise * n + 0.5), 0.0, 255.0));
      for (int c = 0; c < 3; ++c) frame.channels[static_cast<size_t>(c)].Row(y)[x] = level;
    }
  }
  return frame;
}

EdgePsfReading Read(const ColorGrayImage& frame) {
  return ReadEdgePsf(frame, RoiRect{0, 0, frame.Width(), frame.Height()}, SampleDepth::Bits8);
}

TEST(EdgePsf, ReadsTheBlurOfStraightEdgesAtAnyAngleThroughNoise) {
  for (double sigma : {0.4, 0.7, 1.0, 1.4}) {
    SCOPED_TRACE(sigma);
    Render how;
    how.sigma = sigma;
    const EdgePsfReading r = Read(RenderBars(Bars(120.0), how));
    ASSERT_TRUE(r.Found());
    // A wide blur reaches the bars' corners from more of their sides: 6 % of it.
    EXPECT_NEAR(r.sigma, sigma, 0.02 + 0.06 * sigma);
    EXPECT_GE(r.edges, kEdgeMinSites);
    EXPECT_LT(r.misfit, 0.05);
  }
}

// The sites are fitted on the thread pool in batches: the reading is the same bit for bit
// as one site after another, with more candidates than one batch and fewer sites than the most.
TEST(EdgePsf, TheReadingDoesNotDependOnTheThreads) {
  const ColorGrayImage frame = RenderBars(Bars(120.0), Render{});
  EdgePsfReading serial;
  EdgePsfReading parallel;
  {
    const ScopedParallelMode mode(ParallelMode::ForceSerial);
    serial = Read(frame);
  }
  {
    const ScopedParallelMode mode(ParallelMode::ForceParallel);
    SetThreadCount(3);
    parallel = Read(frame);
    SetThreadCount(0);
  }
  ASSERT_TRUE(serial.Found());
  EXPECT_EQ(parallel.sigma, serial.sigma);
  EXPECT_EQ(parallel.edges, serial.edges);
  EXPECT_EQ(parallel.misfit, serial.misfit);
}

TEST(EdgePsf, AnAliasedEdgeReadsRightFromTheSubPixelPhasesAlongIt) {
  // Sharper than a pixel's own box: each row across an edge is a step of one or two
  // pixels, but the slanted edges' rows cross it at every phase.
  for (double sigma : {0.25, 0.3}) {
    SCOPED_TRACE(sigma);
    Render how;
    how.sigma = sigma;
    const EdgePsfReading r = Read(RenderBars(Bars(120.0), how));
    ASSERT_TRUE(r.Found());
    EXPECT_NEAR(r.sigma, sigma, 0.05);
  }
}

TEST(EdgePsf, ThePixelsFootprintIsPartOfTheBlurRead) {
  // The forward model's PSF is the whole blur up to a pixel's value: a box pixel adds
  // 1/12 LR pixel^2 to the optics' variance.
  for (double sigma : {0.3, 0.6}) {
    SCOPED_TRACE(sigma);
    Render how;
    how.sigma = sigma;
    how.footprint = true;
    const EdgePsfReading r = Read(RenderBars(Bars(120.0), how));
    ASSERT_TRUE(r.Found());
    EXPECT_NEAR(r.sigma, std::sqrt(sigma * sigma + 1.0 / 12.0), 0.05);
  }
}

TEST(EdgePsf, AReadingJustBelowAPixelsBoxBoundsTheBlurAtTheBox) {
  // A camera whose blur is its pixels alone: the reading scatters about the box, and below it
  // would bound nothing; as a bound it is the box.
  Render how;
  how.sigma = 0.02;
  how.footprint = true;
  const EdgePsfReading r = Read(RenderBars(Bars(120.0), how));
  ASSERT_TRUE(r.Found());
  EXPECT_NEAR(r.sigma, kPixelBoxSigma, 0.05);
  EXPECT_DOUBLE_EQ(AsBlurBound(r).sigma, std::max(r.sigma, kPixelBoxSigma));
  const auto bound = [](double sigma) {
    EdgePsfReading reading;
    reading.sigma = sigma;
    reading.edges = 20;
    return AsBlurBound(reading).sigma;
  };
  EXPECT_DOUBLE_EQ(bound(0.25), kPixelBoxSigma);
  EXPECT_DOUBLE_EQ(bound(0.2), 0.2);  // sharpened or aliased edges: left as read
  EXPECT_DOUBLE_EQ(bound(0.45), 0.45);
  EXPECT_FALSE(AsBlurBound(EdgePsfReading{}).Found());
}

TEST(EdgePsf, TooFewEdgesGiveNoReading) {
  Render how;
  {
    SCOPED_TRACE("a flat noisy frame");
    const EdgePsfReading r = Read(RenderBars({}, how));
    EXPECT_FALSE(r.Found());
  }
  {
    SCOPED_TRACE("edges too faint");
    EXPECT_FALSE(Read(RenderBars(Bars(12.0), how)).Found());
  }
  {
    SCOPED_TRACE("one small bar");
    EXPECT_FALSE(Read(RenderBars({{64.0, 48.0, 3.0, 2.0, 20.0, 120.0}}, how)).Found());
  }
}

TEST(EdgePsf, ClippedEdgesAreLeftOut) {
  // Overexposed bars clip flat before their blur ends, so their edges look sharper than
  // the camera's blur: they must not take part.
  Render how;
  how.sigma = 1.0;
  std::vector<Bar> bars = Bars(120.0);
  for (size_t i = 0; i < bars.size(); i += 2) bars[i].contrast = 400.0;  // clipped at 255
  const EdgePsfReading r = Read(RenderBars(bars, how));
  ASSERT_TRUE(r.Found());
  EXPECT_NEAR(r.sigma, 1.0, 0.05);
  for (Bar& b : bars) b.contrast = 400.0;
  EXPECT_FALSE(Read(RenderBars(bars, how)).Found());
}

TEST(EdgePsf, EdgesCrossedByFineTextureAreLeftOut) {
  // A pixel-fine checkerboard over the left half would read as a much narrower blur; the bars on
  // the right still read the camera's.
  Render how;
  how.sigma = 0.9;
  how.stripes = 10.0;
  const EdgePsfReading r = Read(RenderBars(Bars(120.0), how));
  ASSERT_TRUE(r.Found());
  EXPECT_NEAR(r.sigma, 0.9, 0.1);
}

TEST(EdgePsf, TheRegionIsTheRoiGrownWithinKEdgeRegionSideAndKEdgeRegionMostSide) {
  HrGeometry grid;
  grid.scale = 4.0;
  grid.q = 4;
  grid.x0 = 400;  // LR 100 .. 220 across, 100 .. 190 down
  grid.y0 = 400;
  grid.width = 480;
  grid.height = 360;
  // 8 more on either side across (136 >= 128); down, 128 around the centre row 145.
  EXPECT_EQ(EdgeRegion(grid, 352, 288), (RoiRect{92, 81, 228, 209}));
  grid.width = 40;  // LR 0 .. 10 across: 128 around 5, clipped by the frame
  grid.x0 = 0;
  EXPECT_EQ(EdgeRegion(grid, 352, 288), (RoiRect{0, 81, 5 + kEdgeRegionSide / 2, 209}));
  EXPECT_EQ(EdgeRegion(grid, 40, 150), (RoiRect{0, 81, 40, 150}));
  grid.width = 4 * 1000;  // LR 0 .. 1000 across: the middle kEdgeRegionMostSide
  EXPECT_EQ(EdgeRegion(grid, 2000, 288), (RoiRect{500 - kEdgeRegionMostSide / 2, 81, 500 + kEdgeRegionMostSide / 2, 209}));
}

}  // namespace
}  // namespace lumet
