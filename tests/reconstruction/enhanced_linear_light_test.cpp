// The enhanced method's solve in linear light (--linear-light): sRGB-encoded frames of a
// scene blurred by the camera in linear light, frames stored linear, and the classic method,
// which the option does not reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "numeric/pixel_map.h"
#include "numeric/projection.h"
#include "numeric/srgb.h"
#include "reconstruction/enhanced/linear_light.h"
#include "reconstruction/blurred_frames.h"
#include "reconstruction/enhanced/solver.h"
#include "reconstruction/reconstruction_method.h"
#include "reference_backend.h"
#include "support/test_images.h"

namespace lumet {
namespace {

constexpr int kSize = 40;
constexpr RoiRect kRoi{8, 8, 24, 24};
constexpr double kScale = 3.0;

// The scene in linear light (0 .. 1) at a reference-frame LR position: dark and bright bars
// with edges about one LR pixel wide, slanted, a little colour in the bright ones.
double SceneLinear(int c, double x, double y) {
  const double bright = 0.85 - 0.1 * c;
  const double dark = 0.015;
  const double bars = std::tanh(3.0 * std::sin(0.45 * x + 0.15 * y));
  return dark + (bright - dark) * 0.5 * (1.0 + bars);
}

struct Sequence {
  std::vector<ColorGrayImage> frames;
  std::vector<Matrix> homographies;
};

enum class Storage { Srgb8, Srgb16, LinearFloat };

// Frame k as a camera gives it: the scene shifted by an exact sub-pixel translation (frame 0
// unshifted), blurred by the reconstruction's Gaussian PSF (sigma 0.6 pixels, 9 x 9 points
// over +-2.4 sigma) in linear light, with Gaussian noise of `noise` grey levels; stored sRGB
// encoded in 8 or 16 bits, or as linear floats (noise added in linear light then, at the
// encoded level's slope).
Sequence MakeSequence(int count, double noise, unsigned seed, Storage storage) {
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
    deep->floatSamples = storage == Storage::LinearFloat;
    for (int c = 0; c < 3; ++c) {
      deep->channels[c].Create(kSize, kSize);
      for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
          const double linear = points.Blurred(SceneLinear, c, x - dx, y - dy);
          const double level = SrgbEncodeLevel(255.0 * linear) + noise * normal(random);
          if (storage == Storage::LinearFloat) {
            testing::PutFloatSample(frame, *deep, c, x, y, static_cast<float>(SrgbDecode(level / 255.0)));
          } else {
            testing::Put16BitSample(frame, *deep, c, x, y, level);
          }
        }
      }
    }
    if (storage != Storage::Srgb8) frame.deep = std::move(deep);
    s.frames.push_back(std::move(frame));
    s.homographies.push_back(k == 0 ? IdentityHomography() : testing::ShiftHomography(dx, dy));
  }
  return s;
}

ColorDoubleImage Reconstruct(const Sequence& s, bool linearLight, EnhancedOutcome& outcome) {
  EnhancedSettings settings;
  settings.linearLight = linearLight;
  ColorDoubleImage result;
  EnhancedReconstruct(s.frames, s.homographies, MakeHrGeometry(kRoi, kScale), settings, result, outcome, nullptr,
                      nullptr);
  return result;
}

// PSNR (8-bit units) of the estimate against the scene's encoded values over the ROI grid;
// with `linearTruth`, of the estimate against the scene's linear values (255 for white).
double Psnr(const ColorDoubleImage& image, bool linearTruth = false) {
  const HrGeometry grid = MakeHrGeometry(kRoi, kScale);
  double sum = 0.0;
  int n = 0;
  for (int i = 0; i < grid.height; ++i) {
    for (int j = 0; j < grid.width; ++j) {
      const double x = (j + grid.x0) / kScale;
      const double y = (i + grid.y0) / kScale;
      for (int c = 0; c < 3; ++c) {
        const double truth = 255.0 * SceneLinear(c, x, y);
        const double d = image.channels[static_cast<size_t>(c)].Row(i)[j] - (linearTruth ? truth : SrgbEncodeLevel(truth));
        sum += d * d;
        ++n;
      }
    }
  }
  return 20.0 * std::log10(255.0 / std::sqrt(sum / n));
}

// Frames that obey the model in linear light: the solve there reconstructs the bars'
// edges closer to the scene than the solve of the encoded values, which cannot undo a blur
// that happened before the encoding (it leaves the dark side of every edge too bright).
TEST(EnhancedLinearLight, EncodedFramesOfASceneBlurredInLinearLightAreReconstructedCloser) {
  for (const Storage storage : {Storage::Srgb8, Storage::Srgb16}) {
    SCOPED_TRACE(storage == Storage::Srgb8 ? "8-bit" : "16-bit");
    const Sequence s = MakeSequence(16, 1.0, 3, storage);
    EnhancedOutcome encodedOutcome;
    EnhancedOutcome linearOutcome;
    const double encoded = Psnr(Reconstruct(s, false, encodedOutcome));
    const double linear = Psnr(Reconstruct(s, true, linearOutcome));
    std::printf("enhanced PSNR against the encoded scene: encoded solve %.2f dB, linear-light solve %.2f dB\n", encoded,
                linear);
    EXPECT_FALSE(encodedOutcome.fellBack) << encodedOutcome.reason;
    EXPECT_FALSE(linearOutcome.fellBack) << linearOutcome.reason;
    // The noise and the agreement are read on the encoded frames either way (under grids
    // that differ by the margins of the PSFs chosen: within 2 %, and 0.01 of each share).
    EXPECT_NEAR(linearOutcome.noise, encodedOutcome.noise, 0.02 * encodedOutcome.noise);
    ASSERT_EQ(linearOutcome.agreement.size(), encodedOutcome.agreement.size());
    for (size_t k = 0; k < linearOutcome.agreement.size(); ++k) {
      EXPECT_NEAR(linearOutcome.agreement[k], encodedOutcome.agreement[k], 0.01) << k;
    }
    // The held-out errors stay in encoded grey levels: of the same size as the encoded solve's.
    EXPECT_GT(linearOutcome.heldOutError, 0.5 * encodedOutcome.heldOutError);
    EXPECT_LT(linearOutcome.heldOutError, 1.5 * encodedOutcome.heldOutError);
    // The PSF check, in linear light too, keeps the camera's PSF, which the encoded values
    // make look wider.
    EXPECT_EQ(linearOutcome.psfSigma, 0.6);
    // Measured: 28.9 dB encoded, 42.1 (8-bit) and 39.0 (16-bit) dB in linear light.
    EXPECT_GT(linear, encoded + 6.0);
  }
}

// The objective in linear light: its gradient is the slope of its value, through the
// encoded luma (nonlinear) and through the colour differences' fixed scale alike.
TEST(EnhancedLinearLight, GradientIsTheObjectivesSlope) {
  const Sequence s = MakeSequence(4, 1.0, 7, Storage::Srgb8);
  const HrGeometry roi = MakeHrGeometry(RoiRect{12, 12, 10, 8}, 2.0);
  const std::vector<double> taps = PsfTaps(0.6, roi.scale);
  const HrGeometry grid = ExtendGeometry(roi, EnhancedMargin(static_cast<int>(taps.size()), roi.scale));
  ObservationModel model(grid, taps);
  for (size_t k = 0; k < s.frames.size(); ++k) model.AddFrame(s.frames[k], s.homographies[k]);
  const std::vector<double> scale = DecodeObservations(model, {1, 1, 1, 1});
  model.TransformValues(kToLumaChroma);
  std::mt19937 random(11);
  std::uniform_real_distribution<double> level(20.0, 230.0);
  Plane luma(grid.width, grid.height);
  for (double& v : luma.v) v = level(random);
  const Plane k = EncodingSlopes(luma);
  EnhancedWeights weights;
  weights.lambda = 0.4;
  weights.frame = {1.0, 0.6, 1.0, 0.8};
  weights.dataSmoothing = 2.0;
  Plane z(grid.width, grid.height);
  for (double& v : z.v) v = level(random);
  for (const int lumaBand : {1, 0}) {
    SCOPED_TRACE(lumaBand == 1 ? "luma" : "colour difference");
    // ExpectGradientIsTheObjectivesSlope checks band 1: luma, or a colour difference when
    // luma is said to be band 0.
    const LinearLightBackend backend(CpuEnhancedBackend(), scale, k, lumaBand);
    testing::ExpectGradientIsTheObjectivesSlope(backend, model, weights, z, random, 20);
  }
}

// Frames stored in linear light (floating point) are never decoded: the option changes
// nothing, to the last bit.
TEST(EnhancedLinearLight, LinearFramesAreSolvedAsTheyAre) {
  const Sequence s = MakeSequence(12, 1.0, 4, Storage::LinearFloat);
  EnhancedOutcome offOutcome;
  EnhancedOutcome onOutcome;
  const ColorDoubleImage off = Reconstruct(s, false, offOutcome);
  const ColorDoubleImage on = Reconstruct(s, true, onOutcome);
  EXPECT_FALSE(offOutcome.fellBack) << offOutcome.reason;
  EXPECT_EQ(onOutcome.iterations, offOutcome.iterations);
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < off.Height(); ++i) {
      for (int j = 0; j < off.Width(); ++j) {
        ASSERT_EQ(on.channels[static_cast<size_t>(c)].Row(i)[j], off.channels[static_cast<size_t>(c)].Row(i)[j])
            << c << " " << i << " " << j;
      }
    }
  }
  // And what it gives is the scene in linear light, as the frames hold it.
  EXPECT_GT(Psnr(off, true), 25.0);
  EXPECT_FALSE(SrgbEncodedFrame(s.frames[0]));
  EXPECT_TRUE(SrgbEncodedFrame(MakeSequence(1, 0.0, 1, Storage::Srgb16).frames[0]));
}

// Decoded observations keep their order and frames, and each residual's scale is the
// encoding's slope at the observation's luma; encoded planes decode and encode back.
TEST(EnhancedLinearLight, ObservationsDecodedWithTheSlopesOfTheirLevels) {
  ObservationModel model(MakeHrGeometry(kRoi, kScale), {1.0});
  const double grey[3] = {128.0, 128.0, 128.0};
  const double dark[3] = {0.5, 0.5, 0.5};
  model.AddObservation(3, 3, 0.0, 0.0, grey);
  model.EndFrame();
  model.AddObservation(4, 3, 0.0, 0.0, dark);
  model.EndFrame();
  const std::vector<double> scale = DecodeObservations(model, {1, 0});
  ASSERT_EQ(scale.size(), 2u);
  EXPECT_NEAR(model.Values(1)[0], SrgbDecodeLevel(128.0), 1e-12);
  EXPECT_EQ(model.Values(1)[1], 0.5);  // frame 1 is linear already
  EXPECT_NEAR(scale[0], 1.0 / SrgbDecodeLevelSlope(128.0), 1e-9);
  EXPECT_NEAR(scale[1], 12.92, 1e-9);  // level 0.5 in linear light lies on the curve's linear piece
  Plane planes[3] = {Plane(2, 1, 30.0), Plane(2, 1, 128.0), Plane(2, 1, 250.0)};
  DecodePlanes(planes);
  EXPECT_NEAR(planes[1].v[0], SrgbDecodeLevel(128.0), 1e-12);
  EncodePlanes(planes);
  EXPECT_NEAR(planes[0].v[1], 30.0, 1e-9);
  EXPECT_NEAR(planes[2].v[0], 250.0, 1e-9);
}

// An observer that watches nothing.
class Quiet final : public ReconstructionObserver {
 public:
  void Log(const std::string&) override {}
  void Progress(int, int, int, int) override {}
  bool WantsPictures() const override { return false; }
  void Picture(const ColorDoubleImage&) override {}
};

// The option is the enhanced method's: the classic method's estimate is the same, bit for
// bit, with it on.
TEST(EnhancedLinearLight, TheClassicMethodIsUntouched) {
  const ReconstructionMethod& classic = ReconstructionMethodFor(Method::Classic);
  ReconstructionOptions options;
  options.method = Method::Classic;
  options.roi = RoiRect{12, 12, 20, 20};
  options.scale = 3.0;
  options.psfSigma = 0.4;
  ReconstructionInput input;
  input.grid = options.Grid();
  for (int k = 0; k < 9; ++k) {
    input.frames.push_back(testing::MakeColor(32, 32, [k](int c, int x, int y) {
      return 60.0 + 120.0 * ((x / 3 + y / 4) % 2) + 10.0 * c + (x * 7 + y * 13 + k * 5) % 5;
    }));
    PixelMap shift;
    shift.p[0][2] = -(k % 3) / 3.0;
    shift.p[1][2] = -(k / 3) / 3.0;
    input.homographies.push_back(HomographyOf(shift));
    input.frameErrors.push_back(0.0);
  }
  ColorDoubleImage estimates[2];
  for (int on = 0; on < 2; ++on) {
    options.values["linearLight"] = on;
    ReconstructionInput copy = input;
    Quiet quiet;
    classic.Reconstruct(copy, options, quiet, estimates[on]);
  }
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < estimates[0].Height(); ++i) {
      for (int j = 0; j < estimates[0].Width(); ++j) {
        ASSERT_EQ(estimates[1].channels[static_cast<size_t>(c)].Row(i)[j],
                  estimates[0].channels[static_cast<size_t>(c)].Row(i)[j]);
      }
    }
  }
}

}  // namespace
}  // namespace lumet
