#include "reconstruction/enhanced/psf_steps.h"

#include <gtest/gtest.h>

#include "reconstruction/enhanced/psf_choice.h"

#include <cmath>
#include <limits>
#include <map>
#include <numbers>
#include <utility>
#include <vector>

namespace lumet {
namespace {

// Trials whose errors are given per sigma (both halves of the held-out frames alike); every
// sigma tried is recorded.
struct Table {
  std::map<double, double> errors;  // sigma (rounded to 1e-6) -> error
  std::vector<double> tried;
  TrialErrors operator()(double sigma) {
    tried.push_back(sigma);
    const auto it = errors.find(std::round(sigma * 1e6) / 1e6);
    const double e = it == errors.end() ? 10.0 : it->second;
    return {e, e};
  }
};

// The same, each error with whether its fit took the stronger prior.
struct Prior {
  std::map<double, std::pair<double, bool>> errors;  // sigma (rounded to 1e-6) -> error, stronger prior
  std::vector<double> tried;
  TrialErrors operator()(double sigma) {
    tried.push_back(sigma);
    const auto it = errors.find(std::round(sigma * 1e6) / 1e6);
    if (it == errors.end()) return {10.0, 10.0};
    return {it->second.first, it->second.first, it->second.second};
  }
};

constexpr double kNoise = 2.0;

double Widen(Table& table, bool compressed) {
  double firstWider = 0.0;
  const TrialErrors stated = table(0.6);
  return WidenPsf(0.6, stated, kNoise, compressed, [&](double s) { return table(s); }, firstWider);
}

TEST(PsfSteps, AWiderPsfTheFramesCannotTellApartIsKeptUnlessTheyLookCompressed) {
  // 0.75 predicts as well as 0.6 (within a hundredth of the noise), 0.9375 is refused.
  const std::map<double, double> flat{{0.6, 1.000}, {0.75, 0.995}, {0.9375, 1.300}};
  Table plain{flat, {}};
  EXPECT_DOUBLE_EQ(Widen(plain, false), 0.75);
  Table compressed{flat, {}};
  EXPECT_DOUBLE_EQ(Widen(compressed, true), 0.6);
  EXPECT_EQ(compressed.tried.size(), 2u);  // the stated one and the first wider one
}

TEST(PsfSteps, CompressedFramesWidenByClearlyBetterStepsAsFarAsTheyGo) {
  // Each of the first two steps predicts better by more than a tenth of the noise (0.2);
  // the third only by 0.05: the second is kept, though no wider one is refused.
  Table table{{{0.6, 2.0}, {0.75, 1.7}, {0.9375, 1.4}, {1.171875, 1.35}}, {}};
  EXPECT_DOUBLE_EQ(Widen(table, true), 0.9375);
  // The plain rule runs on to the third step (within the slack, never refused): the frames
  // cannot tell, and the stated one stays.
  Table plain{table.errors, {}};
  EXPECT_DOUBLE_EQ(Widen(plain, false), 0.6);
}

TEST(PsfSteps, NarrowerOnlyAfterAWiderOneCostsClearlyAndWhileEachStepGainsClearly) {
  // Frame 0's edges read a blur (wider than any step here, so they break no tie): the
  // margins are a tenth of the noise, 0.2.
  const double edgesAbove = 10.0;
  const double firstWider = 1.5;  // costs 0.5 over the stated 1.0
  Table table{{{0.45, 0.7}, {0.3375, 0.65}}, {}};
  EXPECT_DOUBLE_EQ(NarrowPsf(0.6, 1.0, firstWider, kNoise, [&](double s) { return table(s); }, edgesAbove), 0.45);
  Table cheap{table.errors, {}};
  EXPECT_DOUBLE_EQ(NarrowPsf(0.6, 1.0, 1.1, kNoise, [&](double s) { return cheap(s); }, edgesAbove), 0.6);
  EXPECT_TRUE(cheap.tried.empty());
}

TEST(PsfSteps, WithoutAnEdgeReadingAStepThatGainsAShareOfTheErrorIsClearToo) {
  // The noise read on texture, 8, would ask 0.8 of every step; each of these gains 7 % or
  // more of the error, then 0.2887 gains under 1 % only.
  const double noise = 8.0;
  Table table{{{0.45, 1.8}, {0.3375, 1.67}, {0.288675, 1.655}}, {}};
  EXPECT_DOUBLE_EQ(NarrowPsf(0.6, 2.4, 3.0, noise, [&](double s) { return table(s); }), 0.3375);
  EXPECT_EQ(table.tried.size(), 3u);
  // With an edge reading the noise's margin stands, and nothing is narrowed.
  Table read{table.errors, {}};
  EXPECT_DOUBLE_EQ(NarrowPsf(0.6, 2.4, 3.0, noise, [&](double s) { return read(s); }, 10.0), 0.6);
  EXPECT_TRUE(read.tried.empty());
  // A first wider step that costs less than the share leaves the stated one untried below.
  Table cheap{table.errors, {}};
  EXPECT_DOUBLE_EQ(NarrowPsf(0.6, 2.4, 2.44, noise, [&](double s) { return cheap(s); }), 0.6);
  EXPECT_TRUE(cheap.tried.empty());
}

TEST(PsfSteps, WithoutAnEdgeReadingAStepThatGainsHalfTheShareIsHalved) {
  // 0.3375 predicts 1.5 % better than 0.45: not clearly, but more than half the share. The
  // width between them (0.3897) is tried, and kept when it predicts no worse than 0.45.
  const double between = std::sqrt(0.45 * 0.3375);
  const double key = std::round(between * 1e6) / 1e6;
  Table table{{{0.45, 2.0}, {0.3375, 1.97}, {key, 1.99}}, {}};
  EXPECT_NEAR(NarrowPsf(0.6, 2.4, 3.0, 8.0, [&](double s) { return table(s); }), between, 1e-12);
  ASSERT_EQ(table.tried.size(), 3u);
  Table worse{{{0.45, 2.0}, {0.3375, 1.97}, {key, 2.01}}, {}};
  EXPECT_DOUBLE_EQ(NarrowPsf(0.6, 2.4, 3.0, 8.0, [&](double s) { return worse(s); }), 0.45);
  // A step within half the share (0.5 %), or any step where the edges read the blur, is
  // left untried between.
  Table drift{{{0.45, 2.0}, {0.3375, 1.99}}, {}};
  EXPECT_DOUBLE_EQ(NarrowPsf(0.6, 2.4, 3.0, 8.0, [&](double s) { return drift(s); }), 0.45);
  EXPECT_EQ(drift.tried.size(), 2u);
  Table read{table.errors, {}};
  EXPECT_DOUBLE_EQ(NarrowPsf(0.6, 2.4, 3.3, 2.0, [&](double s) { return read(s); }, 10.0), 0.45);
  EXPECT_EQ(read.tried.size(), 2u);
}

TEST(PsfSteps, CompressedFramesWithoutAnEdgeReadingNarrowUnlessAStepIsClearlyWorse) {
  // An H.264 clip of a sharp camera: 0.45 predicts 1.3 % better than 0.6, 0.3375 1.2 % worse
  // than 0.45 (less than the share, 2 % of the best so far), 0.2887 2.5 % worse than 0.45.
  const std::map<double, double> errors{{0.45, 1.512}, {0.3375, 1.530}, {0.288675, 1.55}};
  const TrialErrors stated{1.532, 1.532};
  Table compressed{errors, {}};
  EXPECT_DOUBLE_EQ(NarrowCompressed(0.6, stated, 2.0, 1.7, false, [&](double s) { return compressed(s); }), 0.3375);
  EXPECT_EQ(compressed.tried.size(), 3u);
  // A video of a sharp camera's photo: 0.45 predicts 5 % worse than 0.6, as the codec's
  // lost detail makes every frame look blurrier; the first step is still taken, and 0.3375,
  // 5 % worse than the best again, is not.
  Table video{{{0.45, 1.608}, {0.3375, 1.61}}, {}};
  EXPECT_DOUBLE_EQ(NarrowCompressed(0.6, stated, 2.0, 1.7, false, [&](double s) { return video(s); }), 0.45);
  // The same errors from frames that do not look compressed: 0.45 is not clearly better, and
  // the width halfway to it predicts worse (untabled here).
  Table plain{errors, {}};
  EXPECT_DOUBLE_EQ(NarrowPsf(0.6, 1.532, 2.0, 1.7, [&](double s) { return plain(s); }), 0.6);
  // A first wider step that costs little leaves the stated one untried below.
  Table cheap{errors, {}};
  EXPECT_DOUBLE_EQ(NarrowCompressed(0.6, stated, 1.54, 1.7, false, [&](double s) { return cheap(s); }), 0.6);
  EXPECT_TRUE(cheap.tried.empty());
}

TEST(PsfSteps, WithOneScoringFrameCompressedFramesNarrowByBothHalvesOfTheHeldOutFrames) {
  // A window of six: the one scoring frame finds 0.45 7 % worse than 0.6, the frame that
  // stops the fits 10 % better; together 2 % better, then 0.3375 better again.
  struct Pair {
    std::map<double, TrialErrors> errors;
    TrialErrors operator()(double sigma) const {
      const auto it = errors.find(std::round(sigma * 1e6) / 1e6);
      return it == errors.end() ? TrialErrors{10.0, 10.0} : it->second;
    }
  };
  const Pair window{{{0.45, {1.911, 1.885}}, {0.3375, {1.85, 1.79}}}};
  const TrialErrors stated{2.115, 1.760};
  EXPECT_DOUBLE_EQ(NarrowCompressed(0.6, stated, 2.1, 3.2, true, window), 0.3375);
  EXPECT_DOUBLE_EQ(NarrowCompressed(0.6, stated, 2.1, 3.2, false, window), 0.6);
}

TEST(PsfSteps, FrameZerosEdgesBreakATieOnTheWayNarrowerOnlyWhileTheChoiceIsWiderThanThey) {
  // 0.3375 predicts no better than 0.45 by far less than a tenth of the noise.
  const std::map<double, double> flat{{0.45, 0.70}, {0.3375, 0.69}, {0.288675, 0.80}};
  const auto narrow = [&](Table& table, double edgesAbove) {
    return NarrowPsf(0.6, 1.0, 1.5, kNoise, [&](double s) { return table(s); }, edgesAbove);
  };
  Table none{flat, {}};
  EXPECT_DOUBLE_EQ(narrow(none, std::numeric_limits<double>::infinity()), 0.45);
  Table edges{flat, {}};
  EXPECT_DOUBLE_EQ(narrow(edges, 0.4), 0.3375);  // then 0.2887 is worse: it stops
  EXPECT_EQ(edges.tried.size(), 3u);
  // Edges that allow the wider one leave it; a narrower step that is worse never wins a tie.
  Table allowed{flat, {}};
  EXPECT_DOUBLE_EQ(narrow(allowed, 0.5), 0.45);
  Table worse{{{0.45, 0.70}, {0.3375, 0.71}}, {}};
  EXPECT_DOUBLE_EQ(narrow(worse, 0.4), 0.45);
}

TEST(PsfSteps, ANarrowerStepWhoseFitTookAStrongerPriorWinsATieWhereTheEdgesAllowTheWiderOne) {
  // A sharp camera's noisy frames of a soft scene: frame 0's edges allow 0.45, and 0.3375
  // predicts about as well as 0.45 once its fit has the stronger prior (and far worse
  // without it: that fit is not the one the step sees).
  const auto narrow = [](Prior& trials) {
    return NarrowPsf(0.6, 1.807, 2.207, kNoise, [&](double s) { return trials(s); }, 0.45);
  };
  Prior stronger{{{0.45, {1.712, false}}, {0.3375, {1.693, true}}, {0.288675, {1.701, true}}}, {}};
  EXPECT_DOUBLE_EQ(narrow(stronger), 0.3375);  // 0.2887 predicts worse: it stops
  EXPECT_EQ(stronger.tried.size(), 3u);
  // The same errors from fits through the stated prior: the edges' tie-break ends at 0.45.
  Prior plain{{{0.45, {1.712, false}}, {0.3375, {1.693, false}}}, {}};
  EXPECT_DOUBLE_EQ(narrow(plain), 0.45);
  // A stronger prior does not make a step that predicts worse win.
  Prior worse{{{0.45, {1.712, false}}, {0.3375, {1.72, true}}}, {}};
  EXPECT_DOUBLE_EQ(narrow(worse), 0.45);
}

TEST(PsfSteps, WithoutAnEdgeReadingAStrongerPriorsTieAtTheFirstStepKeepsTheStatedPsf) {
  // A camera blurred about as stated (0.58 LR px, stated 0.6) whose frame 0 has no edges to
  // read: 0.45 with the stronger prior predicts 0.3 % better, a tie.
  const auto narrow = [](Prior& trials, double statedScore, double firstWider, double edgesAbove) {
    return NarrowPsf(0.6, statedScore, firstWider, 0.8, [&](double s) { return trials(s); }, edgesAbove);
  };
  const double none = std::numeric_limits<double>::infinity();
  Prior tie{{{0.45, {1.166, true}}, {0.3375, {1.202, true}}}, {}};
  EXPECT_DOUBLE_EQ(narrow(tie, 1.170, 1.276, none), 0.6);
  EXPECT_EQ(tie.tried.size(), 1u);
  // Where the edges read a blur, the simpler explanation still wins the tie.
  Prior read{{{0.45, {1.166, true}}, {0.3375, {1.202, true}}}, {}};
  EXPECT_DOUBLE_EQ(narrow(read, 1.170, 1.276, 0.7), 0.45);
  // Past a step that was clearly better, the tie is taken without edges as well: a sharp
  // camera's frames (0.3 LR px) of a texture.
  Prior past{{{0.45, {1.077, false}}, {0.3375, {1.070, true}}, {0.288675, {1.090, true}}}, {}};
  EXPECT_DOUBLE_EQ(narrow(past, 1.440, 2.438, none), 0.3375);
}

TEST(PsfSteps, WithAnEdgeReadingAStepThatGainsHalfTheMarginIsHalvedToo) {
  // Noise 0.8: a clear step gains 0.08. 0.45 is clearly better than 0.6; 0.3375 gains 0.048
  // on it, more than half the margin, and the width between the two predicts better still.
  const double between = std::round(std::sqrt(0.45 * 0.3375) * 1e6) / 1e6;
  const auto narrow = [](Table& table) {
    return NarrowPsf(0.6, 1.436, 2.029, 0.8, [&](double s) { return table(s); }, 0.40 * kEdgeAbove);
  };
  Table half{{{0.45, 0.877}, {0.3375, 0.829}, {between, 0.82}}, {}};
  EXPECT_NEAR(narrow(half), std::sqrt(0.45 * 0.3375), 1e-9);
  // The width between, predicting worse than 0.45, is not taken.
  Table worse{{{0.45, 0.877}, {0.3375, 0.829}, {between, 0.9}}, {}};
  EXPECT_NEAR(narrow(worse), 0.45, 1e-9);
  // A step that gains less than half the margin tries nothing between.
  Table drift{{{0.45, 0.877}, {0.3375, 0.85}}, {}};
  EXPECT_NEAR(narrow(drift), 0.45, 1e-9);
  EXPECT_EQ(drift.tried.size(), 2u);
}

TEST(PsfSteps, ThePriorStrengthensAsTheNarrowerPsfPassesMoreOfTheFinestDetail) {
  EXPECT_EQ(NarrowerPsfPriorShare(0.6, 0.6), 1.0);
  EXPECT_EQ(NarrowerPsfPriorShare(0.75, 0.6), 1.0);  // never weaker for a wider PSF
  // The square of the ratio of the two Gaussians' gains at half a cycle an LR pixel.
  constexpr double kPi = std::numbers::pi;
  const auto gain = [&](double sigma) { return std::exp(-2.0 * kPi * kPi * sigma * sigma * 0.25); };
  EXPECT_NEAR(NarrowerPsfPriorShare(0.45, 0.6), std::pow(gain(0.45) / gain(0.6), 2.0), 1e-12);
  EXPECT_NEAR(NarrowerPsfPriorShare(0.3375, 0.6), 11.3, 0.05);
  EXPECT_GT(NarrowerPsfPriorShare(0.288675, 0.6), NarrowerPsfPriorShare(0.3375, 0.6));
}

TEST(PsfSteps, AWiderStepThatPredictsALittleWorseIsNotTakenOnTheWayToARefusal) {
  // 0.75 is the best; 0.9375 predicts worse than it by 0.8 % of the noise, 1.17 is refused
  // clearly. Taking 0.9375 on the way, as a slack of 1 % would, walks the choice a step past
  // the best: it stops there, and the frames that hardly tell 0.9375 from the others keep
  // the stated one (which frame 0's edges may still raise).
  Table table{{{0.6, 1.000}, {0.75, 0.990}, {0.9375, 1.006}, {1.171875, 1.300}}, {}};
  EXPECT_DOUBLE_EQ(Widen(table, false), 0.6);
  EXPECT_EQ(table.tried.size(), 3u);  // 1.17 is never tried
}

// Trials whose error is a parabola in log sigma with its least at sigma 0.68.
struct Bowl {
  double bias = 0.0;  // added to the trials between the steps
  std::vector<double> tried;
  static double Error(double sigma) { return 1.0 + 2.0 * std::pow(std::log(sigma / 0.68), 2.0); }
  TrialErrors operator()(double sigma) {
    tried.push_back(sigma);
    const double e = Error(sigma) + bias;
    return {e, e};
  }
};

TEST(PsfSteps, AWidthBetweenTheStepsIsTriedWhereTheirErrorsBendAndKeptWhenNoWorse) {
  const ScoredPsf below{0.6, Bowl::Error(0.6)};
  const ScoredPsf at{0.75, Bowl::Error(0.75)};
  const ScoredPsf above{0.9375, Bowl::Error(0.9375)};
  Bowl bowl;
  EXPECT_NEAR(RefinePsf(below, at, above, [&](double s) { return bowl(s); }), 0.68, 1e-9);
  ASSERT_EQ(bowl.tried.size(), 1u);
  // The width between them predicts worse than the choice after all: the choice stays.
  Bowl worse{0.1, {}};
  EXPECT_EQ(RefinePsf(below, at, above, [&](double s) { return worse(s); }), 0.75);
  EXPECT_EQ(worse.tried.size(), 1u);
  // Nothing is tried where the choice is not the least of the three, where the three are
  // alike, or where the width between them is within 3 % of the choice.
  Bowl untried;
  const auto refine = [&](ScoredPsf b, ScoredPsf a, ScoredPsf c) {
    return RefinePsf(b, a, c, [&](double s) { return untried(s); });
  };
  EXPECT_EQ(refine(below, {0.75, 1.5}, above), 0.75);
  EXPECT_EQ(refine({0.6, 1.0}, {0.75, 1.0}, {0.9375, 1.0}), 0.75);
  EXPECT_EQ(refine({0.55, Bowl::Error(0.55)}, {0.68, Bowl::Error(0.68)}, {0.85, Bowl::Error(0.85)}), 0.68);
  EXPECT_EQ(refine({std::nan(""), std::nan("")}, at, above), 0.75);
  EXPECT_TRUE(untried.tried.empty());
}

// Frames that refuse the first wider step and predict the edges' floor about as well as the
// stated PSF, frame 0's edges reading 0.75: uncompressed, the choice is raised to that floor.
// Compressed frames keep the stated PSF, as the codec softened the edges (a texture through
// H.264 whose camera is the stated 0.6 read 0.75, and raised, its estimate lost 1.1 dB).
TEST(PsfChoice, FrameZerosEdgesRaiseTheChoiceOnlyWhereTheFramesDoNotLookCompressed) {
  EdgePsfReading edges;
  edges.sigma = 0.75;
  edges.edges = 18;
  edges.misfit = 0.07;
  const double floor = std::round(0.75 / kEdgeBelow * 1e6) / 1e6;
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "not compressed");
    Table table{{{0.6, 2.205}, {0.75, 2.4}, {floor, 2.209}}, {}};
    std::vector<PsfTrial> trials;
    const auto trial = [&](double sigma) {
      const TrialErrors e = table(sigma);
      trials.push_back({sigma, e.score, 30});
      return e;
    };
    const double chosen = ChooseBySteps(0.6, 2.38, compressed, false, edges, trials, trial);
    EXPECT_NEAR(chosen, compressed ? 0.6 : 0.75 / kEdgeBelow, 1e-6);
  }
}

// A drifting clip of a sharp camera (0.29 LR px): 0.45 is clearly better than the stated
// 0.6, 0.3375 a little worse, and frame 0's edges read 0.40, which leaves 0.45 alone. The
// steps straddle the blur, and a width between them predicts better: it is taken, unless
// the frames look compressed.
TEST(PsfChoice, ANarrowerChoiceTheEdgesLeftAloneIsRefinedBetweenItsTrials) {
  EdgePsfReading edges;
  edges.sigma = 0.40;
  edges.edges = 41;
  edges.misfit = 0.06;
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "not compressed");
    Table table{{{0.6, 1.753}, {0.75, 2.315}, {0.45, 1.158}, {0.3375, 1.183}}, {}};
    std::vector<PsfTrial> trials;
    const auto trial = [&](double sigma) {
      TrialErrors e = table(sigma);
      if (sigma > 0.34 && sigma < 0.44) e = {1.1, 1.1};
      trials.push_back({sigma, e.score, 30});
      return e;
    };
    const double chosen = ChooseBySteps(0.6, 0.6, compressed, false, edges, trials, trial);
    if (compressed) {
      EXPECT_NEAR(chosen, 0.45, 1e-9);
    } else {
      EXPECT_GT(chosen, 0.34);
      EXPECT_LT(chosen, 0.44);
    }
  }
}

// Seven frames at x4, fewer than the sixteen HR pixels of an LR pixel: the held-out frames
// chose the pixel's box, frame 0's edges read 0.48, and the choice is raised to their floor.
// From sixteen frames, from a reading that bounds nothing, or from a choice above the floor,
// it stays.
TEST(PsfChoice, FromFewerFramesThanAnLrPixelHasHrPixelsTheEdgesRaiseTheChoice) {
  EdgePsfReading edges;
  edges.sigma = 0.48;
  edges.edges = 63;
  edges.misfit = 0.05;
  const double floor = 0.48 / kEdgeBelow;
  EXPECT_NEAR(RaiseToEdgesFromFewFrames(kPixelBoxSigma, edges, 7, 4.0, 0.94), floor, 1e-12);
  EXPECT_NEAR(RaiseToEdgesFromFewFrames(kPixelBoxSigma, edges, 3, 2.0, 0.94), floor, 1e-12);
  EXPECT_NEAR(RaiseToEdgesFromFewFrames(kPixelBoxSigma, edges, 7, 4.0, 0.4), 0.4, 1e-12);  // within the widest
  EXPECT_DOUBLE_EQ(RaiseToEdgesFromFewFrames(kPixelBoxSigma, edges, 16, 4.0, 0.94), kPixelBoxSigma);
  EXPECT_DOUBLE_EQ(RaiseToEdgesFromFewFrames(kPixelBoxSigma, edges, 9, 3.0, 0.94), kPixelBoxSigma);
  EXPECT_DOUBLE_EQ(RaiseToEdgesFromFewFrames(0.5, edges, 7, 4.0, 0.94), 0.5);
  EXPECT_DOUBLE_EQ(RaiseToEdgesFromFewFrames(kPixelBoxSigma, EdgePsfReading{}, 7, 4.0, 0.94), kPixelBoxSigma);
  EdgePsfReading aliased = edges;
  aliased.sigma = 0.2;  // sharper than a pixel's box: bounds nothing
  EXPECT_DOUBLE_EQ(RaiseToEdgesFromFewFrames(0.25, aliased, 7, 4.0, 0.94), 0.25);
}

}  // namespace
}  // namespace lumet
