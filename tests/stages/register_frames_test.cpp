// The registration stage against the steps it is made of, run one frame after the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "numeric/random.h"
#include "registration/direct/direct_refinement.h"
#include "registration/frame_registration.h"
#include "registration/registration_strategy.h"
#include "registration/test_images.h"
#include "stages/register_frames.h"
#include "support/expect_error.h"
#include "support/test_images.h"
#include "util/error.h"

namespace lumet {
namespace {

// Frame k shows the blob scene moved by (0.4 k - 0.8, 0.3 - 0.25 k); frame 5 is flat, so
// that its search cannot run and its fallback warning and direct-search start are taken.
ColorGrayImage Frame(int k) {
  if (k == 5) return testing::MakeColor(160, 120, [](int, double, double) { return 128; });
  const double dx = 0.4 * k - 0.8;
  const double dy = 0.3 - 0.25 * k;
  return testing::MakeColor(160, 120, [&](int, double x, double y) { return testing::BlobScene(x - dx, y - dy); });
}

RegistrationOptions Options(bool direct) { return testing::BlobSceneOptions(direct); }

// Keeps what the stage reports, batch by batch.
class Recorder final : public RegistrationEvents {
 public:
  explicit Recorder(int batchSize) : batchSize_(batchSize) {}
  int BatchSize(int) const override { return batchSize_; }
  void Stage(RegisteredFrame& f) override {
    if (f.frame == failStage) throw Error("no room for frame " + std::to_string(f.frame));
    ++staged;
  }
  void Report(std::vector<RegisteredFrame>& batch, const RegistrationReference&) override {
    batches.push_back(static_cast<int>(batch.size()));
    for (RegisteredFrame& f : batch) {
      if (f.failure) std::rethrow_exception(f.failure);
      frames.push_back(f.frame);
      h[f.frame] = f.reg.h;
      score[f.frame] = f.score;
      log[f.frame] = f.log;
      warned[f.frame] = !f.warnings.empty();
      stageFailed[f.frame] = static_cast<bool>(f.stageFailure);
    }
  }

  int failStage = -1;
  int staged = 0;
  std::vector<int> batches;
  std::vector<int> frames;
  std::map<int, Matrix> h;
  std::map<int, double> score;
  std::map<int, std::string> log;
  std::map<int, bool> warned;
  std::map<int, bool> stageFailed;

 private:
  int batchSize_;
};

const ColorGrayImage& Find(const std::map<int, ColorGrayImage>& frames, int k) {
  const auto found = frames.find(k);
  if (found == frames.end()) throw Error("cannot read frame-" + std::to_string(k));
  return found->second;
}

// greenOnly: the reader gives the green channel alone, and whole frames are never read.
FrameReader ReaderOf(const std::map<int, ColorGrayImage>& frames, bool greenOnly = false) {
  FrameReader reader{[](int k) { return "frame-" + std::to_string(k); },
                     [&frames, greenOnly](int k, ColorGrayImage& image) {
                       if (greenOnly) ADD_FAILURE() << "frame " << k << " read whole";
                       image = Find(frames, k);
                     },
                     nullptr};
  if (greenOnly) reader.readGreen = [&frames](int k, GrayImage& green) { green = Find(frames, k).channels[1]; };
  return reader;
}

TEST(RegisterFramesStage, BatchesGiveTheFramesOneAfterTheOtherAgainstAnyReference) {
  std::map<int, ColorGrayImage> frames;
  for (int k = 0; k <= 5; ++k) frames[k] = Frame(k);
  const int reference = 2;
  const std::vector<int> list = {0, 1, 3, 5, 4};
  for (const bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "direct refinement" : "classic");
    const RegistrationOptions options = Options(direct);
    // The steps one frame after the other, the generator handed on.
    const RegistrationReference prepared = PrepareReference(frames[reference].channels[1], options);
    LcgRandom sequential;
    std::map<int, Matrix> expected;
    std::map<int, double> expectedScore;
    std::map<int, std::string> expectedLog;
    for (const int k : list) {
      FrameRegistration r = RegisterFrame(prepared, frames[k].channels[1], options, sequential);
      expectedScore[k] = direct ? RefineDirectly(frames[reference].channels[1], frames[k].channels[1], r.h, r.e1, r.e2,
                                                 k, options, expectedLog[k])
                                : r.e2;
      expected[k] = r.h;
    }
    for (const auto& [batchSize, greenOnly] : {std::pair{1, false}, std::pair{2, false}, std::pair{5, false},
                                                std::pair{2, true}, std::pair{5, true}}) {
      SCOPED_TRACE("batches of " + std::to_string(batchSize) + (greenOnly ? ", green read alone" : ""));
      Recorder recorder(batchSize);
      LcgRandom random;
      RegisterFrames(frames[reference].channels[1], "frame-2", list, ReaderOf(frames, greenOnly), options, random,
                     recorder);
      EXPECT_EQ(recorder.frames, list);
      EXPECT_EQ(recorder.batches.front(), batchSize);
      EXPECT_EQ(random.State(), sequential.State());
      EXPECT_EQ(recorder.staged, 5);
      for (const int k : list) {
        SCOPED_TRACE("frame " + std::to_string(k));
        for (int i = 1; i <= 9; ++i) EXPECT_EQ(recorder.h[k].Flat1(i), expected[k].Flat1(i));
        EXPECT_EQ(recorder.score[k], expectedScore[k]);
        EXPECT_EQ(recorder.log[k], expectedLog[k]);
        EXPECT_EQ(recorder.warned[k], k == 5);  // the flat frame has nothing to pair
      }
      if (direct) {
        EXPECT_NE(recorder.log[5].find("Frame 5: no homography search"), std::string::npos) << recorder.log[5];
      } else {
        EXPECT_TRUE(recorder.log[5].empty());
      }
    }
  }
}

TEST(RegisterFramesStage, AFailureWaitsForItsTurnAndStopsTheFramesAfterIt) {
  std::map<int, ColorGrayImage> frames;
  for (int k = 0; k <= 3; ++k) frames[k] = Frame(k);
  frames[2] = testing::MakeColor(100, 80, [](int, int, int) { return 9; });
  Recorder recorder(4);
  LcgRandom random;
  testing::ExpectError(
      [&] { RegisterFrames(frames[0].channels[1], "frame-0", {1, 2, 3}, ReaderOf(frames), Options(false), random, recorder); },
      {"frame frame-2 is 100 x 80 pixels, but the reference frame frame-0 is 160 x 120"});
  // Frame 1 came before it; frame 3, after it, was not even read.
  EXPECT_EQ(recorder.frames, std::vector<int>{1});
  EXPECT_EQ(recorder.batches, std::vector<int>{2});
  // Read green alone, it is refused the same way.
  Recorder green(4);
  LcgRandom greenRandom;
  testing::ExpectError(
      [&] {
        RegisterFrames(frames[0].channels[1], "frame-0", {1, 2, 3}, ReaderOf(frames, true), Options(false),
                       greenRandom, green);
      },
      {"frame frame-2 is 100 x 80 pixels, but the reference frame frame-0 is 160 x 120"});
  EXPECT_EQ(green.frames, std::vector<int>{1});

  // A failure to stage a frame's output is the frame's to report; the stage goes on.
  frames[2] = Frame(2);
  Recorder staging(4);
  staging.failStage = 2;
  RegisterFrames(frames[0].channels[1], "frame-0", {1, 2, 3}, ReaderOf(frames), Options(false), random, staging);
  EXPECT_EQ(staging.frames, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(staging.stageFailed[2]);
  EXPECT_FALSE(staging.stageFailed[3]);
}

// A strategy of the test's own: it moves the corner points' homography by a known
// translation, keeps what it prepared of the reference and words its own start.
class Shifted final : public RegistrationStrategy {
 public:
  struct Prepared : StrategyReference {
    int width = 0;
  };
  std::string Word() const override { return "shifted-by-test"; }
  std::string Description() const override { return "the points' homography moved by 0.5 pixels to the right"; }
  std::shared_ptr<const StrategyReference> Prepare(const GrayImage& green, const RegistrationOptions&) const override {
    auto prepared = std::make_shared<Prepared>();
    prepared->width = green.Width();
    return prepared;
  }
  double Finish(const RegistrationReference& reference, const GrayImage&, int k, const RegistrationOptions&,
                FrameRegistration& reg, std::string& log) const override {
    const auto* prepared = dynamic_cast<const Prepared*>(reference.prepared.get());
    if (prepared == nullptr) throw Error("frame " + std::to_string(k) + " finished without the prepared reference");
    for (int i = 1; i <= 3; ++i) reg.h.Flat1(i) += 0.5 * reg.h.Flat1(6 + i);  // x' = x + 0.5 in projective form
    log = "width " + std::to_string(prepared->width);
    return -1.0;
  }
  std::string StartWithoutSearch() const override { return "the test's start is taken"; }
};

TEST(RegisterFramesStage, AStrategyOfItsOwnFinishesEveryFrameAndWordsItsWarning) {
  static const Shifted shifted;
  if (std::none_of(RegistrationStrategies().begin(), RegistrationStrategies().end(),
                   [](const RegistrationStrategy* s) { return s == &shifted; })) {
    RegisterRegistrationStrategy(shifted);
  }
  EXPECT_EQ(&RegistrationStrategyFor("shifted-by-test"), &shifted);
  EXPECT_EQ(&RegistrationStrategyFor("direct"), &DirectRegistration());
  testing::ExpectError([] { RegisterRegistrationStrategy(shifted); },
                       {"a registration strategy is called shifted-by-test already"});
  testing::ExpectError([] { (void)RegistrationStrategyFor("optical-flow"); },
                       {"no registration strategy is called optical-flow", "points, direct, shifted-by-test"});

  std::map<int, ColorGrayImage> frames;
  for (int k = 0; k <= 5; ++k) frames[k] = Frame(k);
  const std::vector<int> list = {1, 3, 5};
  RegistrationOptions points = Options(false);
  RegistrationOptions own = points;
  own.strategy = &shifted;
  Recorder before(2), after(2);
  LcgRandom random, ownRandom;
  RegisterFrames(frames[0].channels[1], "frame-0", list, ReaderOf(frames), points, random, before);
  RegisterFrames(frames[0].channels[1], "frame-0", list, ReaderOf(frames), own, ownRandom, after);
  for (const int k : list) {
    SCOPED_TRACE("frame " + std::to_string(k));
    EXPECT_EQ(after.score[k], -1.0);
    EXPECT_EQ(after.log[k], "width 160");
    for (int i = 1; i <= 9; ++i) {
      const double moved = i <= 3 ? 0.5 * before.h[k].Flat1(6 + i) : 0.0;
      EXPECT_NEAR(after.h[k].Flat1(i), before.h[k].Flat1(i) + moved, 1e-12);
    }
  }
  EXPECT_TRUE(after.warned[5]);
}

TEST(RegisterFramesStage, TheFallbackWarningSaysHowTheStrategyStarts) {
  std::map<int, ColorGrayImage> frames = {{0, Frame(0)}, {5, Frame(5)}};
  for (const bool direct : {false, true}) {
    std::vector<FrameWarning> warnings;
    class Keep final : public RegistrationEvents {
     public:
      explicit Keep(std::vector<FrameWarning>& w) : w_(w) {}
      int BatchSize(int) const override { return 1; }
      void Report(std::vector<RegisteredFrame>& batch, const RegistrationReference&) override {
        for (RegisteredFrame& f : batch) w_.insert(w_.end(), f.warnings.begin(), f.warnings.end());
      }

     private:
      std::vector<FrameWarning>& w_;
    } keep(warnings);
    LcgRandom random;
    RegisterFrames(frames[0].channels[1], "frame-0", {5}, ReaderOf(frames), Options(direct), random, keep);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].kind.rfind(direct ? "no homography search, the direct refinement starts from the better of "
                                              "the refined identity and a direct translation search: too few"
                                            : "no homography search, the refinement starts from the identity: too few",
                                     0),
              0u)
        << warnings[0].kind;
  }
}

}  // namespace
}  // namespace lumet
