#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "imageio/bmp_file.h"
#include "numeric/projection.h"
#include "numeric/random.h"
#include "util/atomic_file.h"
#include "workbench/recording_port.h"
#include "workbench/workbench.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

// A smooth random scene: Gaussian blobs of radius 3..8 px on a mid-grey ground, values in
// 1..254. Defined everywhere, so a moved frame can sample it anywhere.
class Scene {
 public:
  explicit Scene(int count) {
    LcgRandom random;
    random.Reset(2024);
    const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * random.Next() / LcgRandom::kMax; };
    for (int i = 0; i < count; ++i)
      blobs_.push_back({uniform(-15, 175), uniform(-15, 135), uniform(3, 8), uniform(-90, 90)});
  }
  double operator()(double x, double y) const {
    double v = 128.0;
    for (const auto& b : blobs_) {
      const double dx = x - b[0];
      const double dy = y - b[1];
      v += b[3] * std::exp(-(dx * dx + dy * dy) / (2 * b[2] * b[2]));
    }
    return std::fmin(254.0, std::fmax(1.0, v));
  }

 private:
  std::vector<std::array<double, 4>> blobs_;
};

// Frame k shows the scene moved by a rotation theta about (cx, cy) and a shift (tx, ty):
// the scene point p appears at x' = R (p - c) + c + t.
struct Motion {
  double tx = 0.0;
  double ty = 0.0;
  double theta = 0.0;
};
constexpr double kCx = 80.0;
constexpr double kCy = 60.0;

ProjectedPoint Move(const Motion& m, double x, double y) {
  const double c = std::cos(m.theta);
  const double s = std::sin(m.theta);
  return {c * (x - kCx) - s * (y - kCy) + kCx + m.tx, s * (x - kCx) + c * (y - kCy) + kCy + m.ty};
}

ColorGrayImage RenderFrame(const Scene& scene, const Motion& m, int width, int height) {
  ColorGrayImage image;
  image.Create(width, height);
  const double c = std::cos(m.theta);
  const double s = std::sin(m.theta);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // Inverse motion: the scene point that lands on pixel (x, y).
      const double dx = x - kCx - m.tx;
      const double dy = y - kCy - m.ty;
      const double v = scene(c * dx + s * dy + kCx, -s * dx + c * dy + kCy);
      const auto g = static_cast<uint8_t>(std::lround(v));
      image.channels[0].Row(y)[x] = static_cast<uint8_t>(255 - g);
      image.channels[1].Row(y)[x] = g;
      image.channels[2].Row(y)[x] = 128;
    }
  }
  return image;
}

Matrix ReadHomography(const std::string& path) {
  std::istringstream in(ReadWholeFile(path));
  Matrix h(3, 3, 0.0);
  for (int k = 1; k <= 8; ++k) in >> h.Flat1(k);
  h.At1(3, 3) = 1.0;
  return h;
}

class RegistrationCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("lumet_registration_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "images");
    fs::current_path(dir_);
    bench_.params.lrPattern = "./images/lr-%d.bmp";
    bench_.params.outputBase = "./result/hr";
    bench_.params.lrCount = 3;
    bench_.params.roi = RoiRect{60, 40, 100, 80};
    bench_.params.filterSigma = 1.5;
    bench_.params.ransacFirst = 8;
    bench_.params.ransacSecond = 12;
    bench_.params.sadSize = 12;
    bench_.params.searchArea = 10;
    AdoptParams(bench_.params);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }

  void WriteFrames(const std::vector<Motion>& motions, int width = 160, int height = 120) {
    for (size_t k = 0; k < motions.size(); ++k) {
      const ColorGrayImage frame = RenderFrame(scene_, motions[k], width, height);
      BmpFile::WriteImage("./images/lr-" + std::to_string(k) + ".bmp", frame, 0, 0, width, height);
    }
  }

  // Runs the command expecting an Error whose message contains every given text.
  void ExpectRefused(const std::vector<std::string>& texts) {
    try {
      bench_.Registration(port_);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      for (const std::string& text : texts) EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
  }

  Scene scene_{160};
  Workbench bench_;
  testing::RecordingPort port_;
  fs::path previous_;
  fs::path dir_;
};

TEST_F(RegistrationCommand, RegistersMovedFramesWithinAFifthOfAPixel) {
  const std::vector<Motion> motions = {
      {0, 0, 0}, {0.4, -0.3, 0.0}, {-1.25, 0.8, 0.5 * M_PI / 180}, {2.3, 1.6, -0.8 * M_PI / 180}};
  WriteFrames(motions);
  bench_.Registration(port_);

  ASSERT_EQ(port_.logs.size(), 3u);
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    const std::string& line = port_.logs[static_cast<size_t>(k - 1)];
    const std::string head = "MAE(" + std::to_string(k) + ") = ";
    ASSERT_EQ(line.substr(0, head.size()), head);
    ASSERT_EQ(line.substr(line.size() - 3), "\r\n\n");
    const double e1 = std::stod(line.substr(head.size()));
    const double e2 = std::stod(line.substr(line.find("->") + 2));
    EXPECT_LT(e1, 99999.0);  // the search ran and accepted a trial
    EXPECT_LE(e2, e1);
    EXPECT_LT(e2, 3.0);

    const Matrix h = ReadHomography("./result/hr_hom-" + std::to_string(k) + ".txt");
    const RoiRect& roi = bench_.params.roi;
    const double xs[3] = {static_cast<double>(roi.left), 0.5 * (roi.left + roi.right), static_cast<double>(roi.right)};
    const double ys[3] = {static_cast<double>(roi.top), 0.5 * (roi.top + roi.bottom), static_cast<double>(roi.bottom)};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        if ((i == 1) != (j == 1)) continue;  // the centre and the four corners
        const ProjectedPoint got = ProjectPoint(h, xs[i], ys[j]);
        const ProjectedPoint want = Move(motions[static_cast<size_t>(k)], xs[i], ys[j]);
        const double error = std::hypot(got.u - want.u, got.v - want.v);
        std::printf("frame %d at (%g, %g): %.3f px\n", k, xs[i], ys[j], error);
        EXPECT_LT(error, i == 1 ? 0.2 : 0.6);
      }
    }
  }
  // The refinement log holds the last frame's iterations.
  const std::string rms = ReadWholeFile("./steet_rms.txt");
  EXPECT_EQ(rms.substr(0, 2), "0 ");

  const auto& frameViewer = port_.Frame();
  EXPECT_EQ(frameViewer.createdTitle, "LR frames");
  EXPECT_EQ(frameViewer.createdRect.left, 300);
  EXPECT_EQ(frameViewer.createdRect.right, 300);
  EXPECT_EQ(frameViewer.createdRect.bottom, 300);
  EXPECT_EQ(frameViewer.fitWidth, 160);
  EXPECT_EQ(frameViewer.fitHeight, 120);
  EXPECT_EQ(frameViewer.titleHistory,
            (std::vector<std::string>{"./images/lr-1.bmp", "./images/lr-2.bmp", "./images/lr-3.bmp"}));
  EXPECT_EQ(frameViewer.pictureCount, 3);
  EXPECT_TRUE(frameViewer.roiAttached);
  EXPECT_EQ(frameViewer.roi, bench_.params.roi);
  EXPECT_FALSE(frameViewer.squares.empty());     // the last frame's points
  EXPECT_FALSE(port_.Ref().squares.empty());     // the reference points
  EXPECT_GE(port_.Ref().lines.size(), 3u * 8u);  // the matches of all frames accumulate
  EXPECT_EQ(port_.progress, (std::vector<std::string>{"Registration 1/3", "Registration 2/3", "Registration 3/3"}));
  for (const MarkLine& line : port_.Ref().lines) {
    EXPECT_LE(std::abs(line.x1 - line.x0), 4);
    EXPECT_LE(std::abs(line.y1 - line.y0), 4);
  }
}

TEST_F(RegistrationCommand, NoFramesMarksTheReferenceOnly) {
  WriteFrames({{0, 0, 0}});
  bench_.params.lrCount = 0;
  bench_.Registration(port_);
  EXPECT_TRUE(port_.logs.empty());
  EXPECT_FALSE(port_.Ref().squares.empty());
  EXPECT_TRUE(port_.Frame().exists);
  EXPECT_FALSE(fs::exists("./result"));
  EXPECT_FALSE(fs::exists("./steet_rms.txt"));
}

TEST_F(RegistrationCommand, TooFewPairsRefinesAndWritesFromTheIdentity) {
  WriteFrames({{0, 0, 0}, {0.5, 0.0, 0.0}});
  bench_.params.lrCount = 1;
  bench_.params.ransacFirst = 5;  // a sample of five is too small for a search
  bench_.params.ransacSecond = 5;
  bench_.Registration(port_);
  ASSERT_EQ(port_.logs.size(), 1u);
  EXPECT_EQ(port_.logs[0].substr(0, 18), "MAE(1) = 99999.9->");
  const Matrix h = ReadHomography("./result/hr_hom-1.txt");
  EXPECT_EQ(h.At1(1, 3), 0.0);  // the translation of the identity, kept by the refinement
  EXPECT_EQ(h.At1(2, 3), 0.0);
  const ProjectedPoint centre = ProjectPoint(h, 80, 60);
  EXPECT_NEAR(centre.u, 80.5, 0.25);  // the linear part alone moves the ROI towards the shift
  EXPECT_NEAR(centre.v, 60.0, 0.25);
}

TEST_F(RegistrationCommand, RefusesParametersTheLoopCannotServeBeforeAnyFrame) {
  WriteFrames({{0, 0, 0}, {0.5, 0.0, 0.0}});
  const ParamSet good = bench_.params;
  struct Case {
    const char* name;
    void (*change)(ParamSet&);
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {"zero-width ROI", [](ParamSet& p) { p.roi.right = p.roi.left; }, {"ROI (60, 40, 60, 80)", "width 0"}},
      {"negative-height ROI",
       [](ParamSet& p) { p.roi.bottom = p.roi.top - 5; },
       {"ROI (60, 40, 100, 35)", "height -5"}},
      {"ROI beyond the right edge",
       [](ParamSet& p) {
         p.roi = RoiRect{140, 40, 170, 80};
       },
       {"ROI (140, 40, 170, 80)", "160 x 120"}},
      {"ROI above the top",
       [](ParamSet& p) {
         p.roi = RoiRect{60, -1, 100, 80};
       },
       {"ROI (60, -1, 100, 80)", "inside"}},
      {"zero filter sigma", [](ParamSet& p) { p.filterSigma = 0.0; }, {"filter sigma 0"}},
      {"negative filter sigma", [](ParamSet& p) { p.filterSigma = -1.5; }, {"filter sigma -1.5"}},
      {"frame smaller than the kernel",
       [](ParamSet& p) { p.filterSigma = 20.0; },
       {"./images/lr-0.bmp", "121 x 121", "filter sigma 20"}},
      {"huge filter sigma", [](ParamSet& p) { p.filterSigma = 1e300; }, {"filter sigma 1e+300"}},
      {"sample larger than pool", [](ParamSet& p) { p.ransacFirst = 13; }, {"sample size 13", "pool size 12"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bench_.params = good;
    c.change(bench_.params);
    port_ = testing::RecordingPort{};
    ExpectRefused(c.texts);
    EXPECT_TRUE(port_.logs.empty());
    EXPECT_FALSE(port_.Frame().exists);
    EXPECT_FALSE(fs::exists("./result"));
  }
  {
    SCOPED_TRACE("a pool above 30 always falls back to the pairs found, so it is accepted");
    bench_.params = good;
    bench_.params.lrCount = 1;
    bench_.params.ransacFirst = 40;
    bench_.params.ransacSecond = 35;
    port_ = testing::RecordingPort{};
    bench_.Registration(port_);
    EXPECT_EQ(port_.logs.size(), 1u);
  }
}

TEST_F(RegistrationCommand, UnreadableReferenceIsAnError) {
  ExpectRefused({"./images/lr-0.bmp"});
  EXPECT_TRUE(port_.logs.empty());
}

TEST_F(RegistrationCommand, MissingFrameStopsKeepingTheFramesDone) {
  WriteFrames({{0, 0, 0}, {0.5, 0.0, 0.0}});  // frames 2 and 3 are missing
  ExpectRefused({"./images/lr-2.bmp"});
  ASSERT_EQ(port_.logs.size(), 1u);
  EXPECT_TRUE(fs::exists("./result/hr_hom-1.txt"));
  EXPECT_FALSE(fs::exists("./result/hr_hom-2.txt"));
  EXPECT_FALSE(fs::exists("./result/hr_hom-3.txt"));
}

TEST_F(RegistrationCommand, FrameOfAnotherSizeIsAnError) {
  WriteFrames({{0, 0, 0}});
  const ColorGrayImage small = RenderFrame(scene_, {0.5, 0, 0}, 150, 120);
  BmpFile::WriteImage("./images/lr-1.bmp", small, 0, 0, 150, 120);
  ExpectRefused({"./images/lr-1.bmp", "150 x 120", "160 x 120"});
  EXPECT_TRUE(port_.logs.empty());
  EXPECT_FALSE(fs::exists("./result/hr_hom-1.txt"));
}

TEST_F(RegistrationCommand, CancelBetweenFramesKeepsTheFramesDone) {
  WriteFrames({{0, 0, 0}, {0.5, 0.0, 0.0}, {0.2, 0.3, 0.0}, {0.1, 0.1, 0.0}});
  port_.cancelAfter = 1;  // the second question is answered yes
  EXPECT_THROW(bench_.Registration(port_), Cancelled);
  EXPECT_EQ(port_.logs.size(), 1u);
  EXPECT_TRUE(fs::exists("./result/hr_hom-1.txt"));
  EXPECT_FALSE(fs::exists("./result/hr_hom-2.txt"));
}

}  // namespace
}  // namespace lumet
