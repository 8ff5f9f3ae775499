#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "imageio/image_file.h"
#include "numeric/pixel_map.h"
#include "numeric/projection.h"
#include "reconstruction/blurred_frames.h"
#include "reconstruction/enhanced/solver.h"
#include "reconstruction/enhanced/weights.h"
#include "reconstruction/frame_rows.h"

namespace lumet {
namespace {

// Frames of 40 x 40 pixels, the ROI in the middle, scale 3.
constexpr int kSize = 40;
constexpr RoiRect kRoi{8, 8, 24, 24};
constexpr double kScale = 3.0;

// A smooth colour scene in reference-frame LR coordinates, within 40 .. 200: smooth enough
// that the estimate's error is that of the frames' samples rather than of what the
// reconstruction cannot resolve.
double Smooth(int c, double x, double y) {
  return 120.0 + 50.0 * std::sin(0.28 * x + c) * std::cos(0.2 * y) + 30.0 * std::sin(0.12 * (x + y));
}

struct Sequence {
  std::vector<ColorGrayImage> frames;
  std::vector<Matrix> homographies;
};

// How a camera stores its samples: 16-bit integers, or floats (1.0 the nominal white).
enum class Storage { Bits16, Float };

// Frame k as a 16-bit (or floating-point) camera gives it: Smooth times gain, shifted by an
// exact sub-pixel translation (frame 0 unshifted), blurred by the reconstruction's Gaussian
// PSF (sigma 0.6 pixels, 9 x 9 points over +-2.4 sigma), with Gaussian noise of sigma `noise`
// grey levels, stored as 16-bit samples (or floats, unclamped): the 8-bit channels To8Bit
// (FloatTo8Bit) of them and the deep planes beside.
Sequence MakeDeepSequence(int count, double noise, unsigned seed, Storage storage = Storage::Bits16,
                          double gain = 1.0) {
  Sequence s;
  std::mt19937 random(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  const testing::GaussianPoints points(0.6);
  for (int k = 0; k < count; ++k) {
    double dx = 0.0;
    double dy = 0.0;
    testing::FrameShift(k, dx, dy);
    ColorGrayImage frame;
    frame.Create(kSize, kSize);
    auto deep = std::make_shared<DeepPlanes>();
    deep->floatSamples = storage == Storage::Float;
    for (int c = 0; c < 3; ++c) {
      deep->channels[c].Create(kSize, kSize);
      for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
          double v = points.Blurred(Smooth, c, x - dx, y - dy);
          v = gain * v + noise * normal(random);
          if (storage == Storage::Float) {
            testing::PutFloatSample(frame, *deep, c, x, y, static_cast<float>(v / 255.0));
          } else {
            testing::Put16BitSample(frame, *deep, c, x, y, v);
          }
        }
      }
    }
    frame.deep = std::move(deep);
    s.frames.push_back(std::move(frame));
    s.homographies.push_back(k == 0 ? IdentityHomography() : testing::ShiftHomography(dx, dy));
  }
  return s;
}

// The same frames cut to 8 bits: their deep planes let go of.
Sequence CutTo8Bits(Sequence s) {
  for (ColorGrayImage& frame : s.frames) frame.deep.reset();
  return s;
}

// The frames of a 16-bit sequence as floating-point files would hold them: each sample u
// as the float u / 65535.
Sequence AsFloatOf16Bit(Sequence s) {
  for (ColorGrayImage& frame : s.frames) {
    auto deep = std::make_shared<DeepPlanes>();
    deep->floatSamples = true;
    for (int c = 0; c < 3; ++c) {
      const FloatImage& given = frame.deep->channels[c];
      deep->channels[c].Create(given.Width(), given.Height());
      for (int y = 0; y < given.Height(); ++y) {
        for (int x = 0; x < given.Width(); ++x) {
          const auto u = static_cast<uint16_t>(std::lround(given.Row(y)[x] * 257.0));
          const auto v = static_cast<float>(u / 65535.0);
          EXPECT_EQ(FloatTo8Bit(v), frame.channels[static_cast<size_t>(c)].Row(y)[x]);  // the same 8-bit cut
          deep->channels[c].Row(y)[x] = FloatDeepValue(v);
        }
      }
    }
    frame.deep = std::move(deep);
  }
  return s;
}

// The frames of an 8-bit sequence given as 16-bit files of theirs would be: each level a
// as the sample a * 257.
Sequence As16BitOf8Bit(Sequence s) {
  for (ColorGrayImage& frame : s.frames) {
    auto deep = std::make_shared<DeepPlanes>();
    for (int c = 0; c < 3; ++c) {
      const GrayImage& plane = frame.channels[static_cast<size_t>(c)];
      deep->channels[c].Create(plane.Width(), plane.Height());
      for (int y = 0; y < plane.Height(); ++y) {
        for (int x = 0; x < plane.Width(); ++x) {
          deep->channels[c].Row(y)[x] = DeepValue(static_cast<uint16_t>(plane.Row(y)[x] * 257));
        }
      }
    }
    frame.deep = std::move(deep);
  }
  return s;
}

ColorDoubleImage Reconstruct(const Sequence& s, EnhancedOutcome& outcome) {
  ColorDoubleImage result;
  EnhancedReconstruct(s.frames, s.homographies, MakeHrGeometry(kRoi, kScale), EnhancedSettings{}, result, outcome,
                      nullptr, nullptr);
  return result;
}

// PSNR of the estimate against the scene, in 16-bit units (each value v as v * 257 of
// 65535), over the ROI grid.
double Psnr16(const ColorDoubleImage& image) {
  const HrGeometry grid = MakeHrGeometry(kRoi, kScale);
  double sum = 0.0;
  int n = 0;
  for (int i = 0; i < grid.height; ++i) {
    for (int j = 0; j < grid.width; ++j) {
      const double x = (j + grid.x0) / kScale;
      const double y = (i + grid.y0) / kScale;
      for (int c = 0; c < 3; ++c) {
        const double d = 257.0 * (image.channels[static_cast<size_t>(c)].Row(i)[j] - Smooth(c, x, y));
        sum += d * d;
        ++n;
      }
    }
  }
  return 20.0 * std::log10(65535.0 / std::sqrt(sum / n));
}

TEST(EnhancedDeep, SixteenBitFramesGiveAClearlyBetterEstimateThanTheirEightBitCut) {
  // Noise well under one 8-bit level: the 8-bit cut adds its quantisation (0.29 levels RMS),
  // which the deep planes do not have.
  const Sequence deep = MakeDeepSequence(16, 0.1, 5);
  EnhancedOutcome deepOutcome;
  EnhancedOutcome cutOutcome;
  const double deepPsnr = Psnr16(Reconstruct(deep, deepOutcome));
  const double cutPsnr = Psnr16(Reconstruct(CutTo8Bits(deep), cutOutcome));
  std::printf("enhanced PSNR (16-bit units): 16-bit frames %.2f dB, cut to 8 bits %.2f dB, gain %.2f dB\n", deepPsnr,
              cutPsnr, deepPsnr - cutPsnr);
  EXPECT_FALSE(deepOutcome.fellBack) << deepOutcome.reason;
  EXPECT_FALSE(cutOutcome.fellBack) << cutOutcome.reason;
  // Both keep the stated PSF, the camera's: the difference is the samples' alone.
  EXPECT_EQ(deepOutcome.psfSigma, 0.6);
  EXPECT_EQ(cutOutcome.psfSigma, 0.6);
  // Measured: 3.45 dB with this seed, 2.76 .. 3.45 dB over seeds 1 .. 6.
  EXPECT_GT(deepPsnr, cutPsnr + 2.0);
}

TEST(EnhancedDeep, EightBitFramesGivenAsSixteenBitSamplesGiveTheSameEstimate) {
  // a * 257 / 257 is a exactly: the deep path reads the very numbers the 8-bit path reads,
  // so every observation, the noise and frame 0 enlarged are the same and so is the result.
  const Sequence eight = CutTo8Bits(MakeDeepSequence(9, 2.0, 7));
  EnhancedOutcome eightOutcome;
  EnhancedOutcome deepOutcome;
  const ColorDoubleImage a = Reconstruct(eight, eightOutcome);
  const ColorDoubleImage b = Reconstruct(As16BitOf8Bit(eight), deepOutcome);
  EXPECT_EQ(eightOutcome.noise, deepOutcome.noise);
  EXPECT_EQ(eightOutcome.iterations, deepOutcome.iterations);
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (size_t c = 0; c < 3; ++c) {
    for (int i = 0; i < a.Height(); ++i) {
      for (int j = 0; j < a.Width(); ++j) {
        ASSERT_EQ(a.channels[c].Row(i)[j], b.channels[c].Row(i)[j]) << "channel " << c << " at " << j << ", " << i;
      }
    }
  }
}

TEST(EnhancedDeep, FloatFramesGiveTheEstimateOfTheSameSamplesAtSixteenBits) {
  // u / 65535 as a float, times 255, is u / 257 within the float's rounding (a relative
  // 6e-8, at most 1.5e-5 levels): the same observations, noise and start, so the same
  // estimate within what that rounding moves it by.
  const Sequence sixteen = MakeDeepSequence(9, 0.5, 3);
  EnhancedOutcome sixteenOutcome;
  EnhancedOutcome floatOutcome;
  const ColorDoubleImage a = Reconstruct(sixteen, sixteenOutcome);
  const ColorDoubleImage b = Reconstruct(AsFloatOf16Bit(sixteen), floatOutcome);
  EXPECT_FALSE(floatOutcome.fellBack) << floatOutcome.reason;
  EXPECT_NEAR(floatOutcome.noise, sixteenOutcome.noise, 1e-4);
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  double largest = 0.0;
  for (size_t c = 0; c < 3; ++c) {
    for (int i = 0; i < a.Height(); ++i) {
      for (int j = 0; j < a.Width(); ++j) {
        largest = std::max(largest, std::fabs(a.channels[c].Row(i)[j] - b.channels[c].Row(i)[j]));
      }
    }
  }
  std::printf("enhanced, float frames against the same 16-bit frames: largest difference %.3g levels\n", largest);
  EXPECT_LT(largest, 1e-3);
}

TEST(EnhancedDeep, FloatFramesBeyondTheNominalWhiteGiveAnEstimateBeyondIt) {
  // A scene 1.6 times as bright: up to about 320 levels, 1.25 in the file's units. The
  // 16-bit camera clips it at 255; the float one keeps it, and so does the estimate.
  constexpr double kGain = 1.6;
  const Sequence hdr = MakeDeepSequence(16, 0.3, 5, Storage::Float, kGain);
  const Sequence clipped = MakeDeepSequence(16, 0.3, 5, Storage::Bits16, kGain);
  EnhancedOutcome hdrOutcome;
  EnhancedOutcome clippedOutcome;
  const ColorDoubleImage a = Reconstruct(hdr, hdrOutcome);
  const ColorDoubleImage b = Reconstruct(clipped, clippedOutcome);
  EXPECT_FALSE(hdrOutcome.fellBack) << hdrOutcome.reason;
  // The error against the scene where it is beyond the nominal white.
  const HrGeometry grid = MakeHrGeometry(kRoi, kScale);
  double hdrSum = 0.0;
  double clippedSum = 0.0;
  double brightest = 0.0;
  int n = 0;
  for (int i = 0; i < grid.height; ++i) {
    for (int j = 0; j < grid.width; ++j) {
      for (int c = 0; c < 3; ++c) {
        const double truth = kGain * Smooth(c, (j + grid.x0) / kScale, (i + grid.y0) / kScale);
        if (truth <= 260.0) continue;
        const double va = a.channels[static_cast<size_t>(c)].Row(i)[j];
        hdrSum += (va - truth) * (va - truth);
        const double vb = b.channels[static_cast<size_t>(c)].Row(i)[j];
        clippedSum += (vb - truth) * (vb - truth);
        brightest = std::max(brightest, va);
        ++n;
      }
    }
  }
  ASSERT_GT(n, 50);
  const double hdrRms = std::sqrt(hdrSum / n);
  const double clippedRms = std::sqrt(clippedSum / n);
  std::printf("enhanced beyond the nominal white (%d samples): float frames RMS %.3f levels, 16-bit %.2f levels\n", n,
              hdrRms, clippedRms);
  EXPECT_GT(brightest, 280.0);
  EXPECT_LT(hdrRms, 1.0);
  EXPECT_GT(clippedRms, 10.0);
}

TEST(EnhancedDeep, FrameZeroIsReadAtDepthOnlyWhenAsked) {
  const Sequence deep = MakeDeepSequence(1, 0.1, 9);
  const ColorGrayImage& frame0 = deep.frames[0];
  const HrGeometry grid = MakeHrGeometry(kRoi, kScale);
  Plane eight[3];
  Plane deepPlanes[3];
  BicubicOnGrid(frame0, grid, eight);  // the 8-bit channels, as the classic method's check reads it
  BicubicOnGrid(frame0, grid, deepPlanes, SampleDepth::Deep);
  // They differ by the rounding to 8 bits alone: up to half a level, times the cubic
  // kernel's overshoot (the sum of its absolute weights, under 1.6 in two dimensions).
  double cutError = 0.0;
  for (int c = 0; c < 3; ++c) {
    for (size_t i = 0; i < eight[c].v.size(); ++i) cutError = std::max(cutError, std::fabs(eight[c].v[i] - deepPlanes[c].v[i]));
  }
  EXPECT_GT(cutError, 0.1);
  EXPECT_LT(cutError, 0.5 * 1.6);
  // The observations: the deep planes' values when asked, the 8-bit ones otherwise.
  ObservationModel atDepth(grid, PsfTaps(0.6, kScale));
  ObservationModel at8(grid, PsfTaps(0.6, kScale));
  ASSERT_GT(atDepth.AddFrame(frame0, IdentityHomography(), SampleDepth::Deep), 0u);
  ASSERT_GT(at8.AddFrame(frame0, IdentityHomography()), 0u);
  for (size_t o = 0; o < atDepth.ObservationCount(); ++o) {
    int u = 0;
    int v = 0;
    ASSERT_TRUE(atDepth.FramePixel(o, u, v));
    for (int c = 0; c < 3; ++c) {
      ASSERT_EQ(atDepth.Values(c)[o], frame0.deep->channels[c].Row(v)[u]);
      ASSERT_EQ(at8.Values(c)[o], frame0.channels[static_cast<size_t>(c)].Row(v)[u]);
    }
  }
  // The noise: noise of 0.1 levels is held at the floor at depth too; noise of 1.5 levels is
  // measured from the deep planes, which the rounding to 8 bits does not widen.
  EXPECT_EQ(EstimateNoise(frame0, grid, SampleDepth::Deep), kNoiseFloor);
  const ColorGrayImage noisy = MakeDeepSequence(1, 1.5, 9).frames[0];
  const double noise8 = EstimateNoise(noisy, grid);
  const double noiseDeep = EstimateNoise(noisy, grid, SampleDepth::Deep);
  EXPECT_NEAR(noiseDeep, 1.5, 0.25);
  EXPECT_NE(noiseDeep, noise8);
}

TEST(EnhancedDeep, ChangingAFramesPixelsKeepsItsDeepPlanesAlikeAndLeavesTheSharedOnesAlone) {
  Sequence s = MakeDeepSequence(2, 0.1, 11);
  const std::shared_ptr<const DeepPlanes> given = s.frames[1].deep;
  const std::vector<ColorGrayImage> original = s.frames;
  SCOPED_TRACE("photometry");
  std::vector<std::array<Photometry, 3>> maps(2);
  maps[1][1] = {1.1, -3.25};  // green of frame 1 alone
  std::vector<ColorGrayImage> matched = s.frames;
  ApplyPhotometry(maps, matched);
  ASSERT_NE(matched[1].deep, nullptr);
  EXPECT_NE(matched[1].deep, given);      // a copy was changed
  EXPECT_EQ(s.frames[1].deep, given);     // not the frames given
  EXPECT_EQ(matched[0].deep, s.frames[0].deep);  // an unchanged frame keeps sharing
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double before = given->channels[1].Row(y)[x];
      const double after = matched[1].deep->channels[1].Row(y)[x];
      ASSERT_NEAR(after, std::clamp(1.1 * before - 3.25, 0.0, 255.0), 1e-4);
      ASSERT_EQ(matched[1].channels[1].Row(y)[x], static_cast<uint8_t>(std::floor(after + 0.5)));
      ASSERT_EQ(matched[1].deep->channels[0].Row(y)[x], given->channels[0].Row(y)[x]);  // red untouched
      ASSERT_EQ(original[1].channels[1].Row(y)[x], s.frames[1].channels[1].Row(y)[x]);
    }
  }

  // Floating-point frames keep what the map gives beyond 0 .. 255 at depth; their 8-bit
  // channels are those values rounded and clamped.
  Sequence bright = MakeDeepSequence(2, 0.1, 11, Storage::Float, 1.6);
  std::vector<std::array<Photometry, 3>> brighter(2);
  brighter[1][0] = {1.2, -40.0};
  std::vector<ColorGrayImage> scaled = bright.frames;
  ApplyPhotometry(brighter, scaled);
  int beyond = 0;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double before = bright.frames[1].deep->channels[0].Row(y)[x];
      const double after = scaled[1].deep->channels[0].Row(y)[x];
      ASSERT_NEAR(after, 1.2 * before - 40.0, 1e-3);
      ASSERT_EQ(scaled[1].channels[0].Row(y)[x], static_cast<uint8_t>(std::floor(std::clamp(after, 0.0, 255.0) + 0.5)));
      beyond += after > 255.0 ? 1 : 0;
    }
  }
  EXPECT_GT(beyond, 0);

  // Rows released: the deep planes hold the same rows as the channels, and the copy shared
  // before keeps all of its own.
  ColorGrayImage frame = s.frames[1];
  const HrGeometry grid = MakeHrGeometry(RoiRect{10, 12, 8, 6}, kScale);
  KeepRowsUnderGrid(frame, s.homographies[1], grid);
  ASSERT_NE(frame.deep, nullptr);
  ASSERT_FALSE(frame.channels[0].HoldsAllRows());
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(frame.deep->channels[c].FirstRow(), frame.channels[static_cast<size_t>(c)].FirstRow());
    EXPECT_EQ(frame.deep->channels[c].HeldRows(), frame.channels[static_cast<size_t>(c)].HeldRows());
    const int y = frame.channels[0].FirstRow();
    EXPECT_EQ(frame.deep->channels[c].Row(y)[3], given->channels[c].Row(y)[3]);
  }
  EXPECT_TRUE(given->channels[0].HoldsAllRows());
  // Creating the channels anew lets the deep planes go: they would describe other pixels.
  frame.Create(4, 4);
  EXPECT_EQ(frame.deep, nullptr);
}

}  // namespace
}  // namespace lumet
