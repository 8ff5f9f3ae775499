#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "numeric/pixel_map.h"
#include "numeric/projection.h"
#include "reconstruction/enhanced/forward_model.h"
#include "reconstruction/enhanced/weights.h"
#include "support/test_images.h"

namespace lumet {
namespace {

// 64 x 64 frames of a textured colour scene (blobs of radius 3 .. 8 px everywhere), frame k
// shifted by a known sub-pixel translation, a 40 x 40 ROI at scale 3.
constexpr int kSize = 64;
constexpr RoiRect kRoi{12, 12, 52, 52};
constexpr int kFrames = 9;

double Scene(int c, double x, double y) { return testing::BlobScene(x + 7.0 * c, y - 5.0 * c); }

Matrix Shift(double dx, double dy) {
  PixelMap m;
  m.p[0][2] = dx;
  m.p[1][2] = dy;
  return HomographyOf(m);
}

double ShiftX(int k) { return k == 0 ? 0.0 : 0.37 * k - 1.3 * std::floor(0.37 * k / 1.3); }
double ShiftY(int k) { return k == 0 ? 0.0 : 0.61 * k - 1.1 * std::floor(0.61 * k / 1.1); }

// Per frame a field of normal noise of deviation sigma; smoothed by the 3 x 3 filter
// [1 6 1] x [1 6 1] (and scaled back to sigma) it stands for what H.264 at a moderate rate
// leaves of noise, which the second differences of one frame read at about half.
std::vector<double> NoiseField(std::mt19937& random, double sigma, bool smooth) {
  std::normal_distribution<double> normal(0.0, 1.0);
  const int n = kSize + 2;
  std::vector<double> raw(static_cast<size_t>(n) * n);
  for (double& v : raw) v = normal(random);
  std::vector<double> field(static_cast<size_t>(kSize) * kSize);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      double v = raw[static_cast<size_t>(y + 1) * n + x + 1];
      if (smooth) {
        constexpr double w[3] = {1.0, 6.0, 1.0};
        v = 0.0;
        double w2 = 0.0;
        for (int b = 0; b < 3; ++b) {
          for (int a = 0; a < 3; ++a) {
            v += w[a] * w[b] * raw[static_cast<size_t>(y + b) * n + x + a];
            w2 += w[a] * w[b] * w[a] * w[b];
          }
        }
        v /= std::sqrt(w2);
      }
      field[static_cast<size_t>(y) * kSize + x] = sigma * v;
    }
  }
  return field;
}

struct Reading {
  NoiseReading noise;
  double truth;  // the frames' actual deviation from the scene, quantisation included
};

// frameScene(k) gives frame k's scene; every frame gets its own noise field.
Reading Read(double sigma, bool smooth, unsigned seed,
             const std::function<double(int k, int c, double x, double y)>& frameScene) {
  std::mt19937 random(seed);
  const HrGeometry grid = MakeHrGeometry(kRoi, 3.0);
  ObservationModel model(grid, PsfTaps(0.6, 3.0));
  ColorGrayImage frame0;
  double sum = 0.0;
  int count = 0;
  for (int k = 0; k < kFrames; ++k) {
    const std::vector<double> field = NoiseField(random, sigma, smooth);
    const double dx = ShiftX(k);
    const double dy = ShiftY(k);
    ColorGrayImage frame = testing::MakeColor(kSize, kSize, [&](int c, int x, int y) {
      const double clean = frameScene(k, c, x - dx, y - dy);
      const double v = clean + field[static_cast<size_t>(y) * kSize + x];
      const double kept = std::clamp(std::floor(v + 0.5), 0.0, 255.0);
      sum += (kept - clean) * (kept - clean);
      ++count;
      return v;
    });
    model.AddFrame(frame, k == 0 ? IdentityHomography() : Shift(dx, dy));
    if (k == 0) frame0 = std::move(frame);
  }
  return {ReadNoise(model, frame0, grid), std::sqrt(sum / count)};
}

const auto kSame = [](int, int c, double x, double y) { return Scene(c, x, y); };

TEST(EnhancedNoise, KnownWhiteNoiseOnTexturedFramesIsReadWithinTenPercent) {
  for (double sigma : {1.0, 2.0, 4.0, 8.0}) {
    SCOPED_TRACE(sigma);
    const Reading r = Read(sigma, false, 11, kSame);
    EXPECT_NEAR(r.noise.frames, r.truth, 0.1 * r.truth);
    EXPECT_NEAR(r.noise.Sigma(), r.truth, 0.1 * r.truth);
    EXPECT_FALSE(r.noise.Compressed()) << "frames " << r.noise.frames << ", frame 0 " << r.noise.frame0;
  }
}

TEST(EnhancedNoise, SmoothNoiseThatFrameZeroHidesIsReadFromTheFramesAndCalledCompressed) {
  for (double sigma : {2.0, 4.0}) {
    SCOPED_TRACE(sigma);
    const Reading r = Read(sigma, true, 12, kSame);
    // Frame 0's second differences see a fraction of it; the frames' differences most.
    EXPECT_LT(r.noise.frame0, 0.7 * r.truth);
    EXPECT_NEAR(r.noise.frames, r.truth, 0.25 * r.truth);
    EXPECT_GT(r.noise.Sigma(), r.noise.frame0);
    EXPECT_TRUE(r.noise.Compressed()) << "frames " << r.noise.frames << ", frame 0 " << r.noise.frame0;
  }
}

TEST(EnhancedNoise, FramesOfAnotherSceneDoNotPassForNoise) {
  const Reading r = Read(1.0, false, 13, [](int k, int c, double x, double y) {
    return k == 0 ? Scene(c, x, y) : Scene(c, y + 31.0 * k, x - 17.0 * k);
  });
  EXPECT_GT(r.noise.frames, 4.0 * r.truth);  // what such frames differ by is the scene
  EXPECT_LE(r.noise.Sigma(), kFramesNoiseBound * r.noise.frame0);
  EXPECT_FALSE(r.noise.Compressed());
}

TEST(EnhancedNoise, AFrameAloneHasFrameZerosNoise) {
  std::mt19937 random(14);
  const std::vector<double> field = NoiseField(random, 3.0, false);
  const ColorGrayImage frame0 = testing::MakeColor(
      kSize, kSize, [&](int c, int x, int y) { return Scene(c, x, y) + field[static_cast<size_t>(y) * kSize + x]; });
  const HrGeometry grid = MakeHrGeometry(kRoi, 3.0);
  ObservationModel model(grid, PsfTaps(0.6, 3.0));
  model.AddFrame(frame0, IdentityHomography());
  const NoiseReading r = ReadNoise(model, frame0, grid);
  EXPECT_TRUE(std::isnan(r.frames));
  EXPECT_EQ(r.Sigma(), r.frame0);
  EXPECT_EQ(r.frame0, EstimateNoise(frame0, grid));
  EXPECT_FALSE(r.Compressed());
}

}  // namespace
}  // namespace lumet
