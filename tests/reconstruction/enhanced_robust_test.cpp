#include "reconstruction/enhanced/weights.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <thread>
#include <tuple>
#include <utility>

#include "numeric/pixel_map.h"
#include "numeric/projection.h"
#include "reconstruction/enhanced/solver.h"
#include "reconstruction/blurred_frames.h"
#include "support/test_images.h"
#include "util/parallel.h"

namespace lumet {
namespace {

// Frames of 40 x 40 pixels, a 24 x 24 ROI in the middle, scale 3.
constexpr int kSize = 40;
constexpr RoiRect kRoi{8, 8, 32, 32};
constexpr double kScale = 3.0;

// A smooth colour scene in reference-frame LR coordinates.
double Smooth(int c, double x, double y) {
  return 120.0 + 50.0 * std::sin(0.7 * x + c) * std::cos(0.5 * y) + 30.0 * std::sin(0.3 * (x + y));
}


using Scene = std::function<double(int c, double x, double y)>;

struct Sequence {
  std::vector<ColorGrayImage> frames;
  std::vector<Matrix> homographies;
};

// Frame k shows scene(k) shifted by a sub-pixel translation (frame 0 unshifted) and
// blurred by the Gaussian PSF of sigma `psf` (by default the reconstruction's 0.6 pixels;
// 9 x 9 points over +-2.4 sigma), with Gaussian noise of sigma `noise`.
Sequence MakeSequence(int count, const std::function<Scene(int k)>& scene, double noise, unsigned seed,
                      double psf = 0.6) {
  Sequence s;
  std::mt19937 random(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  const testing::GaussianPoints points(psf);
  for (int k = 0; k < count; ++k) {
    double dx = 0.0;
    double dy = 0.0;
    testing::FrameShift(k, dx, dy);
    const Scene f = scene(k);
    s.frames.push_back(testing::MakeColor(kSize, kSize, [&](int c, int x, int y) {
      return points.Blurred(f, c, x - dx, y - dy) + noise * normal(random);
    }));
    s.homographies.push_back(k == 0 ? IdentityHomography() : testing::ShiftHomography(dx, dy));
  }
  return s;
}

ColorDoubleImage Reconstruct(const Sequence& s, EnhancedOutcome& outcome, const EnhancedSettings& settings = {}) {
  ColorDoubleImage result;
  EnhancedReconstruct(s.frames, s.homographies, MakeHrGeometry(kRoi, kScale), settings, result, outcome, nullptr,
                      nullptr);
  return result;
}

// Frame 0 enlarged by cubic convolution on the ROI grid.
ColorDoubleImage Bicubic(const ColorGrayImage& frame0) {
  const HrGeometry grid = MakeHrGeometry(kRoi, kScale);
  Plane planes[3];
  BicubicOnGrid(frame0, grid, planes);
  ColorDoubleImage out;
  out.Create(grid.width, grid.height);
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < grid.height; ++i) {
      for (int j = 0; j < grid.width; ++j) out.channels[static_cast<size_t>(c)].Row(i)[j] = planes[c].At(j, i);
    }
  }
  return out;
}

// RMS difference between image and scene over the HR pixels whose LR position passes `where`.
double RmsError(const ColorDoubleImage& image, const Scene& scene, const std::function<bool(double, double)>& where) {
  const HrGeometry grid = MakeHrGeometry(kRoi, kScale);
  double sum = 0.0;
  int n = 0;
  for (int i = 0; i < grid.height; ++i) {
    for (int j = 0; j < grid.width; ++j) {
      const double x = (j + grid.x0) / kScale;
      const double y = (i + grid.y0) / kScale;
      if (!where(x, y)) continue;
      for (int c = 0; c < 3; ++c) {
        const double d = image.channels[static_cast<size_t>(c)].Row(i)[j] - scene(c, x, y);
        sum += d * d;
        ++n;
      }
    }
  }
  return std::sqrt(sum / n);
}


// RMS of the colour differences (kToLumaChroma's first and last rows) of image, over the ROI grid.
double ColourDifferenceRms(const ColorDoubleImage& image) {
  double sum = 0.0;
  int n = 0;
  for (int i = 0; i < image.Height(); ++i) {
    for (int j = 0; j < image.Width(); ++j) {
      const double v[3] = {image.channels[0].Row(i)[j], image.channels[1].Row(i)[j], image.channels[2].Row(i)[j]};
      for (int row : {0, 2}) {
        const double d = kToLumaChroma[3 * row] * v[0] + kToLumaChroma[3 * row + 1] * v[1] + kToLumaChroma[3 * row + 2] * v[2];
        sum += d * d;
        ++n;
      }
    }
  }
  return std::sqrt(sum / n);
}

TEST(EnhancedRobust, LumaAndColourDifferencesGoBackToTheSameColours) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double product = 0.0;
      for (int k = 0; k < 3; ++k) product += kToRgb[3 * r + k] * kToLumaChroma[3 * k + c];
      EXPECT_NEAR(product, r == c ? 1.0 : 0.0, 1e-5) << "row " << r << ", column " << c;
    }
  }
}

TEST(EnhancedRobust, GreyDetailComesOutGreyWhereFrameZeroEnlargedIsColouredByNoise) {
  // Detail in luma only, noise independent per channel: the noise's colour differences are
  // what the stronger prior on them removes, so the result is closer to grey than frame 0
  // enlarged (solved as red, green and blue, the result was 12 % further from grey than
  // frame 0 enlarged; as luma and colour differences it is 26 % closer).
  const Scene grey = [](int, double x, double y) { return Smooth(0, x, y); };
  const Sequence s = MakeSequence(13, [&](int) { return grey; }, 3.0, 21);
  EnhancedOutcome outcome;
  const ColorDoubleImage result = Reconstruct(s, outcome);
  const ColorDoubleImage bicubic = Bicubic(s.frames[0]);
  const double colour = ColourDifferenceRms(result);
  const double colourBicubic = ColourDifferenceRms(bicubic);
  EXPECT_LT(colour, 0.85 * colourBicubic) << "result " << colour << ", frame 0 enlarged " << colourBicubic;
  const auto all = [](double, double) { return true; };
  EXPECT_LT(RmsError(result, grey, all), RmsError(bicubic, grey, all));
}

TEST(EnhancedRobust, PureNoiseStopsEarlyNearTheMean) {
  const double sigma = 4.0;
  const Sequence s = MakeSequence(17, [](int) { return Scene([](int, double, double) { return 128.0; }); }, sigma, 9);
  EnhancedOutcome outcome;
  const ColorDoubleImage result = Reconstruct(s, outcome);
  EXPECT_NEAR(outcome.noise, sigma, 0.35 * sigma);
  // Stopped by the held-out frames long before the cap of 3 x 60.
  EXPECT_LT(outcome.iterations, 90);
  const double rms = RmsError(result, [](int, double, double) { return 128.0; }, [](double, double) { return true; });
  const double single = RmsError(Bicubic(s.frames[0]), [](int, double, double) { return 128.0; }, [](double, double) { return true; });
  EXPECT_LT(rms, 0.8 * single) << "the result keeps the noise of frame 0 alone";
}

// Each 8 x 8 block of every channel through a DCT with its coefficients quantised by
// `step`: the blocking and ringing of lossy video.
void Compress(ColorGrayImage& frame, double step) {
  const auto basis = [](int u, int x) {
    return (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * std::numbers::pi / 16.0);
  };
  for (auto& plane : frame.channels) {
    for (int by = 0; by + 8 <= plane.Height(); by += 8) {
      for (int bx = 0; bx + 8 <= plane.Width(); bx += 8) {
        double coefficient[8][8] = {};
        for (int v = 0; v < 8; ++v) {
          for (int u = 0; u < 8; ++u) {
            double sum = 0.0;
            for (int y = 0; y < 8; ++y) {
              for (int x = 0; x < 8; ++x) sum += basis(u, x) * basis(v, y) * plane.Row(by + y)[bx + x];
            }
            coefficient[v][u] = step * std::round(sum / step);
          }
        }
        for (int y = 0; y < 8; ++y) {
          for (int x = 0; x < 8; ++x) {
            double sum = 0.0;
            for (int v = 0; v < 8; ++v) {
              for (int u = 0; u < 8; ++u) sum += basis(u, x) * basis(v, y) * coefficient[v][u];
            }
            plane.Row(by + y)[bx + x] = testing::Level(sum);
          }
        }
      }
    }
  }
}

TEST(EnhancedRobust, CompressedFramesStayAboveFrameZeroEnlarged) {
  Sequence s = MakeSequence(13, [](int) { return Scene(Smooth); }, 1.0, 6);
  for (size_t k = 0; k < s.frames.size(); ++k) Compress(s.frames[k], k == 0 ? 4.0 : 8.0);
  EnhancedOutcome outcome;
  const ColorDoubleImage result = Reconstruct(s, outcome);
  const auto all = [](double, double) { return true; };
  const double enhanced = RmsError(result, Smooth, all);
  const double bicubic = RmsError(Bicubic(s.frames[0]), Smooth, all);
  EXPECT_LT(enhanced, bicubic) << "enhanced " << enhanced << ", bicubic " << bicubic;
}

// The square that moves on its own: 5 x 5 pixels, top-left at (16, 16) plus an offset.
bool InSquare(double x, double y, double dx, double dy) {
  return x >= 15.5 + dx && x < 20.5 + dx && y >= 15.5 + dy && y < 20.5 + dy;
}

Scene WithSquare(double dx, double dy) {
  return [dx, dy](int c, double x, double y) { return InSquare(x, y, dx, dy) ? 235.0 - 60.0 * c : Smooth(c, x, y); };
}

TEST(EnhancedRobust, ASquareMovingOnItsOwnIsTakenFromFrameZero) {
  // The square sits at its place in frame 0 and elsewhere in every other frame: averaged
  // in, it leaves a ghost; taken from frame 0 alone and enlarged, it rings. Inside it (a
  // pixel clear of its edges) the error must stay at most that of frame 0 enlarged.
  const Sequence s = MakeSequence(13, [](int k) {
    return WithSquare(k == 0 ? 0.0 : 4.0 * std::sin(k), k == 0 ? 0.0 : 4.0 * std::cos(k));
  }, 1.5, 5);
  EnhancedOutcome outcome;
  const ColorDoubleImage result = Reconstruct(s, outcome);
  const Scene truth = WithSquare(0.0, 0.0);
  const auto inside = [](double x, double y) { return x >= 16.5 && x < 19.5 && y >= 16.5 && y < 19.5; };
  const double enhanced = RmsError(result, truth, inside);
  const double bicubic = RmsError(Bicubic(s.frames[0]), truth, inside);
  EXPECT_FALSE(outcome.fellBack) << outcome.reason;
  EXPECT_LE(enhanced, bicubic) << "enhanced " << enhanced << ", bicubic " << bicubic;
  // Away from every place the square visits (and the reach of what frame 0 alone gives
  // there), the other frames still count: clearly better than frame 0 alone.
  const auto away = [](double x, double y) { return std::fabs(x - 18.0) > 9.0 || std::fabs(y - 18.0) > 9.0; };
  EXPECT_LT(RmsError(result, truth, away), 0.8 * RmsError(Bicubic(s.frames[0]), truth, away));
}

// Adds Gaussian noise of sigma to every frame but frame 0: noise that frame 0's own flat
// places do not show (as compression and a camera's noise often are, frame to frame).
void NoisierThanFrameZero(Sequence& s, double sigma, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> normal(0.0, sigma);
  for (size_t k = 1; k < s.frames.size(); ++k) {
    for (GrayImage& plane : s.frames[k].channels) {
      for (int y = 0; y < plane.Height(); ++y) {
        for (int x = 0; x < plane.Width(); ++x) plane.Row(y)[x] = testing::Level(plane.Row(y)[x] + normal(random));
      }
    }
  }
}

// Flat patches of 10 x 12 pixels, each its own grey: where frame 0 is flat, only noise
// tells the frames apart.
double Patches(int c, double x, double y) {
  const int ix = static_cast<int>(std::floor(x / 10.0));
  const int iy = static_cast<int>(std::floor(y / 12.0));
  return 90.0 + 25.0 * (((7 * ix + 3 * iy) % 5 + 5) % 5) + 5.0 * c;
}

Scene PatchesWithSquare(double dx, double dy) {
  return [dx, dy](int c, double x, double y) { return InSquare(x, y, dx, dy) ? 235.0 - 60.0 * c : Patches(c, x, y); };
}

// Frames that differ from frame 0 by noise alone agree with it, although frame 0 itself
// looks cleaner than they are; a square moving on its own in them still does not.
TEST(EnhancedRobust, NoiseFrameZeroDoesNotShowIsAgreementAndMotionIsNot) {
  Sequence still = MakeSequence(13, [](int) { return Scene(Patches); }, 0.3, 8);
  NoisierThanFrameZero(still, 4.0, 9);
  EnhancedOutcome outcome;
  Reconstruct(still, outcome);
  // (Scaled by frame 0's noise alone, under a third of their observations would.)
  for (size_t k = 1; k < outcome.agreement.size(); ++k) EXPECT_GT(outcome.agreement[k], 0.6) << "frame " << k;

  Sequence moving = MakeSequence(13, [](int k) {
    return PatchesWithSquare(k == 0 ? 0.0 : 4.0 * std::sin(k), k == 0 ? 0.0 : 4.0 * std::cos(k));
  }, 0.3, 5);
  NoisierThanFrameZero(moving, 4.0, 10);
  EnhancedOutcome withSquare;
  const ColorDoubleImage result = Reconstruct(moving, withSquare);
  const Scene truth = PatchesWithSquare(0.0, 0.0);
  const auto inside = [](double x, double y) { return x >= 16.5 && x < 19.5 && y >= 16.5 && y < 19.5; };
  const double enhanced = RmsError(result, truth, inside);
  const double bicubic = RmsError(Bicubic(moving.frames[0]), truth, inside);
  EXPECT_FALSE(withSquare.fellBack) << withSquare.reason;
  EXPECT_LE(enhanced, 1.2 * bicubic) << "enhanced " << enhanced << ", bicubic " << bicubic;
}

TEST(EnhancedRobust, UnrelatedFramesGiveFrameZeroEnlargedAndSayWhy) {
  const Sequence s = MakeSequence(9, [](int k) {
    return Scene([k](int c, double x, double y) {
      return k == 0 ? Smooth(c, x, y) : 120.0 + 60.0 * std::sin(0.5 * x + 2.0 * k + c) * std::cos(0.6 * y + k);
    });
  }, 1.0, 4);
  EnhancedOutcome outcome;
  const ColorDoubleImage result = Reconstruct(s, outcome);
  ASSERT_TRUE(outcome.fellBack);
  EXPECT_NE(outcome.reason.find("agree with frame 0"), std::string::npos) << outcome.reason;
  const ColorDoubleImage bicubic = Bicubic(s.frames[0]);
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < result.Height(); ++i) {
      for (int j = 0; j < result.Width(); ++j) {
        ASSERT_EQ(result.channels[static_cast<size_t>(c)].Row(i)[j], bicubic.channels[static_cast<size_t>(c)].Row(i)[j])
            << "channel " << c << " at " << j << ", " << i;
      }
    }
  }
}

TEST(EnhancedRobust, BrightnessOfOtherFramesIsMatchedToFrameZero) {
  // Frame 2 = 0.8 * scene + 20: the map back must recover frame 0's levels; frame 1, with
  // frame 0's brightness, keeps the identity, and so does frame 3 with a square that moved.
  const Sequence s = MakeSequence(4, [](int k) {
    if (k == 3) return WithSquare(3.0, -2.0);
    return Scene([k](int c, double x, double y) { return k == 2 ? 0.8 * Smooth(c, x, y) + 20.0 : Smooth(c, x, y); });
  }, 1.0, 2);
  const HrGeometry grid = ExtendGeometry(MakeHrGeometry(kRoi, kScale), 8);
  ObservationModel model(grid, PsfTaps(0.6, kScale));
  for (size_t k = 0; k < s.frames.size(); ++k) model.AddFrame(s.frames[k], s.homographies[k]);
  const auto maps = MatchPhotometry(model, s.frames[0], 1.0);
  ASSERT_EQ(maps.size(), 4u);
  for (int c = 0; c < 3; ++c) {
    SCOPED_TRACE(c);
    for (size_t k : {1u, 3u}) {
      EXPECT_EQ(maps[k][static_cast<size_t>(c)].gain, 1.0) << k;
      EXPECT_EQ(maps[k][static_cast<size_t>(c)].offset, 0.0) << k;
    }
    const Photometry& m = maps[2][static_cast<size_t>(c)];
    for (double level : {60.0, 180.0}) EXPECT_NEAR(m.gain * (0.8 * level + 20.0) + m.offset, level, 1.5) << level;
  }
}

// The agreement and the photometry are worked out frame by frame on the thread pool: the
// same bits as one frame after another.
TEST(EnhancedRobust, TheRobustWeightsDoNotDependOnTheThreads) {
  const Sequence s = MakeSequence(9, [](int k) {
    if (k == 4) return WithSquare(3.0, -2.0);
    return Scene(
        [k](int c, double x, double y) { return k % 3 == 2 ? 0.8 * Smooth(c, x, y) + 20.0 : Smooth(c, x, y); });
  }, 1.0, 2);
  const HrGeometry grid = ExtendGeometry(MakeHrGeometry(kRoi, kScale), 8);
  ObservationModel model(grid, PsfTaps(0.6, kScale));
  for (size_t k = 0; k < s.frames.size(); ++k) model.AddFrame(s.frames[k], s.homographies[k]);
  auto weigh = [&](ParallelMode mode, int threads) {
    const ScopedParallelMode scoped(mode);
    SetThreadCount(threads);
    std::tuple result{AgreementWeights(model, s.frames[0], 1.0), MatchPhotometry(model, s.frames[0], 1.0),
                      ReadNoise(model, s.frames[0], grid)};
    SetThreadCount(0);
    return result;
  };
  const auto serial = weigh(ParallelMode::ForceSerial, 1);
  const auto parallel = weigh(ParallelMode::ForceParallel, 3);
  EXPECT_TRUE(std::get<0>(parallel) == std::get<0>(serial));
  // The noise read from the frames' differences, frame by frame on the pool.
  ASSERT_TRUE(std::isfinite(std::get<2>(serial).frames));
  EXPECT_EQ(std::get<2>(parallel).frames, std::get<2>(serial).frames);
  EXPECT_EQ(std::get<2>(parallel).frame0, std::get<2>(serial).frame0);
  const auto& serialMaps = std::get<1>(serial);
  const auto& parallelMaps = std::get<1>(parallel);
  ASSERT_EQ(parallelMaps.size(), serialMaps.size());
  for (size_t k = 0; k < serialMaps.size(); ++k) {
    for (size_t c = 0; c < 3; ++c) {
      EXPECT_EQ(parallelMaps[k][c].gain, serialMaps[k][c].gain) << k;
      EXPECT_EQ(parallelMaps[k][c].offset, serialMaps[k][c].offset) << k;
    }
  }
  // The weights tell the frames apart: the square's frame agrees less than the others.
  EXPECT_LT(*std::min_element(std::get<0>(serial).begin(), std::get<0>(serial).end()), 0.5f);
}

// Blocks of 4 x 5 LR pixels, light and dark: edges that a PSF wider than the camera's
// can only steepen by ringing.
double Blocks(int c, double x, double y) {
  const bool light = (static_cast<int>(std::floor(x / 4.0)) + static_cast<int>(std::floor(y / 5.0))) % 2 == 0;
  return light ? 200.0 - 20.0 * c : 70.0 + 10.0 * c;
}

// How far the result goes beyond the scene's two levels, summed over channels and pixels.
double Overshoot(const ColorDoubleImage& image) {
  double sum = 0.0;
  for (int c = 0; c < 3; ++c) {
    const double lo = Blocks(c, 4.5, 0.5);
    const double hi = Blocks(c, 0.5, 0.5);
    for (int i = 0; i < image.Height(); ++i) {
      for (int j = 0; j < image.Width(); ++j) {
        const double v = image.channels[static_cast<size_t>(c)].Row(i)[j];
        sum += std::max(0.0, lo - v) + std::max(0.0, v - hi);
      }
    }
  }
  return sum;
}

// Reconstruct, with pictures of the work in progress: each of the grid's size and lit
// (the light blocks' level): the luma being solved, of either PSF, not an emptied plane.
ColorDoubleImage ReconstructWatched(const Sequence& s, EnhancedOutcome& outcome, const EnhancedSettings& settings) {
  const HrGeometry grid = MakeHrGeometry(kRoi, kScale);
  int pictures = 0;
  ColorDoubleImage result;
  EnhancedReconstruct(s.frames, s.homographies, grid, settings, result, outcome, nullptr,
                      [&](const ColorDoubleImage& estimate) {
                        ++pictures;
                        ASSERT_EQ(estimate.Width(), grid.width);
                        ASSERT_EQ(estimate.Height(), grid.height);
                        double lightest = 0.0;
                        for (int i = 0; i < grid.height; ++i) {
                          for (int j = 0; j < grid.width; ++j) {
                            lightest = std::max(lightest, estimate.channels[1].Row(i)[j]);
                          }
                        }
                        EXPECT_GT(lightest, 150.0) << "picture " << pictures;
                      });
  EXPECT_GT(pictures, 4);
  return result;
}

TEST(EnhancedRobust, FramesSharperThanThePsfAreSolvedWithANarrowerOne) {
  // The camera's PSF is sigma 0.35, the reconstruction is told 0.6: through the wider PSF
  // the estimate rings along every edge of the blocks.
  const Sequence s = MakeSequence(17, [](int) { return Scene(Blocks); }, 0.5, 8, 0.35);
  EnhancedOutcome checked;
  const ColorDoubleImage narrowed = ReconstructWatched(s, checked, EnhancedSettings{});
  EnhancedSettings stated;
  stated.checkPsf = false;
  EnhancedOutcome unchecked;
  const ColorDoubleImage ringing = ReconstructWatched(s, unchecked, stated);
  // The first wider PSF is refused; then three quarters of the width at every step, while
  // the scoring frames are predicted better, and never below the pixel's own box; where
  // frame 0's edges read nothing, last one width between the steps around the choice.
  ASSERT_GE(checked.psfTrials.size(), 3u);
  EXPECT_EQ(checked.psfTrials[0].sigma, 0.6);
  EXPECT_DOUBLE_EQ(checked.psfTrials[1].sigma, 0.6 * kWiderPsf);
  EXPECT_GT(checked.psfTrials[1].heldOutError, checked.psfTrials[0].heldOutError);
  EXPECT_DOUBLE_EQ(checked.psfTrials[2].sigma, 0.45);
  EXPECT_LE(checked.psfSigma, 0.45);
  EXPECT_GE(checked.psfSigma, kNarrowestPsf);
  size_t steps = checked.psfTrials.size();
  if (steps > 3 && checked.psfTrials[steps - 1].sigma > checked.psfTrials[steps - 2].sigma) {
    --steps;
    EXPECT_FALSE(checked.edgePsf.Found());
    EXPECT_LT(checked.psfTrials.back().sigma, 0.6);
  }
  for (size_t t = 2; t < steps; ++t) {
    const EnhancedOutcome::PsfTrial& before = checked.psfTrials[t == 2 ? 0 : t - 1];
    EXPECT_LT(checked.psfTrials[t].sigma, before.sigma);
    EXPECT_GT(checked.psfTrials[t].iterations, 0);
    if (checked.psfTrials[t].sigma >= checked.psfSigma) {
      EXPECT_LT(checked.psfTrials[t].heldOutError, before.heldOutError);
    }
  }
  EXPECT_EQ(unchecked.psfSigma, 0.6);
  EXPECT_EQ(unchecked.psfTrials.size(), 1u);
  EXPECT_FALSE(checked.fellBack) << checked.reason;
  EXPECT_LT(Overshoot(narrowed), 0.5 * Overshoot(ringing))
      << "narrowed " << Overshoot(narrowed) << ", stated " << Overshoot(ringing);
  const auto all = [](double, double) { return true; };
  EXPECT_LT(RmsError(narrowed, Blocks, all), RmsError(ringing, Blocks, all));
}

// On a small grid the colour differences solve side by side and the PSF check's first two
// trials likewise, each on one thread: the same bits as one after the other, with progress
// and pictures from the calling thread only, in band order, and a stop from the progress
// callback raised as it was thrown.
TEST(EnhancedRobust, WorkSideBySideGivesTheSerialBitsAndReportsFromTheCallingThread) {
  const Sequence s = MakeSequence(13, [](int) { return Scene(Blocks); }, 1.0, 5, 0.45);
  const HrGeometry grid = MakeHrGeometry(kRoi, kScale);
  struct Run {
    ColorDoubleImage result;
    EnhancedOutcome outcome;
    std::vector<std::pair<int, int>> steps;
    bool elsewhere = false;  // a report or picture from another thread
  };
  auto run = [&](int threads) {
    SetThreadCount(threads);
    Run r;
    const std::thread::id caller = std::this_thread::get_id();
    EnhancedReconstruct(
        s.frames, s.homographies, grid, EnhancedSettings{}, r.result, r.outcome,
        [&](int band, int iteration) {
          r.elsewhere = r.elsewhere || std::this_thread::get_id() != caller;
          r.steps.emplace_back(band, iteration);
        },
        [&](const ColorDoubleImage&) { r.elsewhere = r.elsewhere || std::this_thread::get_id() != caller; });
    SetThreadCount(0);
    return r;
  };
  const Run one = run(1);
  const Run two = run(2);
  ASSERT_GE(one.outcome.psfTrials.size(), 2u);
  ASSERT_EQ(two.outcome.psfTrials.size(), one.outcome.psfTrials.size());
  for (size_t t = 0; t < one.outcome.psfTrials.size(); ++t) {
    EXPECT_EQ(two.outcome.psfTrials[t].sigma, one.outcome.psfTrials[t].sigma) << t;
    EXPECT_EQ(two.outcome.psfTrials[t].heldOutError, one.outcome.psfTrials[t].heldOutError) << t;
    EXPECT_EQ(two.outcome.psfTrials[t].iterations, one.outcome.psfTrials[t].iterations) << t;
  }
  EXPECT_EQ(two.outcome.psfSigma, one.outcome.psfSigma);
  EXPECT_EQ(two.outcome.iterations, one.outcome.iterations);
  EXPECT_FALSE(one.outcome.fellBack) << one.outcome.reason;
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < grid.height; ++i) {
      for (int j = 0; j < grid.width; ++j) {
        ASSERT_EQ(two.result.channels[static_cast<size_t>(c)].Row(i)[j],
                  one.result.channels[static_cast<size_t>(c)].Row(i)[j])
            << c << " " << j << "," << i;
      }
    }
  }
  for (const Run* r : {&one, &two}) {
    EXPECT_FALSE(r->elsewhere);
    // Luma, then band 0, then band 2, never back; the last report is band 2's end.
    const int order[3] = {1, 0, 2};  // position of each band
    int position = 0;
    for (const auto& [band, iteration] : r->steps) {
      const int at = band == 1 ? 0 : band == 0 ? 1 : 2;
      EXPECT_GE(at, position) << "band " << band << " after band " << order[position];
      position = std::max(position, at);
    }
    ASSERT_FALSE(r->steps.empty());
    EXPECT_EQ(r->steps.back().first, 2);
    EXPECT_GT(r->steps.back().second, 0);
  }

  // A stop thrown while the colour differences solve side by side comes out as thrown.
  struct Cancelled {};
  SetThreadCount(2);
  ColorDoubleImage result;
  EnhancedOutcome outcome;
  EXPECT_THROW(EnhancedReconstruct(s.frames, s.homographies, grid, EnhancedSettings{}, result, outcome,
                                   [](int band, int iteration) {
                                     if (band != 1 && iteration >= 3) throw Cancelled{};
                                   },
                                   nullptr),
               Cancelled);
  SetThreadCount(0);
}

TEST(EnhancedRobust, FramesBlurrierThanThePsfAreSolvedWithAWiderOne) {
  // The camera's PSF is sigma 1.0, the reconstruction is told 0.6: through the narrower PSF
  // the estimate is the scene still blurred by the difference.
  const Sequence s = MakeSequence(17, [](int) { return Scene(Blocks); }, 0.5, 8, 1.0);
  EnhancedOutcome checked;
  const ColorDoubleImage widened = Reconstruct(s, checked);
  EnhancedSettings stated;
  stated.checkPsf = false;
  EnhancedOutcome unchecked;
  const ColorDoubleImage soft = Reconstruct(s, unchecked, stated);
  // Wider by kWiderPsf at every step, the last one tried refused.
  ASSERT_GE(checked.psfTrials.size(), 3u);
  EXPECT_EQ(checked.psfTrials[0].sigma, 0.6);
  for (size_t t = 1; t < checked.psfTrials.size(); ++t) {
    EXPECT_DOUBLE_EQ(checked.psfTrials[t].sigma, kWiderPsf * checked.psfTrials[t - 1].sigma);
  }
  EXPECT_GT(checked.psfSigma, 0.6);
  EXPECT_LT(checked.psfSigma, checked.psfTrials.back().sigma);
  EXPECT_FALSE(checked.compressed);
  EXPECT_FALSE(checked.fellBack) << checked.reason;
  const auto all = [](double, double) { return true; };
  EXPECT_LT(RmsError(widened, Blocks, all), RmsError(soft, Blocks, all));
}

// Fine texture with no straight edges, as in a photo some of it finer than the frames'
// pixels: waves of wavelengths 1.2 to 4.4 LR pixels in directions spread over the half
// circle, each channel its own phases.
double Texture(int c, double x, double y) {
  double v = 128.0;
  for (int i = 0; i < 9; ++i) {
    const double angle = 0.35 * i + 0.1;
    const double frequency = 2.0 * std::numbers::pi / (1.2 + 0.4 * i);
    v += 14.0 * std::sin(frequency * (std::cos(angle) * x + std::sin(angle) * y) + 1.3 * i + 0.4 * c);
  }
  return v;
}

TEST(EnhancedRobust, TexturedFramesFromASharpNoisyCameraAreSolvedNearItsBlur) {
  // The camera's PSF is sigma 0.33, the reconstruction is told 0.6. Frame 0 has no straight
  // edges, so its noise is read on texture, well above the truth: a margin of a tenth of
  // that refused every narrower step, though each predicted the held-out frames a sixth to
  // a third better, and the estimate through 0.6 rang: an RMS error of 52 against 7 now.
  const Sequence s = MakeSequence(17, [](int) { return Scene(Texture); }, 3.0, 5, 0.33);
  EnhancedOutcome checked;
  const ColorDoubleImage narrowed = Reconstruct(s, checked);
  EXPECT_FALSE(checked.edgePsf.Found());
  EXPECT_LE(checked.psfSigma, 0.4);
  EXPECT_GE(checked.psfSigma, kNarrowestPsf);
  EnhancedSettings told;
  told.checkPsf = false;
  told.psfSigma = 0.45;
  EnhancedOutcome step;
  const ColorDoubleImage wider = Reconstruct(s, step, told);
  const auto all = [](double, double) { return true; };
  const double error = RmsError(narrowed, Texture, all);
  EXPECT_LT(error, 0.5 * RmsError(wider, Texture, all));
  EXPECT_LT(error, RmsError(Bicubic(s.frames[0]), Texture, all));
}

// Every 16th 4 x 4 block of each channel (another one in each frame) replaced by its plane
// (testing::FitBlockPlane): a codec that rounded away the detail of those blocks.
void SmoothSomeBlocks(ColorGrayImage& frame, int k) {
  for (GrayImage& plane : frame.channels) {
    for (int by = 0; by + 4 <= plane.Height(); by += 4) {
      for (int bx = 0; bx + 4 <= plane.Width(); bx += 4) {
        if ((bx / 4 + 3 * (by / 4) + k) % 16 == 0) testing::FitBlockPlane(plane, bx, by);
      }
    }
  }
}

TEST(EnhancedRobust, TexturedFramesWithBlocksACodecSmoothedLookCompressedThoughTheirNoiseReadsNot) {
  // On texture frame 0's second differences read its detail as well as its noise, as high
  // as the frames' differences from it: the noise readings alone do not tell the codec.
  Sequence s = MakeSequence(17, [](int) { return Scene(Texture); }, 3.0, 5, 0.33);
  EnhancedOutcome plain;
  Reconstruct(s, plain);
  EXPECT_FALSE(plain.compressed);
  for (size_t k = 0; k < s.frames.size(); ++k) SmoothSomeBlocks(s.frames[k], static_cast<int>(k));
  EnhancedOutcome coded;
  Reconstruct(s, coded);
  EXPECT_LE(coded.framesNoise, kCompressedNoise * coded.frame0Noise);
  EXPECT_TRUE(coded.compressed);
}

// Five frames, a video's window: one held-out frame stops the check's fits and one more is
// left out of them to score them. That one frame may narrow a PSF stated too wide; it never
// widens one.
TEST(EnhancedRobust, AWindowOfFiveFramesNarrowsThePsfButNeverWidensIt) {
  const Sequence sharp = MakeSequence(5, [](int) { return Scene(Blocks); }, 0.5, 8, 0.35);
  EnhancedOutcome narrowed;
  Reconstruct(sharp, narrowed);
  ASSERT_GE(narrowed.psfTrials.size(), 3u);
  EXPECT_LT(narrowed.psfSigma, 0.6);
  const Sequence soft = MakeSequence(5, [](int) { return Scene(Blocks); }, 0.5, 8, 1.0);
  EnhancedOutcome kept;
  Reconstruct(soft, kept);
  ASSERT_GE(kept.psfTrials.size(), 2u);  // the stated one and the first wider one, for the narrowing's test
  EXPECT_EQ(kept.psfSigma, 0.6);
  for (const EnhancedOutcome::PsfTrial& t : kept.psfTrials) EXPECT_LE(t.sigma, 0.6 * kWiderPsf);
}

// A light square turned by 20 degrees on a dark ground: long straight edges at two angles,
// apart from one another, for frame 0's edges to read the camera's blur from.
double TurnedSquare(int c, double x, double y) {
  const double a = 20.0 * std::numbers::pi / 180.0;
  const double u = (x - 20.0) * std::cos(a) + (y - 20.0) * std::sin(a);
  const double v = -(x - 20.0) * std::sin(a) + (y - 20.0) * std::cos(a);
  return std::fabs(u) < 12.0 && std::fabs(v) < 12.0 ? 200.0 - 20.0 * c : 60.0 + 10.0 * c;
}

TEST(EnhancedRobust, ThePsfCheckKeepsNearTheBlurFrameZerosEdgesShow) {
  // The camera's blur is sigma 0.9; told 0.45 or 1.2, the check ends within kEdgeBelow
  // below and kEdgeAbove above what the edges read, whatever the held-out frames chose.
  const Sequence s = MakeSequence(17, [](int) { return Scene(TurnedSquare); }, 0.5, 8, 0.9);
  for (double told : {0.45, 1.2}) {
    SCOPED_TRACE(told);
    EnhancedSettings settings;
    settings.psfSigma = told;
    EnhancedOutcome checked;
    Reconstruct(s, checked, settings);
    ASSERT_TRUE(checked.edgePsf.Found()) << checked.edgePsf.edges << " edges";
    EXPECT_NEAR(checked.edgePsf.sigma, 0.9, 0.1);
    EXPECT_GE(checked.psfSigma, checked.edgePsf.sigma / kEdgeBelow - 1e-9);
    EXPECT_LE(checked.psfSigma, checked.edgePsf.sigma * kEdgeAbove + 1e-9);
    // Without the check the edges are not read and the stated PSF stays.
    settings.checkPsf = false;
    EnhancedOutcome unchecked;
    Reconstruct(s, unchecked, settings);
    EXPECT_FALSE(unchecked.edgePsf.Found());
    EXPECT_EQ(unchecked.psfSigma, told);
  }
}

TEST(EnhancedRobust, FramesOfTheStatedPsfKeepIt) {
  // Frames made with the stated PSF: whether or not the check runs, the stated PSF stays
  // and the result is what the run without the check gives, bit for bit.
  for (const auto& [scene, noise] : {std::pair<Scene, double>{Blocks, 0.5}, {Smooth, 1.0}}) {
    const Sequence s = MakeSequence(17, [&](int) { return scene; }, noise, 8);
    EnhancedOutcome checked;
    const ColorDoubleImage result = Reconstruct(s, checked);
    EnhancedSettings stated;
    stated.checkPsf = false;
    EnhancedOutcome unchecked;
    const ColorDoubleImage plain = Reconstruct(s, unchecked, stated);
    EXPECT_EQ(checked.psfSigma, 0.6);
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < result.Height(); ++i) {
        for (int j = 0; j < result.Width(); ++j) {
          ASSERT_EQ(result.channels[static_cast<size_t>(c)].Row(i)[j], plain.channels[static_cast<size_t>(c)].Row(i)[j])
              << "channel " << c << " at " << j << ", " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace lumet
