// A clip super-resolved frame by frame through the public headers, as a program sees it.
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumet/lumet.h"
#include "support/test_images.h"

namespace lumet {
namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 96;
constexpr int kRadius = 2;

// Where frame k sees the scene's origin: frame k's pixel (x, y) shows the scene at
// (x + dx, y + dy), so the homography from frame r to frame k is the translation
// Drift(r) - Drift(k).
std::array<double, 2> Drift(int k) { return {0.45 * k + 0.2 * std::sin(1.7 * k), -0.3 * k + 0.15 * std::cos(k)}; }

Frame ClipFrame(int k, int width = kWidth) {
  const auto [dx, dy] = Drift(k);
  Frame f{width, kHeight, std::vector<std::uint8_t>(static_cast<size_t>(3 * width * kHeight))};
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < width; ++x) {
      const double v = testing::BlobScene(x + 20 + dx, y + 12 + dy);
      for (int c = 0; c < 3; ++c) f.rgb[static_cast<size_t>(3 * (y * width + x) + c)] = testing::Level(v * (0.8 + 0.1 * c));
    }
  }
  return f;
}

Sequence Clip(int frames) {
  std::vector<Frame> list;
  for (int k = 0; k < frames; ++k) list.push_back(ClipFrame(k));
  return Sequence::FromFrames(std::move(list));
}

Settings SmallSettings() {
  Settings s;
  s.roi = Rect{40, 30, 40, 36};
  s.scale = 2;
  s.ransacFirst = 8;
  s.ransacSecond = 12;
  s.sadSize = 10;
  s.searchArea = 8;
  return s;
}

struct RegistrationCounter : Observer {
  int registered = 0;
  std::vector<Warning> warnings;
  void OnProgress(const Progress& p) override { registered += p.stage == "Registration" ? 1 : 0; }
  void OnWarning(const Warning& w) override { warnings.push_back(w); }
};

TEST(VideoWindow, IsTheRadiusAroundTheFrameClippedToTheClip) {
  EXPECT_EQ(WindowOf(0, 2, 10).first, 0);
  EXPECT_EQ(WindowOf(0, 2, 10).last, 2);
  EXPECT_EQ(WindowOf(5, 2, 10).first, 3);
  EXPECT_EQ(WindowOf(5, 2, 10).last, 7);
  EXPECT_EQ(WindowOf(9, 3, 10).first, 6);
  EXPECT_EQ(WindowOf(9, 3, 10).last, 9);
  EXPECT_EQ(WindowOf(1, 4, 3).first, 0);
  EXPECT_EQ(WindowOf(1, 4, 3).last, 2);
}

TEST(HomographyInverse, UndoesTheMapAndRefusesASingularOne) {
  PixelHomography h;
  h.m = {1.02, 0.03, 4.5, -0.01, 0.98, -2.25, 1e-4, -2e-4, 1.0};
  const PixelHomography inverse = Inverse(h);
  EXPECT_DOUBLE_EQ(inverse.m[8], 1.0);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double v = 0;
      for (int n = 0; n < 3; ++n) v += h(i, n) * inverse(n, j);
      EXPECT_NEAR(v / (h(2, 0) * inverse(0, 2) + h(2, 1) * inverse(1, 2) + h(2, 2) * inverse(2, 2)), i == j ? 1 : 0,
                  1e-12)
          << i << "," << j;
    }
  }
  PixelHomography flat;
  flat.m = {1, 2, 3, 2, 4, 6, 0, 0, 1};
  EXPECT_THROW(Inverse(flat), Error);
}

// Each frame is registered once against the frames after it; the frames before a reference
// are the inverse of their own registration: every homography of every window still lines
// its frame up with the reference.
TEST(VideoSuperResolver, RegistersEachPairOnceAndLinesUpEveryWindow) {
  constexpr int kFrames = 6;
  const Settings settings = SmallSettings();
  VideoSuperResolver clip(Clip(kFrames), kRadius, settings, false);
  EXPECT_EQ(clip.Count(), kFrames);
  RegistrationCounter counter;
  for (int k = 0; k < kFrames; ++k) {
    const Registration registration = clip.Registered(k, &counter);
    const FrameWindow window = clip.Window(k);
    std::vector<int> expected;
    for (int j = window.first; j <= window.last; ++j) {
      if (j != k) expected.push_back(j);
    }
    ASSERT_EQ(registration.Frames(k), expected) << "window of frame " << k;
    for (const int j : expected) {
      SCOPED_TRACE("frame " + std::to_string(j) + " against " + std::to_string(k));
      const PixelHomography h = registration.Pixels(k, j);
      // At the ROI's centre, within a tenth of a pixel of the true translation.
      const double x = settings.roi.x + settings.roi.width / 2.0;
      const double y = settings.roi.y + settings.roi.height / 2.0;
      const double d = h(2, 0) * x + h(2, 1) * y + h(2, 2);
      EXPECT_NEAR((h(0, 0) * x + h(0, 1) * y + h(0, 2)) / d - x, Drift(k)[0] - Drift(j)[0], 0.1);
      EXPECT_NEAR((h(1, 0) * x + h(1, 1) * y + h(1, 2)) / d - y, Drift(k)[1] - Drift(j)[1], 0.1);
    }
  }
  // The pairs (a, a + 1 .. a + radius) of six frames: 2 + 2 + 2 + 2 + 1, where registering
  // each window's frames anew would take 2 + 3 + 4 + 4 + 3 + 2.
  EXPECT_EQ(counter.registered, 9);
  EXPECT_TRUE(counter.warnings.empty());
}

bool SameEstimate(const Estimate& a, const Estimate& b) {
  return a.width == b.width && a.height == b.height && a.band == b.band;
}

// Output frame k depends on its window alone: the same after the frames before it as on its
// own (as a resumed run makes it), and frame 0's is the stages' own run of frames 0 .. R.
TEST(VideoSuperResolver, AnOutputFrameIsTheSameWhicheverFramesCameBefore) {
  constexpr int kFrames = 5;
  const Settings settings = SmallSettings();
  VideoSuperResolver inOrder(Clip(kFrames), kRadius, settings, false);
  std::vector<Result> results;
  for (int k = 0; k < kFrames; ++k) results.push_back(inOrder.Frame(k));
  VideoSuperResolver alone(Clip(kFrames), kRadius, settings, false);
  EXPECT_TRUE(SameEstimate(alone.Frame(3).estimate, results[3].estimate));
  EXPECT_TRUE(SameEstimate(alone.Frame(1).estimate, results[1].estimate));

  const Sequence sequence = Clip(kFrames);
  const Registration registration = Register(sequence, 0, {1, 2}, settings);
  EXPECT_TRUE(SameEstimate(Reconstruct(sequence, registration, 0, {1, 2}, settings).estimate, results[0].estimate));
  EXPECT_EQ(results[0].estimate.width, settings.roi.width * 2);
  EXPECT_EQ(results[2].outcome.frames, (std::vector<int>{2, 0, 1, 3, 4}));
}

// Mean absolute error of an estimate of output frame k of Clip against the scene itself.
double ErrorAgainstScene(const Estimate& e, int k, const Settings& settings) {
  const auto [dx, dy] = Drift(k);
  double sum = 0;
  for (int r = 0; r < e.height; ++r) {
    for (int c = 0; c < e.width; ++c) {
      const double v = testing::BlobScene(settings.roi.x + c / 2.0 + 20 + dx, settings.roi.y + r / 2.0 + 12 + dy);
      for (size_t b = 0; b < 3; ++b) {
        sum += std::fabs(e.band[b][static_cast<size_t>(r * e.width + c)] - v * (0.8 + 0.1 * static_cast<double>(b)));
      }
    }
  }
  return sum / (3.0 * e.width * e.height);
}

double RmsDifference(const Estimate& a, const Estimate& b) {
  double sum = 0;
  size_t n = 0;
  for (size_t c = 0; c < 3; ++c) {
    for (size_t i = 0; i < a.band[c].size(); ++i, ++n) {
      const double d = a.band[c][i] - b.band[c][i];
      sum += d * d;
    }
  }
  return std::sqrt(sum / static_cast<double>(n));
}

Settings EnhancedSettings() {
  Settings s = SmallSettings();
  s.method = "enhanced";
  s.methodParams["psfCheck"] = 0;
  return s;
}

// With the warm start, a frame whose window has held-out frames to stop its descent starts
// from the previous frame's estimate: it stops in fewer iterations, at an estimate within a
// grey level (RMS) of the cold start's, and within 0.3 grey levels of its mean error against
// the scene (on this smooth noise-free scene it stops about 0.15 short of the cold start;
// on the noisy clips of bench/video/compare.sh it comes out ahead). Frame 0 (nothing before
// it) and frame 1 (a window of four frames, none held out, which runs to the cap) start
// cold. The classic method takes no seed: the same frames as without.
TEST(VideoSuperResolver, AWarmStartStopsSoonerAtTheColdStartsEstimate) {
  const Settings settings = EnhancedSettings();
  VideoSuperResolver cold(Clip(7), kRadius, settings, false);
  VideoSuperResolver warm(Clip(7), kRadius, settings, false);
  warm.SetWarmStart(true);
  for (int k = 0; k < 5; ++k) {
    SCOPED_TRACE("output frame " + std::to_string(k));
    const Result c = cold.Frame(k);
    const Result w = warm.Frame(k);
    if (k < 2) {
      EXPECT_TRUE(SameEstimate(w.estimate, c.estimate));
      continue;
    }
    EXPECT_LT(w.outcome.iterations, c.outcome.iterations);
    EXPECT_LT(RmsDifference(w.estimate, c.estimate), 1.0);
    EXPECT_LT(ErrorAgainstScene(w.estimate, k, settings), ErrorAgainstScene(c.estimate, k, settings) + 0.3);
  }
  VideoSuperResolver classicCold(Clip(5), kRadius, SmallSettings(), false);
  VideoSuperResolver classicWarm(Clip(5), kRadius, SmallSettings(), false);
  classicWarm.SetWarmStart(true);
  EXPECT_TRUE(SameEstimate(classicWarm.Frame(3).estimate, classicCold.Frame(3).estimate));
}

// A warm-started frame rests on the frames since its key frame: asked for on its own (as a
// resumed run or a range job asks), it is made from the same estimates as in a run of every
// frame before it; a key frame is the cold start's.
TEST(VideoSuperResolver, AWarmStartedFrameIsTheSameWhicheverFramesCameBefore) {
  constexpr int kKey = VideoSuperResolver::kWarmKeyEvery;
  constexpr int kFrames = kKey + 4;  // frame kKey + 1's window holds five frames: it is seeded
  const Settings settings = EnhancedSettings();
  VideoSuperResolver inOrder(Clip(kFrames), kRadius, settings, false);
  inOrder.SetWarmStart(true);
  std::vector<Result> results;
  for (int k = 0; k < kKey + 2; ++k) results.push_back(inOrder.Frame(k));
  VideoSuperResolver alone(Clip(kFrames), kRadius, settings, false);
  alone.SetWarmStart(true);
  EXPECT_TRUE(SameEstimate(alone.Frame(4).estimate, results[4].estimate));
  EXPECT_TRUE(SameEstimate(alone.Frame(kKey + 1).estimate, results[kKey + 1].estimate));
  EXPECT_TRUE(SameEstimate(alone.Frame(3).estimate, results[3].estimate));
  VideoSuperResolver cold(Clip(kFrames), kRadius, settings, false);
  EXPECT_TRUE(SameEstimate(cold.Frame(kKey).estimate, results[kKey].estimate));
  EXPECT_FALSE(SameEstimate(cold.Frame(kKey + 1).estimate, results[kKey + 1].estimate));
}

// Frames of another shot: the clip's frame turned half round, which no translation lines up.
Frame OtherShot(int k) {
  Frame f = ClipFrame(k);
  const size_t pixels = f.rgb.size() / 3;
  for (size_t i = 0; i < pixels / 2; ++i) {
    for (size_t c = 0; c < 3; ++c) std::swap(f.rgb[3 * i + c], f.rgb[3 * (pixels - 1 - i) + c]);
  }
  return f;
}

// A scene cut between frames 2 and 3: every window holds only the frames of its own side,
// and says which it left out; a window that the cut does not cross keeps all of its frames.
TEST(VideoSuperResolver, LeavesTheFramesAcrossASceneCutOutOfAWindow) {
  std::vector<Frame> frames;
  for (int k = 0; k < 6; ++k) frames.push_back(k < 3 ? ClipFrame(k) : OtherShot(k));
  VideoSuperResolver clip(Sequence::FromFrames(std::move(frames)), kRadius, SmallSettings(), false);
  const std::vector<std::vector<int>> expected = {{1, 2}, {0, 2}, {0, 1}, {4, 5}, {3, 5}, {3, 4}};
  for (int k = 0; k < 6; ++k) {
    RegistrationCounter counter;
    EXPECT_EQ(clip.Registered(k, &counter).Frames(k), expected[static_cast<size_t>(k)]) << "window of frame " << k;
    std::vector<Warning> leftOut;
    for (const Warning& w : counter.warnings) {
      if (w.kind.find("left out of frame " + std::to_string(k) + "'s window") == 0) leftOut.push_back(w);
    }
    const std::vector<std::vector<int>> across = {{}, {3}, {3, 4}, {1, 2}, {2}, {}};
    if (across[static_cast<size_t>(k)].empty()) {
      EXPECT_TRUE(leftOut.empty()) << "window of frame " << k << ": " << leftOut.front().Text();
    } else {
      ASSERT_EQ(leftOut.size(), 1u) << "window of frame " << k;
      EXPECT_EQ(leftOut[0].frames, across[static_cast<size_t>(k)]) << leftOut[0].Text();
    }
  }
}

// A clip of sharp-edged discs scattered over the scene, each pixel the mean over its own
// square (a blur far narrower than the stated PSF's sigma of 0.6 LR pixels).
Frame SharpClipFrame(int k) {
  const auto [dx, dy] = Drift(k);
  Frame f{kWidth, kHeight, std::vector<std::uint8_t>(static_cast<size_t>(3 * kWidth * kHeight))};
  static const std::vector<std::array<double, 3>> discs = [] {
    std::vector<std::array<double, 3>> d;
    unsigned seed = 7;
    const auto next = [&](double lo, double hi) {
      seed = seed * 1103515245u + 12345u;
      return lo + (hi - lo) * ((seed >> 8) & 0xffff) / 65535.0;
    };
    for (int i = 0; i < 90; ++i) d.push_back({next(-10, kWidth + 10), next(-10, kHeight + 10), next(2.5, 7)});
    return d;
  }();
  const auto blocks = [](double x, double y) {
    int inside = 0;
    for (const auto& [u, v, r] : discs) inside += (x - u) * (x - u) + (y - v) * (y - v) < r * r ? 1 : 0;
    return inside % 2 == 0 ? 50.0 : 200.0;
  };
  constexpr int kSub = 4;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      double v = 0;
      for (int i = 0; i < kSub; ++i) {
        for (int j = 0; j < kSub; ++j) v += blocks(x + dx + (j + 0.5) / kSub, y + dy + (i + 0.5) / kSub);
      }
      for (int c = 0; c < 3; ++c) f.rgb[static_cast<size_t>(3 * (y * kWidth + x) + c)] = testing::Level(v / (kSub * kSub));
    }
  }
  return f;
}

// The enhanced method's PSF check runs once for the clip: every output frame, the first
// ones with short windows too, is made through the same PSF, narrower than the one stated
// for frames this sharp, with one warning; with the check off, the stated one.
TEST(VideoSuperResolver, ChecksThePsfOnceForTheWholeClip) {
  std::vector<Frame> frames;
  for (int k = 0; k < 9; ++k) frames.push_back(SharpClipFrame(k));
  const Sequence sequence = Sequence::FromFrames(std::move(frames));
  Settings settings = SmallSettings();
  settings.method = "enhanced";
  settings.methodParams["iterations"] = 12;
  VideoSuperResolver clip(sequence, kRadius, settings, false);
  RegistrationCounter first;
  const Result r0 = clip.Frame(0, &first);
  ASSERT_EQ(first.warnings.size(), 1u) << first.warnings.back().Text();
  EXPECT_NE(first.warnings[0].kind.find("sharper than the PSF allows"), std::string::npos) << first.warnings[0].Text();
  EXPECT_EQ(first.warnings[0].frames.size(), 9u);
  EXPECT_LT(r0.outcome.psfSigma, 0.5);
  RegistrationCounter later;
  const Result r6 = clip.Frame(6, &later);
  EXPECT_EQ(r6.outcome.psfSigma, r0.outcome.psfSigma);
  EXPECT_TRUE(later.warnings.empty()) << later.warnings.front().Text();

  settings.methodParams["psfCheck"] = 0;
  VideoSuperResolver stated(sequence, kRadius, settings, false);
  RegistrationCounter none;
  EXPECT_EQ(stated.Frame(6, &none).outcome.psfSigma, settings.psfSigma);
  EXPECT_TRUE(none.warnings.empty()) << none.warnings.front().Text();
}

TEST(VideoSuperResolver, TheWholeFrameIsTheRegionUnlessOneIsGiven) {
  Settings settings = SmallSettings();
  settings.roi = Rect{0, 0, 0, 0};
  VideoSuperResolver clip(Clip(3), 1, settings, true);
  const Result result = clip.Frame(1);
  EXPECT_EQ(result.estimate.width, 2 * kWidth);
  EXPECT_EQ(result.estimate.height, 2 * kHeight);
}

TEST(VideoSuperResolver, RefusesWhatItCannotDo) {
  const Settings settings = SmallSettings();
  EXPECT_THROW(VideoSuperResolver(Clip(4), 0, settings, false), Error);
  try {
    VideoSuperResolver(Clip(1), 2, settings, false);
    ADD_FAILURE() << "one frame accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("a window needs at least two frames"), std::string::npos) << e.what();
  }
  VideoSuperResolver clip(Clip(3), 1, settings, false);
  EXPECT_THROW(clip.Frame(3), Error);
  EXPECT_THROW(clip.Frame(-1), Error);

  std::vector<Frame> frames = {ClipFrame(0), ClipFrame(1), ClipFrame(2, kWidth + 8)};
  VideoSuperResolver mixed(Sequence::FromFrames(std::move(frames)), 1, settings, false);
  try {
    mixed.Frame(1);
    ADD_FAILURE() << "a frame of another size accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("frames[2] is 128 x 96 pixels"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace lumet
