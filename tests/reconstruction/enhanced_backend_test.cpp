#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "numeric/projection.h"
#include "reconstruction/enhanced/backend.h"
#include "reconstruction/enhanced/minimiser.h"
#include "reconstruction/enhanced/solver.h"
#include "reconstruction/enhanced/tiles.h"
#include "reference_backend.h"
#include "support/expect_error.h"
#include "support/simd_variants.h"
#include "support/test_images.h"
#include "util/parallel.h"

namespace lumet {
namespace {

// The scene every synthetic frame shows: smooth shading, a fine texture and a soft edge,
// per channel a little different, at a reference-frame position (LR pixels).
double Scene(int c, double x, double y) {
  const double edge = 50.0 / (1.0 + std::exp(-(x - 0.6 * y - 12.0)));
  return 70.0 + 10.0 * c + edge + 30.0 * std::sin(0.9 * x + 0.3 * y + c) + 25.0 * std::cos(0.5 * y - 0.2 * x);
}

// Reference positions to frame k's: a shift of (dx, dy) LR pixels.
Matrix Shift(double dx, double dy) {
  Matrix h = IdentityHomography();
  h.At1(1, 3) = dx / HomographyUnit;
  h.At1(2, 3) = dy / HomographyUnit;
  return h;
}

// Frames 0 .. count - 1 of the scene moved by exact sub-pixel shifts, with their homographies.
struct Sequence {
  std::vector<ColorGrayImage> frames;
  std::vector<Matrix> homographies;
};

Sequence ShiftedFrames(int size, int count) {
  static const double kShifts[][2] = {{0.0, 0.0},   {0.5, 0.25}, {-0.25, 0.5}, {0.75, -0.5},
                                      {-0.5, -0.75}, {0.25, 0.75}, {-0.75, 0.25}, {0.5, -0.25}};
  Sequence s;
  for (int k = 0; k < count; ++k) {
    const double dx = kShifts[k % 8][0];
    const double dy = kShifts[k % 8][1];
    // Frame pixel (u, v) sees the reference point (u - dx, v - dy).
    s.frames.push_back(testing::MakeColor(size, size, [&](int c, int u, int v) { return Scene(c, u - dx, v - dy); }));
    s.homographies.push_back(Shift(dx, dy));
  }
  return s;
}

// The small problem the backends are compared on: five shifted frames and one through a
// perspective map on a 40 x 36 grid at scale 2 (with the method's margin), sampled by
// kernel, observation weights, a frame left out and one held out.
struct Problem {
  HrGeometry grid;
  ObservationModel model;
  EnhancedWeights weights;
};

Problem SmallProblem(SampleKernel kernel) {
  HrGeometry roi{.width = 24, .height = 20, .x0 = 12, .y0 = 14, .scale = 2.0, .q = 2};
  const std::vector<double> taps = PsfTaps(0.6, roi.scale);
  const HrGeometry grid = ExtendGeometry(roi, EnhancedMargin(static_cast<int>(taps.size()), roi.scale));
  Problem p{grid, ObservationModel(grid, taps, kernel), {}};
  Sequence s = ShiftedFrames(24, 5);
  Matrix perspective = Shift(0.3, -0.4);
  perspective.At1(1, 2) = 0.01;
  perspective.At1(3, 1) = 0.0005 * HomographyUnit;
  s.frames.push_back(testing::MakeColor(24, 24, [](int c, int u, int v) { return Scene(c, u * 0.98, v + 0.2); }));
  s.homographies.push_back(perspective);
  for (size_t k = 0; k < s.frames.size(); ++k) p.model.AddFrame(s.frames[k], s.homographies[k]);
  std::mt19937 random(5);
  std::uniform_real_distribution<float> share(0.0f, 1.0f);
  p.weights.alpha = 0.7;
  p.weights.lambda = 0.4;  // large enough that the prior weighs in the comparison
  p.weights.frame = {1.0, 0.6, 0.0, 1.0, 0.0, 0.8};
  p.weights.heldOut = {0, 0, 0, 0, 1, 0};
  p.weights.observation.resize(p.model.ObservationCount());
  for (float& w : p.weights.observation) w = share(random);
  p.weights.dataSmoothing = 2.0;
  return p;
}

Plane RandomPlane(int w, int h, std::mt19937& random, double lo, double hi) {
  std::uniform_real_distribution<double> value(lo, hi);
  Plane p(w, h);
  for (double& v : p.v) v = value(random);
  return p;
}

double LargestDifference(const std::vector<double>& a, const std::vector<double>& b) {
  EXPECT_EQ(a.size(), b.size());
  double largest = 0.0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) largest = std::max(largest, std::fabs(a[i] - b[i]));
  return largest;
}

double LargestMagnitude(const std::vector<double>& a) {
  double largest = 0.0;
  for (double v : a) largest = std::max(largest, std::fabs(v));
  return largest;
}

// Every backend built in computes the functions of the reference, to rounding: within
// kRelative of the largest magnitude of each result (sums over some hundred terms of
// values up to 255 in another order), or kSingleRelative for the objective of one that
// forms its terms in single precision (the estimate itself rounded to float moves each
// prediction by up to 2^-24 of 255, and the blur's and the sampling's sums add their own).
constexpr double kRelative = 1e-11;
constexpr double kSingleRelative = 2e-6;

double ObjectiveTolerance(const EnhancedBackend& backend) {
  return backend.Name() == kSingleBackend ? kSingleRelative : kRelative;
}

// The module the tests build beside them (backend_module/), a backend like the others.
constexpr const char* kTestModule = "testmodule";

// Every backend: those built in and the test module. The module folder is the tests' own
// while a test runs.
class EnhancedBackendTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { SetBackendModuleFolder(LUMET_TEST_MODULES); }
  void TearDown() override { SetBackendModuleFolder(""); }
  const EnhancedBackend& Backend() const { return EnhancedBackendNamed(GetParam()); }
};

std::vector<std::string> EveryBackend() {
  std::vector<std::string> names = BuiltInBackendNames();
  names.emplace_back(kTestModule);
  return names;
}

TEST_P(EnhancedBackendTest, IsFoundByItsName) { EXPECT_EQ(Backend().Name(), GetParam()); }

constexpr SampleKernel kKernels[] = {SampleKernel::Bilinear, SampleKernel::Cubic};

const char* KernelName(SampleKernel kernel) { return kernel == SampleKernel::Cubic ? "cubic" : "bilinear"; }

void ExpectForwardAndAdjointOfTheReference(const EnhancedBackend& backend, SampleKernel kernel) {
  SCOPED_TRACE(KernelName(kernel));
  const Problem p = SmallProblem(kernel);
  ASSERT_GT(p.model.ObservationCount(), 1000u);
  const testing::ReferenceBackend reference;
  std::mt19937 random(17);
  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE(trial);
    const Plane x = RandomPlane(p.grid.width, p.grid.height, random, 0.0, 255.0);
    ObjectiveScratch mine;
    ObjectiveScratch theirs;
    backend.Forward(p.model, x, mine);
    reference.Forward(p.model, x, theirs);
    EXPECT_LE(LargestDifference(mine.predicted, theirs.predicted), kRelative * LargestMagnitude(theirs.predicted));

    std::vector<double> r(p.model.ObservationCount());
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (double& v : r) v = value(random);
    Plane back;
    Plane referenceBack;
    backend.Adjoint(p.model, r, back, mine);
    reference.Adjoint(p.model, r, referenceBack, theirs);
    ASSERT_EQ(back.width, p.grid.width);
    ASSERT_EQ(back.height, p.grid.height);
    EXPECT_LE(LargestDifference(back.v, referenceBack.v), kRelative * LargestMagnitude(referenceBack.v));
  }
}

TEST_P(EnhancedBackendTest, ForwardAndAdjointMatchTheReference) {
  for (const SampleKernel kernel : kKernels) ExpectForwardAndAdjointOfTheReference(Backend(), kernel);
}

void ExpectObjectiveAndGradientOfTheReference(const EnhancedBackend& backend, SampleKernel kernel) {
  SCOPED_TRACE(KernelName(kernel));
  Problem p = SmallProblem(kernel);
  const testing::ReferenceBackend reference;
  std::mt19937 random(23);
  for (int c = 0; c < 3; ++c) {
    for (const bool prior : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "channel " << c << (prior ? " with" : " without") << " the prior");
      p.weights.lambda = prior ? 0.4 : 0.0;
      const Plane x = RandomPlane(p.grid.width, p.grid.height, random, 20.0, 230.0);
      ObjectiveScratch mine;
      ObjectiveScratch theirs;
      Plane gradient;
      Plane referenceGradient;
      const double f = backend.Objective(p.model, c, p.weights, x, gradient, mine);
      const double g = reference.Objective(p.model, c, p.weights, x, referenceGradient, theirs);
      const double tolerance = ObjectiveTolerance(backend);
      EXPECT_NEAR(f, g, tolerance * std::fabs(g));
      EXPECT_LE(LargestDifference(gradient.v, referenceGradient.v), tolerance * LargestMagnitude(referenceGradient.v));
      EXPECT_NEAR(mine.heldOutError, theirs.heldOutError, tolerance * theirs.heldOutError);
      EXPECT_NEAR(mine.heldOutWeight, theirs.heldOutWeight, kRelative * theirs.heldOutWeight);
      EXPECT_GT(theirs.heldOutWeight, 0.0);
    }
  }
}

TEST_P(EnhancedBackendTest, ObjectiveAndGradientMatchTheReference) {
  for (const SampleKernel kernel : kKernels) ExpectObjectiveAndGradientOfTheReference(Backend(), kernel);
}

INSTANTIATE_TEST_SUITE_P(Every, EnhancedBackendTest, ::testing::ValuesIn(EveryBackend()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(EnhancedBackendReference, GradientIsTheObjectivesSlope) {
  // The yardstick itself: its gradient against central differences of its objective.
  for (const SampleKernel kernel : kKernels) {
    SCOPED_TRACE(KernelName(kernel));
    Problem p = SmallProblem(kernel);
    const testing::ReferenceBackend reference;
    std::mt19937 random(29);
    const Plane x = RandomPlane(p.grid.width, p.grid.height, random, 20.0, 230.0);
    testing::ExpectGradientIsTheObjectivesSlope(reference, p.model, p.weights, x, random, 20);
  }
}

// A problem large enough that the data term, the prior and the minimiser's vector passes
// each split into several blocks and ranges: five shifted frames on a 152 x 132 grid.
Problem LargerProblem(SampleKernel kernel) {
  HrGeometry roi{.width = 130, .height = 110, .x0 = 10, .y0 = 10, .scale = 2.0, .q = 2};
  const std::vector<double> taps = PsfTaps(0.6, roi.scale);
  const HrGeometry grid = ExtendGeometry(roi, EnhancedMargin(static_cast<int>(taps.size()), roi.scale));
  Problem p{grid, ObservationModel(grid, taps, kernel), {}};
  const Sequence s = ShiftedFrames(90, 5);
  for (size_t k = 0; k < s.frames.size(); ++k) p.model.AddFrame(s.frames[k], s.homographies[k]);
  p.weights.lambda = 0.4;
  p.weights.frame = {1.0, 0.6, 1.0, 0.0, 0.8};
  p.weights.heldOut = {0, 0, 0, 1, 0};
  return p;
}

// The thread count is not a parameter of the result: the objective, its gradient and a few
// quasi-Newton iterations come out bit for bit the same on 1, 2 and 3 threads, with the
// work split into ranges whatever its size.
void ExpectTheSameForEveryThreadCount(const EnhancedBackend& backend, SampleKernel kernel) {
  SCOPED_TRACE(::testing::Message() << backend.Name() << ", " << KernelName(kernel));
  const Problem p = LargerProblem(kernel);
  ASSERT_GT(p.model.ObservationCount(), 5u * 2048u);
  ASSERT_GT(static_cast<size_t>(p.grid.width) * p.grid.height, 4u * 4096u);
  std::mt19937 random(31);
  const Plane start = RandomPlane(p.grid.width, p.grid.height, random, 20.0, 230.0);
  const ScopedParallelMode parallel(ParallelMode::ForceParallel);
  struct Outcome {
    double f;
    std::vector<double> gradient;
    double heldOutError;
    std::vector<double> solved;
  };
  auto run = [&](int threads) {
    SetThreadCount(threads);
    Outcome out;
    ObjectiveScratch scratch;
    Plane gradient;
    out.f = backend.Objective(p.model, 1, p.weights, start, gradient, scratch);
    out.gradient = gradient.v;
    out.heldOutError = scratch.heldOutError;
    Plane x = start;
    MinimiseEnhanced(backend, p.model, 1, p.weights, 1.0, 4, 0.0, x, nullptr);
    out.solved = x.v;
    SetThreadCount(0);
    return out;
  };
  const Outcome one = run(1);
  for (const int threads : {2, 3}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    const Outcome other = run(threads);
    EXPECT_EQ(other.f, one.f);
    EXPECT_EQ(other.heldOutError, one.heldOutError);
    EXPECT_TRUE(other.gradient == one.gradient);
    EXPECT_TRUE(other.solved == one.solved);
  }
  // The iterations moved the estimate: the comparison is of real work.
  EXPECT_GT(LargestDifference(one.solved, start.v), 1.0);
}

// The engine's own loops, in double and in single precision.
const EnhancedBackend* const kCpuBackends[] = {&CpuEnhancedBackend(), &SingleCpuEnhancedBackend()};

TEST(EnhancedCpuBackend, ResultsAreTheSameForEveryThreadCount) {
  for (const EnhancedBackend* backend : kCpuBackends) {
    for (const SampleKernel kernel : kKernels) ExpectTheSameForEveryThreadCount(*backend, kernel);
  }
}

// The vector loops (the blur, the sampling, the data term with and without per-observation
// weights, the prior's pairs, the quasi-Newton passes) give the same bits on every
// instruction set this processor runs; the rows' widths and the frames' observation counts
// leave tails of every length.
void ExpectTheSameBitsOnEveryInstructionSet(const EnhancedBackend& backend, SampleKernel kernel) {
  SCOPED_TRACE(::testing::Message() << backend.Name() << ", " << KernelName(kernel));
  Problem p = LargerProblem(kernel);
  std::mt19937 random(37);
  const Plane x = RandomPlane(p.grid.width, p.grid.height, random, 20.0, 230.0);
  EnhancedWeights weighted = p.weights;
  std::uniform_real_distribution<float> share(0.0f, 1.0f);
  weighted.observation.resize(p.model.ObservationCount());
  for (float& w : weighted.observation) w = share(random);
  struct Outcome {
    double f = 0.0;
    std::vector<double> gradient;
    std::vector<double> solved;
  };
  auto evaluate = [&](SimdVariant variant, const EnhancedWeights& weights) {
    const ScopedSimdVariant scoped(variant);
    Outcome out;
    ObjectiveScratch scratch;
    Plane gradient;
    out.f = backend.Objective(p.model, 0, weights, x, gradient, scratch);
    out.gradient = gradient.v;
    Plane solved = x;
    MinimiseEnhanced(backend, p.model, 0, weights, 1.0, 4, 0.0, solved, nullptr);
    out.solved = solved.v;
    return out;
  };
  for (const EnhancedWeights* weights : {&p.weights, &weighted}) {
    SCOPED_TRACE(weights == &weighted ? "per-observation weights" : "frame weights");
    const Outcome baseline = evaluate(SimdVariant::Baseline, *weights);
    EXPECT_GT(LargestDifference(baseline.solved, x.v), 1.0);
    for (const SimdVariant variant : testing::SimdVariantsToTest()) {
      SCOPED_TRACE(SimdVariantName(variant));
      const Outcome other = evaluate(variant, *weights);
      EXPECT_EQ(other.f, baseline.f);
      EXPECT_TRUE(other.gradient == baseline.gradient);
      EXPECT_TRUE(other.solved == baseline.solved);
    }
  }
}

TEST(EnhancedCpuBackend, EveryInstructionSetGivesTheSameBits) {
  for (const EnhancedBackend* backend : kCpuBackends) {
    for (const SampleKernel kernel : kKernels) ExpectTheSameBitsOnEveryInstructionSet(*backend, kernel);
  }
  LUMET_SKIP_MISSING_SIMD_VARIANTS();
}

// Sets an environment variable for a test's length and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(EnhancedBackendChoice, TheVariableChoosesWhenTheSettingsNameNone) {
  {
    const ScopedVariable unset(kBackendVariable, "");
    EXPECT_EQ(EnhancedBackendNamed("").Name(), kDefaultBackend);
  }
  const ScopedVariable chosen(kBackendVariable, "no-such-backend");
  testing::ExpectError([] { EnhancedBackendNamed(""); }, {"no-such-backend"});
  // A name in the settings goes before the variable.
  EXPECT_EQ(EnhancedBackendNamed(kDefaultBackend).Name(), kDefaultBackend);
  EnhancedSettings settings;
  testing::ExpectError([&] { CheckEnhancedSettings(settings); }, {"no-such-backend"});
  settings.backend = kDefaultBackend;
  EXPECT_NO_THROW(CheckEnhancedSettings(settings));
}

TEST(EnhancedBackendChoice, AModuleIsFoundInTheFolderChosen) {
  // Not beside the program: the name is refused naming the file looked for there.
  testing::ExpectError([] { EnhancedBackendNamed("testmodule-elsewhere"); },
                       {"built in: cpu", "lib/lumet/liblumet-backend-testmodule-elsewhere.so"});
  SetBackendModuleFolder(LUMET_TEST_MODULES);
  const std::string name = EnhancedBackendNamed(kTestModule).Name();
  const std::string missing = testing::ExpectError([] { EnhancedBackendNamed("absent"); },
                                                   {std::string(LUMET_TEST_MODULES) + "/liblumet-backend-absent.so"});
  SetBackendModuleFolder("");
  EXPECT_EQ(name, kTestModule);
  EXPECT_FALSE(missing.empty());
}

TEST(EnhancedBackendChoice, AnUnknownNameListsTheKnownOnesAndTheModuleLookedFor) {
  SCOPED_TRACE("a name that could be a module");
  testing::ExpectError([] { EnhancedBackendNamed("gpu"); },
                       {"unknown enhanced backend \"gpu\"", "built in: cpu", "lib/lumet/liblumet-backend-gpu.so"});
  SCOPED_TRACE("a name that could never be a module file");
  const std::string message = testing::ExpectError([] { EnhancedBackendNamed("../cpu"); }, {"\"../cpu\"", "cpu"});
  EXPECT_EQ(message.find("liblumet-backend"), std::string::npos) << message;
}

// Expects the mean and the largest absolute difference of two estimates, over every
// channel, below the limits given.
void ExpectClose(const ColorDoubleImage& a, const ColorDoubleImage& b, double mean, double largest) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  double sum = 0.0;
  double most = 0.0;
  for (size_t c = 0; c < 3; ++c) {
    for (int i = 0; i < a.Height(); ++i) {
      for (int j = 0; j < a.Width(); ++j) {
        const double d = std::fabs(a.channels[c].Row(i)[j] - b.channels[c].Row(i)[j]);
        sum += d;
        most = std::max(most, d);
      }
    }
  }
  EXPECT_LT(sum / (3.0 * a.Width() * a.Height()), mean);
  EXPECT_LT(most, largest);
}

// A 160 x 160 grid (40 x 40 LR pixels at scale 4, bilinear sampling; 80 x 80 at scale 2,
// cubic) solved whole and in 2 x 2 tiles of 80 with their overlap of 48: the seams must not
// show. Allowed: a mean absolute difference of 0.25 and at most 3 grey levels anywhere
// (measured at scale 4: 0.075 and 1.04).
void ExpectTilesWithoutSeams(double scale, const RoiRect& roi, int frameSize) {
  SCOPED_TRACE(::testing::Message() << "scale " << scale);
  const Sequence s = ShiftedFrames(frameSize, 6);
  const HrGeometry grid = MakeHrGeometry(roi, scale);
  ASSERT_EQ(grid.width, 160);
  EnhancedSettings settings;
  settings.maxIterations = 15;
  const auto run = [&](int tileSide, EnhancedOutcome& outcome) {
    ColorDoubleImage estimate;
    EnhancedReconstructTiled(s.frames, s.homographies, grid, settings, tileSide, estimate, outcome,
                             EnhancedProgress(), EnhancedPicture());
    return estimate;
  };
  EnhancedOutcome wholeOutcome;
  EnhancedOutcome tiledOutcome;
  const ColorDoubleImage whole = run(grid.width, wholeOutcome);
  const ColorDoubleImage tiled = run(80, tiledOutcome);
  ASSERT_FALSE(wholeOutcome.fellBack) << wholeOutcome.reason;
  ASSERT_FALSE(tiledOutcome.fellBack) << tiledOutcome.reason;
  EXPECT_GT(tiledOutcome.iterations, wholeOutcome.iterations) << "four tiles solved";
  ExpectClose(tiled, whole, 0.25, 3.0);
}

TEST(EnhancedMethodTiles, TiledSolveMatchesTheUntiledOneWithoutSeams) {
  ExpectTilesWithoutSeams(4.0, RoiRect{10, 10, 50, 50}, 60);
  ExpectTilesWithoutSeams(2.0, RoiRect{20, 20, 100, 100}, 120);
}

}  // namespace
}  // namespace lumet
