#include "workbench/workbench.h"

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "imageio/bmp_file.h"
#include "imageio/homography_file.h"
#include "library/conversions.h"
#include "library/sequence_source.h"
#include "lumet/stages.h"
#include "numeric/projection.h"
#include "numeric/random.h"
#include "params/algorithm_options.h"
#include "reconstruction/classic/robust_btv.h"
#include "registration/frame_registration.h"
#include "util/parallel.h"
#include "support/expect_error.h"
#include "support/temp_folder.h"
#include "support/test_images.h"
#include "util/text_format.h"
#include "workbench/recording_port.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;
using Refusals = std::vector<std::pair<void (*)(ParamSet&), std::vector<std::string>>>;

// Runs each test in a folder of its own as the working directory; file names are InitParams'.
class WorkbenchTest : public ::testing::Test {
 protected:
  WorkbenchTest() { fs::current_path(folder_.Path()); }
  ~WorkbenchTest() override { fs::current_path(saved_); }
  void UseGrid(int count, RoiRect roi = {9, 8, 15, 14}, double scale = 3.0, double sigma = 0.3) {
    bench_.params.lrCount = count;
    bench_.params.roi = roi;
    bench_.params.scale = scale;
    bench_.params.psfSigma = sigma;
  }
  // Each change of the params is refused naming its texts, before any log, frame viewer call or file.
  void ExpectRefusals(void (Workbench::*command)(UiPort&), const Refusals& cases, bool referenceShown,
                      const std::vector<std::string>& files) {
    const ParamSet good = bench_.params;
    for (size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE("case " + std::to_string(i));
      bench_.params = good;
      cases[i].first(bench_.params);
      port_ = testing::RecordingPort();
      testing::ExpectError([&] { (bench_.*command)(port_); }, cases[i].second);
      EXPECT_TRUE(port_.logs.empty());
      EXPECT_EQ(port_.Frame().calls, 0);
      EXPECT_EQ(port_.Ref().calls > 0, referenceShown);
      for (const std::string& file : files) EXPECT_FALSE(fs::exists(file)) << file;
    }
  }

  fs::path saved_ = fs::current_path();
  testing::TempFolder folder_;
  Workbench bench_;
  testing::RecordingPort port_;
};

// A sharp scene of bars and a block in reference LR coordinates (sigma 0), or the same scene
// through a Gaussian PSF of sigma LR pixels, in closed form.
double BarScene(int c, double x, double y, double sigma) {
  constexpr double kRects[][5] = {  // x1, x2, y1, y2, intensity
      {10.2, 11.2, 9.5, 16.5, 150.0}, {12.4, 13.4, 9.5, 16.5, 150.0}, {14.3, 14.9, 9.5, 16.5, 150.0},
      {9.0, 22.0, 17.3, 18.1, 120.0}, {9.0, 22.0, 19.0, 19.8, 120.0}, {16.5, 21.5, 9.2, 15.7, 90.0}};
  constexpr double kChannelGain[3] = {1.0, 0.8, 0.6};
  auto phi = [](double t) { return 0.5 * std::erfc(-t / std::sqrt(2.0)); };
  double value = 40.0;
  for (const auto& [x1, x2, y1, y2, intensity] : kRects) {
    const double fx = sigma > 0 ? phi((x - x1) / sigma) - phi((x - x2) / sigma) : x >= x1 && x < x2;
    const double fy = sigma > 0 ? phi((y - y1) / sigma) - phi((y - y2) / sigma) : y >= y1 && y < y2;
    value += intensity * kChannelGain[c] * fx * fy;
  }
  return value;
}

// Frames of the bar scene blurred (sigma 0.5) and moved by shifts[k], with exact homography files.
void WriteBarFrames(const std::vector<std::pair<double, double>>& shifts, int width = 16, int height = 14) {
  fs::create_directories("./result");
  for (int k = 0; k < static_cast<int>(shifts.size()); ++k) {
    const auto [tx, ty] = shifts[static_cast<size_t>(k)];
    const ColorGrayImage frame = testing::MakeColor(
        width, height, [&](int c, int x, int y) { return std::lround(BarScene(c, x - tx, y - ty, 0.5)); });
    BmpFile::WriteImage(Format("./images/lr-%d.bmp", k), frame, 0, 0, width, height);
    std::ofstream(Format("./result/hr_hom-%d.txt", k), std::ios::binary)
        << Format("1 0 %.17g 0 1 %.17g 0 0\n", tx / HomographyUnit, ty / HomographyUnit);
  }
}

using ReconstructionCommandTest = WorkbenchTest;

TEST_F(ReconstructionCommandTest, RunLogsEachMaeAndTheThreshold) {
  WriteBarFrames({{0.0, 0.0}, {0.5, 0.25}, {-0.75, 0.5}});
  UseGrid(3);  // 18 x 18 HR, 7 x 7 kernel
  bench_.Reconstruction(port_);
  ASSERT_EQ(port_.logs.size(), 4u);
  EXPECT_EQ(port_.logs[0], "MAE(0) = 0.000000\r\n");
  double largest = 0.0;
  for (size_t k = 1; k < 3; ++k) {
    const double value = std::stod(port_.logs[k].substr(9));  // after "MAE(k) = "
    EXPECT_EQ(port_.logs[k], Format("MAE(%d) = %f\r\n", static_cast<int>(k), value));
    EXPECT_GT(value, 0.0);
    largest = std::max(largest, value);
  }
  EXPECT_EQ(port_.logs[3], Format("Threshold(2/3) = %f\r\n", largest));  // N = 3: index 2, the largest MAE
  // The same as values, for a front end that sums the run up.
  const ReconstructionOutcome& outcome = bench_.lastOutcome;
  EXPECT_EQ(outcome.method, Method::Classic);
  EXPECT_EQ(outcome.framesGiven, 3);
  EXPECT_TRUE(outcome.selected);
  EXPECT_EQ(outcome.thresholdIndex, 2);
  EXPECT_NEAR(outcome.threshold, largest, 5e-7);  // the log's six decimals
  EXPECT_EQ(outcome.framesUsed, 3);               // none above the largest
  EXPECT_EQ(outcome.iterations, kBtvStepsPerBand);
  EXPECT_FALSE(outcome.choosesPsf || outcome.fellBack);
  EXPECT_TRUE(outcome.warnings.empty());
  EXPECT_EQ(OutcomeSummaryLine(outcome) + "\r\n", port_.logs[3]);
  const std::string result = testing::ReadText("./result/hr.bmp");

  // Unwatched, the frames are measured from their green channel alone and in parallel:
  // the same log and the same result, and no picture of the work in progress.
  for (const ParallelMode mode : {ParallelMode::ForceSerial, ParallelMode::ForceParallel}) {
    ScopedParallelMode scoped(mode);
    testing::RecordingPort quiet;
    quiet.showsWork = false;
    fs::remove("./result/hr.bmp");
    bench_.Reconstruction(quiet);
    EXPECT_EQ(quiet.logs, port_.logs);
    EXPECT_EQ(testing::ReadText("./result/hr.bmp"), result);
    EXPECT_EQ(quiet.Ref().pictures, 1) << "the result alone";
  }
}

// A front end that registers first asks before the registration whether the
// reconstruction fits the memory limit: the same answer, the same figure, from frame 0 alone,
// for either method and whether or not the work is watched.
TEST_F(ReconstructionCommandTest, TheMemoryCheckAheadRefusesWhatTheReconstructionWouldRefuse) {
  WriteBarFrames({{0.0, 0.0}, {0.5, 0.25}, {-0.75, 0.5}});
  for (const Method method : {Method::Classic, Method::Enhanced}) {
    for (const bool watched : {true, false}) {
      SCOPED_TRACE(std::string(MethodName(method)) + (watched ? ", watched" : ", unwatched"));
      UseGrid(method == Method::Classic ? 3 : 2);  // frames 0 .. 2 either way
      bench_.params.method = MethodName(method);
      bench_.memoryLimit = size_t{1} << 20;
      port_ = testing::RecordingPort();
      port_.showsWork = watched;
      const std::string ahead =
          testing::ExpectError([&] { bench_.CheckReconstructionMemory(port_); }, {"HR grid needs about "});
      EXPECT_TRUE(port_.logs.empty());
      EXPECT_EQ(port_.Ref().calls + port_.Frame().calls, 0) << "the check shows nothing";
      EXPECT_EQ(testing::ExpectError([&] { bench_.Reconstruction(port_); }), ahead);
      EXPECT_FALSE(fs::exists("./result/hr.bmp"));
      bench_.memoryLimit = DefaultMemoryLimit();
      EXPECT_NO_THROW(bench_.CheckReconstructionMemory(port_));
    }
  }
  // It checks the values and the ROI against frame 0 as the reconstruction does.
  bench_.params.roi = RoiRect{10, 3, 17, 9};
  testing::ExpectError([&] { bench_.CheckReconstructionMemory(port_); }, {"exceeds the frame width 16"});
}

TEST_F(ReconstructionCommandTest, BadValuesAreRefusedBeforeAnythingIsShownOrWritten) {
  WriteBarFrames({{0.0, 0.0}, {0.5, 0.0}});
  UseGrid(2);
  // The values alone (CheckParams, before anything is read), then against frame 0 (16 x 14).
  ExpectRefusals(&Workbench::Reconstruction, {
      {[](ParamSet& p) { p.lrCount = 0; }, {"LR count 0"}},
      {[](ParamSet& p) { p.psfSigma = 0.0; }, {"PSF sigma 0"}},
      {[](ParamSet& p) { p.roi = RoiRect{4, 9, 10, 3}; }, {"ROI 4,9,6,-6: h -6"}},
      {[](ParamSet& p) { p.psfSigma = 1.2; }, {"HR grid of 18 x 18", "23 x 23", "PSF sigma 1.2"}},  // below kernel
      {[](ParamSet& p) { p.roi = RoiRect{4, 3, 5, 9}; }, {"HR grid of 3 x 18"}},                      // below 5
      {[](ParamSet& p) { p.roi = RoiRect{10, 3, 17, 9}; }, {"ROI 10,3,7,6: x + w = 17 exceeds the frame width 16"}},
  }, false, {kFirstFramePath, "./result/hr.bmp"});
}

TEST_F(ReconstructionCommandTest, UnusableFrameOrHomographyFileStopsWithoutAResult) {
  struct Fault {
    std::function<void()> make;
    std::string named;
    bool foundUpFront;  // before anything is shown or written
  };
  const std::vector<Fault> faults = {
      {[] { fs::remove("./result/hr_hom-2.txt"); }, "./result/hr_hom-2.txt", true},
      {[] {
         const ColorGrayImage smaller = testing::MakeColor(15, 14, [](int, int, int) { return 90; });
         BmpFile::WriteImage("./images/lr-2.bmp", smaller, 0, 0, 15, 14);
       },
       "./images/lr-2.bmp", true},
      {[] { fs::remove("./images/lr-2.bmp"); }, "found 2 (./images/lr-0.bmp … ./images/lr-1.bmp", true},
      {[] { std::ofstream("./result/hr_hom-2.txt") << "1 0 0.001 0 1 0 0\n"; }, "./result/hr_hom-2.txt", false},
  };
  for (const auto& [fault, named, foundUpFront] : faults) {
    SCOPED_TRACE(named);
    WriteBarFrames({{0.0, 0.0}, {0.5, 0.0}, {0.25, 0.5}});
    fs::remove("./result/hr.bmp");
    fs::remove(kFirstFramePath);
    UseGrid(3);
    fault();
    for (const bool watched : {true, false}) {
      SCOPED_TRACE(watched ? "watched" : "unwatched");
      fs::remove(kFirstFramePath);
      port_ = testing::RecordingPort();
      port_.showsWork = watched;
      testing::ExpectError([&] { bench_.Reconstruction(port_); }, {named});
      // A malformed homography file is found when it is read, after the first frame's picture.
      EXPECT_EQ(fs::exists(kFirstFramePath), !foundUpFront);
      EXPECT_EQ(port_.logs.size(), foundUpFront ? 0u : 2u);  // frames 0 and 1 were measured
      EXPECT_FALSE(fs::exists("./result/hr.bmp"));
    }
  }
}

TEST_F(ReconstructionCommandTest, SixtyFiveFramesAreAllUsed) {
  WriteBarFrames(std::vector<std::pair<double, double>>(65), 10, 10);
  UseGrid(65, RoiRect{2, 2, 5, 5}, 3.0, 0.2);  // 9 x 9 HR, 7 x 7 kernel
  bench_.Reconstruction(port_);
  ASSERT_EQ(port_.logs.size(), 66u);
  EXPECT_EQ(port_.logs[64], "MAE(64) = 0.000000\r\n");
  EXPECT_EQ(port_.logs[65], "Threshold(58/65) = 0.000000\r\n");
  EXPECT_TRUE(fs::exists("./result/hr.bmp"));
}

TEST_F(ReconstructionCommandTest, ReconstructionOfShiftedBlurredFramesBeatsTheEnlargedFirstFrame) {
  // 16 frames at every quarter-pixel shift, blurred by the PSF the reconstruction assumes.
  std::vector<std::pair<double, double>> shifts;
  for (int k = 0; k < 16; ++k) shifts.emplace_back(0.25 * (k % 4), 0.25 * (k / 4));
  WriteBarFrames(shifts, 32, 32);
  UseGrid(16, RoiRect{8, 8, 24, 24}, 4.0, 0.5);  // 64 x 64 HR with its origin at (32, 32)
  bench_.Reconstruction(port_);
  auto psnr = [](const std::string& path) {  // against the sharp scene, without a border of 8 HR pixels
    ColorGrayImage image;
    BmpFile::ReadFrame(path, image);
    double sum = 0.0;
    for (size_t ch = 0; ch < 3; ++ch) {
      for (int r = 8; r < 56; ++r) {
        for (int c = 8; c < 56; ++c) {
          const double d = image.channels[ch][r][c] - BarScene(static_cast<int>(ch), (c + 32) / 4.0, (r + 32) / 4.0, 0);
          sum += d * d;
        }
      }
    }
    return 10.0 * std::log10(255.0 * 255.0 / (sum / (3 * 48 * 48)));
  };
  // Measured: 21.46 dB against 14.89 dB; the bound leaves room for other platforms' rounding.
  EXPECT_GT(psnr("./result/hr.bmp"), psnr(kFirstFramePath) + 5.0);
}

TEST_F(ReconstructionCommandTest, CancellationStopsWithoutAResult) {
  WriteBarFrames({{0.0, 0.0}, {0.5, 0.0}});
  UseGrid(2);
  port_.cancelAfter = 50;  // in the middle of the iterations
  EXPECT_THROW(bench_.Reconstruction(port_), Cancelled);
  EXPECT_FALSE(fs::exists("./result/hr.bmp"));
}

// Frame k of the blob scene under the motion m = (tx, ty, theta), which shows the scene point p
// at R(theta) (p - c) + c + (tx, ty), c = (80, 60): red the negative, green the scene, blue flat.
void WriteBlobFrame(int k, const std::array<double, 3>& m) {
  const double c = std::cos(m[2]), s = std::sin(m[2]);
  const ColorGrayImage frame = testing::MakeColor(160, 120, [&](int ch, int x, int y) {
    const double dx = x - 80 - m[0], dy = y - 60 - m[1];  // the scene point landing on (x, y)
    const long g = std::lround(testing::BlobScene(c * dx + s * dy + 80, -s * dx + c * dy + 60));
    return ch == 0 ? 255 - g : ch == 1 ? g : 128;
  });
  BmpFile::WriteImage(Format("./images/lr-%d.bmp", k), frame, 0, 0, 160, 120);
}

class RegistrationCommandTest : public WorkbenchTest {
 protected:
  void SetUp() override {
    bench_.params.lrCount = 3;
    bench_.params.roi = RoiRect{60, 40, 100, 80};
    bench_.params.ransacFirst = 8;
    bench_.params.ransacSecond = 12;
    bench_.params.sadSize = 12;
    bench_.params.searchArea = 10;
    for (int k = 0; k < 2; ++k) WriteBlobFrame(k, {0.5 * k, 0, 0});
  }
};

TEST_F(RegistrationCommandTest, RegistersMovedFramesWithinAFifthOfAPixel) {
  const std::array<double, 3> motions[] = {
      {0, 0, 0}, {0.4, -0.3, 0.0}, {-1.25, 0.8, 0.5 * M_PI / 180}, {2.3, 1.6, -0.8 * M_PI / 180}};
  for (int k = 1; k <= 3; ++k) WriteBlobFrame(k, motions[k]);
  bench_.Registration(port_);
  ASSERT_EQ(port_.logs.size(), 3u);
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    const std::string& line = port_.logs[static_cast<size_t>(k - 1)];
    const double e1 = std::stod(line.substr(line.find('=') + 1));
    const double e2 = std::stod(line.substr(line.find("->") + 2));
    EXPECT_EQ(line, "MAE(" + std::to_string(k) + ") = " + FormatG6(e1) + "->" + FormatG6(e2) + "\r\n\n");
    EXPECT_LT(e1, 99999.0);  // the search ran and accepted a trial
    EXPECT_LE(e2, e1);
    EXPECT_LT(e2, 3.0);
    const Matrix h = ReadHomographyFile(Format("./result/hr_hom-%d.txt", k));
    const double points[][3] = {{80, 60, 0.2}, {60, 40, 0.6}, {100, 40, 0.6}, {60, 80, 0.6}, {100, 80, 0.6}};
    const auto [tx, ty, theta] = motions[k];
    for (const auto& [x, y, bound] : points) {  // the ROI's centre and corners
      const ProjectedPoint got = ProjectPoint(h, x, y);
      const double u = std::cos(theta) * (x - 80) - std::sin(theta) * (y - 60) + 80 + tx;
      const double v = std::sin(theta) * (x - 80) + std::cos(theta) * (y - 60) + 60 + ty;
      EXPECT_LT(std::hypot(got.u - u, got.v - v), bound) << "at " << x << ", " << y;
    }
  }
}

TEST_F(RegistrationCommandTest, TooFewPairsRefinesAndWritesFromTheIdentity) {
  bench_.params.lrCount = 1;
  bench_.params.ransacFirst = 5;  // a sample of five is too small for a search
  bench_.params.ransacSecond = 5;
  bench_.Registration(port_);
  ASSERT_EQ(port_.logs.size(), 2u);
  EXPECT_EQ(port_.logs[0],
            "Warning: frame 1: no homography search, the refinement starts from the identity: the RANSAC sample of 5 "
            "pairs (--ransac 5/5) is below the 6 a search needs; --ransac 6/6 or more runs it\r\n");
  EXPECT_EQ(port_.logs[1].substr(0, 18), "MAE(1) = 99999.9->");
  const Matrix h = ReadHomographyFile("./result/hr_hom-1.txt");
  EXPECT_EQ(h.At1(1, 3), 0.0);  // the translation of the identity, kept by the refinement
  EXPECT_EQ(h.At1(2, 3), 0.0);
  EXPECT_NEAR(ProjectPoint(h, 80, 60).u, 80.5, 0.25);  // the linear part alone moves the ROI towards the shift
  EXPECT_NEAR(ProjectPoint(h, 80, 60).v, 60.0, 0.25);

  // A matching block larger than the frame pairs nothing; the warning says so.
  bench_.params.ransacFirst = 8;
  bench_.params.ransacSecond = 12;
  bench_.params.sadSize = 60;
  port_ = testing::RecordingPort();
  bench_.Registration(port_);
  ASSERT_EQ(port_.logs.size(), 2u);
  EXPECT_NE(port_.logs[0].find("the 121 x 121 matching block (--sad-size 60) does not fit the 160 x 120 frame; a "
                               "--sad-size below 60 lets it fit"),
            std::string::npos)
      << port_.logs[0];
}

// Frames are registered in parallel batches; the files, the log and the generator must be
// those of registering one frame after another. Frames 3 and 6 are flat: they pair nothing,
// draw nothing, and fall back to the identity, in the middle of a batch.
TEST_F(RegistrationCommandTest, BatchesGiveTheFilesLogAndDrawsOfOneFrameAtATime) {
  constexpr int kFrames = 7;
  for (int k = 1; k <= kFrames; ++k) {
    if (k == 3 || k == 6) {
      BmpFile::WriteImage(Format("./images/lr-%d.bmp", k), testing::MakeColor(160, 120, [](int, int, int) { return 128; }),
                          0, 0, 160, 120);
    } else {
      WriteBlobFrame(k, {0.3 * k - 1.0, 0.8 - 0.25 * k, (k - 4) * 0.2 * M_PI / 180});
    }
  }
  bench_.params.lrCount = kFrames;
  const ParamSet& p = bench_.params;

  // One frame after another with one generator.
  ColorGrayImage ref;
  BmpFile::ReadFrame("./images/lr-0.bmp", ref);
  const RegistrationOptions options = ToRegistrationOptions(p);
  const RegistrationReference reference = PrepareReference(ref.channels[1], options);
  LcgRandom random;
  std::vector<std::string> logs;
  std::vector<std::string> homographies;
  std::string lastRefinement;
  for (int k = 1; k <= kFrames; ++k) {
    ColorGrayImage frame;
    BmpFile::ReadFrame(Format("./images/lr-%d.bmp", k), frame);
    const FrameRegistration registered = RegisterFrame(reference, frame.channels[1], options, random);
    EXPECT_EQ(registered.sizes.Searchable(), k != 3 && k != 6) << "frame " << k;
    logs.push_back(FormatMaeLine(k, registered.e1, registered.e2));
    lastRefinement = registered.refinementLog;
    WriteHomographyFile("./expected.txt", registered.h);
    homographies.push_back(testing::ReadText("./expected.txt"));
  }

  size_t lastFrameSquares = 0;
  for (const int threads : {1, 2, 3}) {
    SCOPED_TRACE(std::to_string(threads) + " thread(s)");
    SetThreadCount(threads);
    Workbench bench;
    bench.params = p;
    testing::RecordingPort port;
    port.showsWork = threads != 2;  // unwatched, the frame viewer shows the last frame alone
    bench.Registration(port);
    EXPECT_EQ(port.Frame().pictures, port.showsWork ? kFrames : 1);
    if (threads == 1) lastFrameSquares = port.Frame().squares;
    EXPECT_EQ(port.Frame().squares, lastFrameSquares);
    std::vector<std::string> maeLines;
    for (const std::string& line : port.logs) {
      if (line.rfind("MAE(", 0) == 0) maeLines.push_back(line);
    }
    EXPECT_EQ(maeLines, logs);
    EXPECT_EQ(port.logs.size(), logs.size() + 2);  // and the two fallback warnings
    for (int k = 1; k <= kFrames; ++k) {
      EXPECT_EQ(testing::ReadText(Format("./result/hr_hom-%d.txt", k)), homographies[static_cast<size_t>(k - 1)])
          << "frame " << k;
    }
    EXPECT_EQ(testing::ReadText(kRefinementLogPath), lastRefinement);
    EXPECT_EQ(bench.random.State(), random.State());
  }
  SetThreadCount(0);
}

// Registration and reconstruction in one go: the reconstruction takes the frames the
// registration decoded and reads none again; the result is the same byte for byte.
TEST_F(RegistrationCommandTest, CarriedFramesAreNotReadAgainAndGiveTheSameResult) {
  for (int k = 2; k <= 3; ++k) WriteBlobFrame(k, {0.3 * k, -0.2 * k, 0.0});
  bench_.params.scale = 3.0;
  bench_.params.psfSigma = 0.4;
  bench_.Registration(port_);
  bench_.Reconstruction(port_);
  const std::string result = testing::ReadText("./result/hr.bmp");

  Workbench carrying;
  carrying.params = bench_.params;
  carrying.carryFrames = true;
  testing::RecordingPort port;
  carrying.Registration(port);
  for (int k = 0; k <= 3; ++k) fs::remove(Format("./images/lr-%d.bmp", k));
  fs::remove("./result/hr.bmp");
  carrying.Reconstruction(port);
  EXPECT_EQ(testing::ReadText("./result/hr.bmp"), result);
  // Carried frames serve one reconstruction only.
  testing::ExpectError([&] { carrying.Reconstruction(port); }, {"./images/lr-0.bmp"});
}

// The pixels of two images, equal.
void ExpectSamePixels(const ColorGrayImage& a, const ColorGrayImage& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) ASSERT_EQ(a.channels[c][y][x], b.channels[c][y][x]) << c << " " << x << " " << y;
    }
  }
}

TEST_F(RegistrationCommandTest, TheStagesOverFramesInMemoryGiveTheCommandsFilesAndWriteNothing) {
  for (int k = 2; k <= 3; ++k) WriteBlobFrame(k, {0.3 * k, -0.2 * k, 0.0});
  bench_.params.scale = 3.0;
  bench_.params.psfSigma = 0.4;
  bench_.params.methodValues["iterations"] = 5;
  auto images = std::make_shared<std::vector<ColorGrayImage>>(4);
  for (int k = 0; k <= 3; ++k) BmpFile::ReadFrame(Format("./images/lr-%d.bmp", k), (*images)[static_cast<size_t>(k)]);
  for (const char* method : {"classic", "enhanced"}) {
    SCOPED_TRACE(method);
    fs::remove_all("./result");
    Workbench files;
    files.params = bench_.params;
    files.params.method = method;
    files.Registration(port_);
    files.Reconstruction(port_);

    // The frames on disk are out of reach: the stages over frames in memory read none and
    // write none, and give the files' numbers.
    fs::rename("./images", "./images-away");
    fs::rename("./result", "./result-away");
    const Sequence sequence = Sequence::FromSource(std::make_shared<Sequence::Source>(std::string(), 0, images));
    Settings settings;
    FillSettings(files.params, settings);
    const Registration registration = lumet::Register(sequence, 0, {1, 2, 3}, settings);
    const Result result = lumet::Reconstruct(sequence, registration, 0, {}, settings);
    EXPECT_FALSE(fs::exists("./result"));
    fs::rename("./images-away", "./images");
    fs::rename("./result-away", "./result");

    for (int k = 1; k <= 3; ++k) {
      const Matrix h = ReadHomographyFile(Format("./result/hr_hom-%d.txt", k));
      const FileHomography held = registration.FileUnits(0, k);
      for (int i = 1; i <= 8; ++i) EXPECT_EQ(held[static_cast<size_t>(i - 1)], h.Flat1(i)) << k << " " << i;
      EXPECT_EQ(registration.Scores(0, k)->refinement, files.registrationScores[static_cast<size_t>(k - 1)].refinement);
    }
    ColorGrayImage written;
    BmpFile::ReadFrame("./result/hr.bmp", written);
    ExpectSamePixels(ToColorImage(result.estimate), written);
  }
  // Frames given in memory are named by their place; too few are refused.
  const Sequence two = Sequence::FromSource(std::make_shared<Sequence::Source>(
      std::string(), 0, std::make_shared<std::vector<ColorGrayImage>>(images->begin(), images->begin() + 2)));
  testing::ExpectError([&] { lumet::Register(two, 0, {1, 2}, Settings()); }, {"only frames 0 .. 1 (frames[2] is missing)"});
}

TEST(RegistrationLogTest, MaeLineHoldsBothScoresInSixDigits) {
  EXPECT_EQ(FormatMaeLine(3, 4.5, 4.25), "MAE(3) = 4.5->4.25\r\n\n");
  EXPECT_EQ(FormatMaeLine(12, 99999.9, 7.123456789), "MAE(12) = 99999.9->7.12346\r\n\n");
  EXPECT_EQ(FormatMaeLine(1, 9999999.9, 0.0), "MAE(1) = 1e+07->0\r\n\n");
}

TEST_F(RegistrationCommandTest, RefusesParametersTheLoopCannotServeBeforeAnyFrame) {
  // Against frame 0 (160 x 120), after it is shown; the values alone are refused before.
  ExpectRefusals(&Workbench::Registration, {
      {[](ParamSet& p) { p.roi = RoiRect{140, 40, 170, 80}; }, {"ROI 140,40,30,40: x + w = 170 exceeds the frame width 160"}},
      {[](ParamSet& p) { p.roi = RoiRect{60, 40, 100, 130}; }, {"y + h = 130 exceeds the frame height 120"}},
  }, true, {"./result"});
  // A derivative filter larger than the frame: 31 x 31 at the largest filter sigma, on a 30 x 40 frame.
  const ColorGrayImage small = testing::MakeColor(30, 40, [](int, int x, int y) { return (x * 7 + y * 3) % 256; });
  BmpFile::WriteImage("./images/lr-0.bmp", small, 0, 0, 30, 40);
  ExpectRefusals(&Workbench::Registration, {
      {[](ParamSet& p) { p.roi = RoiRect{1, 1, 20, 20}, p.filterSigma = 5.0; }, {"./images/lr-0.bmp", "31 x 31", "filter sigma 5"}},
  }, true, {"./result"});
  ExpectRefusals(&Workbench::Registration, {
      {[](ParamSet& p) { p.ransacFirst = 13, p.ransacSecond = 12; }, {"RANSAC 13/12: the sample size 13 exceeds the pool size 12"}},
      {[](ParamSet& p) { p.filterSigma = 0.0; }, {"filter sigma 0"}},
  }, false, {"./result"});
}

TEST_F(RegistrationCommandTest, MissingOrMismatchedFrameIsRefusedBeforeAnyFrameIsRegistered) {
  WriteBlobFrame(3, {1, 0, 0});
  for (const bool mismatched : {false, true}) {
    SCOPED_TRACE(mismatched ? "frame 2 of another size" : "frame 2 missing");
    fs::remove_all("./result");
    if (mismatched) {
      const ColorGrayImage smaller = testing::MakeColor(150, 120, [](int, int, int) { return 90; });
      BmpFile::WriteImage("./images/lr-2.bmp", smaller, 0, 0, 150, 120);
    }
    port_ = testing::RecordingPort();
    testing::ExpectError([&] { bench_.Registration(port_); },
                         {mismatched ? "./images/lr-2.bmp is 150 x 120 pixels" : "no ./images/lr-2.bmp"});
    EXPECT_TRUE(port_.logs.empty());
    EXPECT_FALSE(fs::exists("./result/hr_hom-1.txt"));
  }
}

}  // namespace
}  // namespace lumet
