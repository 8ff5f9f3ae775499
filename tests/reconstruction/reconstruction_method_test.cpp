// The reconstruction methods behind their one interface, and the checks of their options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "numeric/pixel_map.h"
#include "numeric/projection.h"
#include "reconstruction/frame_warp.h"
#include "reconstruction/reconstruction_method.h"
#include "reconstruction/classic/robust_btv.h"
#include "reconstruction/enhanced/forward_model.h"
#include "reconstruction/enhanced/solver.h"
#include "support/test_images.h"
#include "util/option_error.h"

namespace lumet {
namespace {

ReconstructionOptions SmallOptions(Method method) {
  ReconstructionOptions o;
  o.method = method;
  o.roi = RoiRect{12, 12, 20, 20};
  o.scale = 3.0;
  o.psfSigma = 0.4;
  o.values["iterations"] = 3;
  return o;
}

// Refused with OptionError: which field, which part, which field the message is about, and
// how it goes on.
void ExpectRefused(const ReconstructionOptions& o, const char* field, int part, const char* subject,
                   const std::string& restStart) {
  try {
    o.Check();
    ADD_FAILURE() << "accepted";
  } catch (const OptionError& e) {
    EXPECT_STREQ(e.Field(), field);
    EXPECT_EQ(e.Part(), part);
    EXPECT_STREQ(e.Subject(), subject);
    EXPECT_EQ(e.Rest().rfind(restStart, 0), 0u) << e.Rest();
  }
}

TEST(ReconstructionOptionsTest, TheGridMustHoldThePsfKernelAndEachMethodAddsItsRules) {
  EXPECT_NO_THROW(SmallOptions(Method::Classic).Check());
  EXPECT_NO_THROW(SmallOptions(Method::Enhanced).Check());
  {
    SCOPED_TRACE("a 24 x 24 grid is too small for the 29 x 29 kernel of sigma 1.5 at scale 3");
    ReconstructionOptions o = SmallOptions(Method::Classic);
    o.psfSigma = 1.5;
    ExpectRefused(o, "psfSigma", 0, "roi", " at scale 3 gives an HR grid of 24 x 24 pixels, smaller than the 28");
  }
  {
    SCOPED_TRACE("a ROI one pixel high: the message is about the ROI, the field at fault the kernel's");
    ReconstructionOptions o = SmallOptions(Method::Classic);
    o.roi.bottom = o.roi.top + 1;
    ExpectRefused(o, "psfSigma", 0, "roi", " at scale 3 gives an HR grid of 24 x 3 pixels");
  }
  ReconstructionOptions o = SmallOptions(Method::Classic);
  o.scale = 2.5;
  ExpectRefused(o, "scale", 0, "scale", " is out of range (allowed: 2, 3 or 4)");
  o = SmallOptions(Method::Classic);
  o.psfSigma = 2.5;
  ExpectRefused(o, "psfSigma", 0, "psfSigma", " is out of range (allowed: above 0, at most 2)");

  // Negative weights and a zero step mean something to the classic iteration only.
  for (const auto& [change, field] : {std::pair{+[](ReconstructionOptions& r) { r.alpha = -0.5; }, "alpha"},
                                      std::pair{+[](ReconstructionOptions& r) { r.beta = 0; }, "beta"},
                                      std::pair{+[](ReconstructionOptions& r) { r.lambda = -1; }, "lambda"}}) {
    SCOPED_TRACE(field);
    ReconstructionOptions classic = SmallOptions(Method::Classic);
    change(classic);
    EXPECT_NO_THROW(classic.Check());
    ReconstructionOptions enhanced = SmallOptions(Method::Enhanced);
    change(enhanced);
    ExpectRefused(enhanced, field, 0, field, " is out of range for the enhanced method");
  }
}

// Records what a method tells the user.
class Recorder final : public ReconstructionObserver {
 public:
  void Log(const std::string& line) override { logs.push_back(line); }
  void Progress(int done, int total, int, int) override {
    EXPECT_GE(done, 1);
    EXPECT_LE(done, total);
    ++steps;
  }
  bool WantsPictures() const override { return false; }
  void Picture(const ColorDoubleImage&) override { ++pictures; }
  void Warn(int frame, const std::string& kind, const std::string& detail, const std::string& remedy) override {
    warnings.push_back({frame, kind, detail, remedy});
  }
  void Outcome(const ReconstructionOutcome& o) override {
    outcome = o;
    ++outcomes;
  }

  std::vector<std::string> logs;
  std::vector<ReconstructionWarning> warnings;
  ReconstructionOutcome outcome;
  int outcomes = 0;
  int steps = 0;
  int pictures = 0;
};

// Nine frames of a flat scene, moved by every third of a pixel so that they cover each HR
// pixel: every method returns the flat grid, says what it did, and counts the frames it
// reads from the LR count in its own way.
TEST(ReconstructionMethodTest, EveryMethodReconstructsAFlatSceneFlat) {
  for (const Method method : {Method::Classic, Method::Enhanced}) {
    SCOPED_TRACE(method == Method::Classic ? "classic" : "enhanced");
    const ReconstructionMethod& m = ReconstructionMethodFor(method);
    EXPECT_EQ(m.FrameCount(2), method == Method::Classic ? 2 : 3);
    const ReconstructionOptions options = SmallOptions(method);
    ReconstructionInput input;
    input.grid = options.Grid();
    for (int k = 0; k < 9; ++k) {
      input.frames.push_back(testing::MakeColor(32, 32, [](int c, int, int) { return 90 + 20 * c; }));
      Matrix h = IdentityHomography();
      h.At1(1, 3) = (k % 3) / 3.0;
      h.At1(2, 3) = (k / 3) / 3.0;
      input.homographies.push_back(h);
      input.frameErrors.push_back(0.0);
    }
    Recorder recorder;
    ColorDoubleImage estimate;
    m.Reconstruct(input, options, recorder, estimate);
    ASSERT_EQ(estimate.channels[0].Width(), input.grid.width);
    ASSERT_EQ(estimate.channels[0].Height(), input.grid.height);
    // The classic iteration rings near the grid's edges: the level holds on average, within 3.
    for (int c = 0; c < 3; ++c) {
      double sum = 0.0;
      for (int y = 0; y < input.grid.height; ++y) {
        for (int x = 0; x < input.grid.width; ++x) sum += estimate.channels[static_cast<size_t>(c)].Row(y)[x];
      }
      EXPECT_NEAR(sum / (input.grid.width * input.grid.height), 90 + 20 * c, 3.0) << "channel " << c;
    }
    EXPECT_FALSE(recorder.logs.empty());
    if (method == Method::Classic) {
      EXPECT_EQ(recorder.pictures, 0);  // nobody watches
    }
    // What it did, once, as values that agree with its log.
    ASSERT_EQ(recorder.outcomes, 1);
    const ReconstructionOutcome& o = recorder.outcome;
    EXPECT_EQ(o.method, method);
    EXPECT_EQ(o.framesGiven, 9);
    EXPECT_GE(o.framesUsed, 1);
    EXPECT_LE(o.framesUsed, 9);
    EXPECT_NE(std::find(recorder.logs.begin(), recorder.logs.end(), OutcomeSummaryLine(o) + "\r\n"),
              recorder.logs.end());
    EXPECT_EQ(o.warnings.size(), recorder.warnings.size());
    for (size_t i = 0; i < std::min(o.warnings.size(), recorder.warnings.size()); ++i) {
      EXPECT_EQ(o.warnings[i].frame, recorder.warnings[i].frame);
      EXPECT_EQ(o.warnings[i].kind, recorder.warnings[i].kind);
    }
    if (method == Method::Classic) {
      // Every error is 0: the threshold is 0 at place floor(0.9 * 9) and takes every frame.
      EXPECT_TRUE(o.selected && !o.choosesPsf);
      EXPECT_EQ(o.thresholdIndex, 8);
      EXPECT_EQ(o.threshold, 0.0);
      EXPECT_EQ(o.framesUsed, 9);
      EXPECT_EQ(o.iterations, kBtvStepsPerBand);
    } else {
      EXPECT_TRUE(o.choosesPsf && !o.selected);
      EXPECT_GT(o.psfSigma, 0.0);
      EXPECT_LE(o.psfSigma, WidestPsfTrial(options.psfSigma));  // within the PSF check's trials
      // The flat start is the minimum to the rounding of the solve's single-precision
      // evaluation, so a band may take no step at all: the count is only bounded.
      EXPECT_GE(o.iterations, 0);
      EXPECT_LE(o.iterations, 3 * 3);  // three bands of at most the options' 3
      EXPECT_EQ(o.fellBack, !o.fallbackReason.empty());
    }
  }
}

// Sharp blocks seen without blur in `count` frames shifted by quarters of a pixel, on the
// grid of options.
ReconstructionInput ShiftedBlocks(const ReconstructionOptions& options, int count) {
  ReconstructionInput input;
  input.grid = options.Grid();
  for (int k = 0; k < count; ++k) {
    const double dx = (k % 4) / 4.0;
    const double dy = (k / 4 % 4) / 4.0;
    input.frames.push_back(testing::MakeColor(32, 32, [&](int c, int x, int y) {
      return ((static_cast<int>(std::floor((x + dx) / 3.0)) + static_cast<int>(std::floor((y + dy) / 4.0))) % 2 == 0
                  ? 200.0
                  : 60.0) -
             10.0 * c + ((x * 7 + y * 13 + k * 5 + c) % 5 - 2);  // a little noise, for the weights
    }));
    PixelMap shift;
    shift.p[0][2] = -dx;
    shift.p[1][2] = -dy;
    input.homographies.push_back(HomographyOf(shift));
    input.frameErrors.push_back(0.0);
  }
  return input;
}

// The enhanced method with the PSF check off solves through the stated PSF alone: no
// trials in its log, the stated sigma in its outcome, and it reads no more around the ROI
// than that PSF reaches.
TEST(ReconstructionMethodTest, EnhancedWithThePsfCheckOffKeepsTheStatedPsf) {
  const ReconstructionMethod& m = ReconstructionMethodFor(Method::Enhanced);
  ReconstructionOptions options = SmallOptions(Method::Enhanced);
  options.roi = RoiRect{4, 4, 28, 28};
  options.psfSigma = 0.5;
  options.values["iterations"] = 40;
  const HrGeometry checkedRead = m.GridRead(options, options.Grid());
  options.values["psfCheck"] = 0.0;
  const HrGeometry statedRead = m.GridRead(options, options.Grid());
  EXPECT_LT(statedRead.width, checkedRead.width);
  EXPECT_EQ(statedRead.width, ExtendGeometry(options.Grid(), EnhancedMargin(static_cast<int>(PsfTaps(0.5, options.scale).size()), options.scale)).width);
  const ReconstructionInput input = ShiftedBlocks(options, 13);
  for (const double check : {1.0, 0.0}) {
    SCOPED_TRACE(check != 0.0 ? "check on" : "check off");
    options.values["psfCheck"] = check;
    ReconstructionInput copy = input;
    Recorder recorder;
    ColorDoubleImage estimate;
    m.Reconstruct(copy, options, recorder, estimate);
    const bool trialsLogged = std::any_of(recorder.logs.begin(), recorder.logs.end(),
                                          [](const std::string& line) { return line.rfind("PSF = ", 0) == 0; });
    EXPECT_EQ(trialsLogged, check != 0.0);
    if (check == 0.0) {
      EXPECT_EQ(recorder.outcome.psfSigma, 0.5);
    }
  }
}

// A frame whose homography holds no number gives the enhanced method no pixel: it is left
// out and named in a warning of its own kind, once.
TEST(ReconstructionMethodTest, EnhancedNamesTheFramesItLeftOut) {
  const ReconstructionMethod& m = ReconstructionMethodFor(Method::Enhanced);
  ReconstructionOptions options = SmallOptions(Method::Enhanced);
  options.roi = RoiRect{4, 4, 28, 28};
  options.values["iterations"] = 20;
  options.values["psfCheck"] = 0.0;
  ReconstructionInput input = ShiftedBlocks(options, 9);
  input.homographies[3].At1(1, 1) = std::numeric_limits<double>::quiet_NaN();
  Recorder recorder;
  ColorDoubleImage estimate;
  m.Reconstruct(input, options, recorder, estimate);
  std::vector<int> named;
  for (const ReconstructionWarning& w : recorder.warnings) {
    if (w.kind.find("no usable pixel") != std::string::npos) named.push_back(w.frame);
  }
  EXPECT_EQ(named, std::vector<int>{3});
  EXPECT_EQ(recorder.outcome.framesUsed, 8);
}

// The classic result checked against frame 0 enlarged without truth: frames that show
// frame 0's scene give no warning; a square moving on its own over flickering frames, which
// the classic average smears into frame 0's place, gives one, and the estimate is the same
// with the check as the method makes it (the check only reads it).
TEST(ReconstructionMethodTest, ClassicWarnsWhenItsResultIsLikelyWorseThanFrameZeroEnlarged) {
  const ReconstructionMethod& m = ReconstructionMethodFor(Method::Classic);
  ReconstructionOptions options = SmallOptions(Method::Classic);
  options.roi = RoiRect{4, 4, 28, 28};
  const auto warned = [&](ReconstructionInput input) {
    Recorder recorder;
    ColorDoubleImage estimate;
    m.Reconstruct(input, options, recorder, estimate);
    int count = 0;
    for (const ReconstructionWarning& w : recorder.warnings) {
      count += w.frame == 0 && w.kind.find("likely worse than frame 0 enlarged") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(recorder.outcome.warnings.size(), recorder.warnings.size());
    return count;
  };
  const ReconstructionInput clean = ShiftedBlocks(options, 9);
  EXPECT_EQ(warned(clean), 0);
  ReconstructionInput broken = clean;
  for (int k = 1; k < 9; ++k) {
    const double gain = 1.0 + 0.25 * std::sin(1.7 * k);
    const int ox = 6 + 2 * k;
    ColorGrayImage& f = broken.frames[static_cast<size_t>(k)];
    f = testing::MakeColor(32, 32, [&](int c, int x, int y) {
      const bool square = x >= ox && x < ox + 7 && y >= 10 && y < 17;
      const double v = square ? 250.0 - 20.0 * c : gain * f.channels[static_cast<size_t>(c)].Row(y)[x] + 12.0;
      return std::clamp(v, 0.0, 255.0);
    });
  }
  EXPECT_EQ(warned(broken), 1);
}

// Frames whose error on the grid is several times the others' are named whether the
// selection used them or left them out; frames of ordinary errors, around the selection's
// threshold too, are not.
TEST(ReconstructionMethodTest, ClassicNamesFramesFarWorseThanTheOthers) {
  const ReconstructionMethod& m = ReconstructionMethodFor(Method::Classic);
  ReconstructionOptions options = SmallOptions(Method::Classic);
  options.roi = RoiRect{4, 4, 28, 28};
  ReconstructionInput input = ShiftedBlocks(options, 12);
  // The registration's errors, frame 0 first: frame 3 far off but under the threshold's
  // frame (the 90 % quantile, frame 10's), frame 10 far off at the end, frame 11 ordinary.
  input.frameErrors = {0.0, 6.0, 7.0, 30.0, 6.5, 7.5, 8.0, 6.8, 7.2, 6.1, 40.0, 8.5};
  Recorder recorder;
  ColorDoubleImage estimate;
  m.Reconstruct(input, options, recorder, estimate);
  std::vector<int> used;
  std::vector<int> left;
  for (const ReconstructionWarning& w : recorder.warnings) {
    if (w.kind.find("far above the other frames'") == std::string::npos) continue;
    (w.kind.rfind("used", 0) == 0 ? used : left).push_back(w.frame);
    EXPECT_NE(w.detail.find("median frame's 7.2"), std::string::npos) << w.detail;
  }
  EXPECT_EQ(used, std::vector<int>{3});
  EXPECT_EQ(left, std::vector<int>{10});
  EXPECT_EQ(recorder.outcome.framesUsed, 10);  // the selection is what it was: frames 0 .. 9
  EXPECT_EQ(recorder.outcome.warnings.size(), recorder.warnings.size());

  Recorder quiet;
  ReconstructionInput ordinary = ShiftedBlocks(options, 12);
  ordinary.frameErrors = {0.0, 6.0, 7.0, 8.0, 6.5, 7.5, 8.0, 6.8, 7.2, 6.1, 12.0, 8.5};
  m.Reconstruct(ordinary, options, quiet, estimate);
  for (const ReconstructionWarning& w : quiet.warnings) EXPECT_EQ(w.kind.find("far above"), std::string::npos) << w.kind;
}

}  // namespace
}  // namespace lumet
