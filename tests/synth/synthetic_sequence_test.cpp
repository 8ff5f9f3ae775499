#include "synth/synthetic_sequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>

#include "evaluation/bicubic_baseline.h"
#include "evaluation/quality.h"
#include "imageio/bmp_file.h"
#include "imageio/homography_file.h"
#include "numeric/convolve.h"
#include "numeric/projection.h"
#include "params/param_set.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/psf_kernel.h"
#include "support/expect_error.h"
#include "support/temp_folder.h"
#include "util/error.h"
#include "workbench/recording_port.h"
#include "workbench/workbench.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;

// The smallest frames the generator accepts keep these tests fast.
SynthOptions Small(const char* scene, int lrCount, double noise) {
  SynthOptions o;
  o.scene = scene;
  o.lrCount = lrCount;
  o.width = 220;
  o.height = 160;
  o.noise = noise;
  return o;
}

TEST(SyntheticSequence, BlurringAndDecimatingTheTruthGivesFrameZero) {
  // The truth blurred by the reconstruction's own PSF and read at the HR pixels on LR pixel
  // centres must give frame 0: this holds the truth's grid (origin, scale) and the blur together.
  for (const auto& [scene, scale] : {std::pair{"chart", 3}, {"chart", 4}, {"texture", 4}, {"texture", 2}}) {
    SCOPED_TRACE(std::string(scene) + " x" + std::to_string(scale));
    SynthOptions o = Small(scene, 1, 0.0);
    o.scale = scale;
    const SyntheticSequence seq = MakeSyntheticSequence(o);
    const RoiRect roi = SynthRoi();
    const HrGeometry grid = MakeHrGeometry(roi, scale);
    ASSERT_EQ(seq.truth.Width(), grid.width);
    ASSERT_EQ(seq.truth.Height(), grid.height);
    int n = 0;
    const FloatMatrix kernel = MakePsfKernel(o.psfSigma, scale, n);
    const int margin = (n / 2 + scale - 1) / scale;  // LR pixels whose blur stays inside the truth
    double sum = 0.0, worst = 0.0;
    int count = 0;
    for (int ch = 0; ch < 3; ++ch) {
      DoubleImage truth, blurred;
      truth.Create(grid.width, grid.height);
      for (int r = 0; r < grid.height; ++r) {
        for (int c = 0; c < grid.width; ++c) truth.At(c, r) = seq.truth.channels[ch][r][c];
      }
      ConvolveMirror(truth, blurred, kernel, n);
      for (int y = roi.top + margin; y < roi.bottom - margin; ++y) {
        for (int x = roi.left + margin; x < roi.right - margin; ++x, ++count) {
          const double d =
              std::fabs(blurred.At((x - roi.left) * scale, (y - roi.top) * scale) - seq.frames[0].channels[ch][y][x]);
          sum += d;
          worst = std::max(worst, d);
        }
      }
    }
    EXPECT_LT(sum / count, 1.0);
    EXPECT_LT(worst, 6.0);
  }
}

TEST(SyntheticSequence, TrueHomographiesMapReferencePositionsToFramePositions) {
  // H_k takes a reference position to where frame k shows the same scene point: its inverse,
  // no motion, or a position 0.3 px off all fit worse (green, bilinear, over the ROI).
  for (const char* scene : {"chart", "texture"}) {
    SynthOptions o = Small(scene, 3, 0.0);
    o.psfSigma = 1.0;  // smooth enough for bilinear reading between pixels
    const SyntheticSequence seq = MakeSyntheticSequence(o);
    const auto mismatch = [&](int k, const Matrix& map) {
      const RoiRect roi = SynthRoi();
      const GrayImage& frame = seq.frames[static_cast<size_t>(k)].channels[1];
      double sum = 0.0;
      for (int y = roi.top; y < roi.bottom; ++y) {
        for (int x = roi.left; x < roi.right; ++x) {
          const ProjectedPoint p = ProjectPoint(map, x, y);
          if (p.u < 0 || p.v < 0 || p.u > frame.Width() - 1 || p.v > frame.Height() - 1) return 1e9;
          sum += std::fabs(frame.Sample(p.u, p.v) - seq.frames[0].channels[1][y][x]);
        }
      }
      return sum / (roi.Width() * roi.Height());
    };
    for (int k = 1; k <= o.lrCount; ++k) {
      SCOPED_TRACE(std::string(scene) + " frame " + std::to_string(k));
      const Matrix& h = seq.homographies[static_cast<size_t>(k)];
      const double right = mismatch(k, h);
      EXPECT_LT(right, 3.0);
      EXPECT_LT(right * 4.0, mismatch(k, Inverse(h)));
      EXPECT_LT(right * 4.0, mismatch(k, IdentityHomography()));
      for (const auto& [dx, dy] : {std::pair{0.3, 0.0}, {-0.3, 0.0}, {0.0, 0.3}, {0.0, -0.3}}) {
        Matrix moved = h;
        moved.At1(1, 3) += dx / HomographyUnit;
        moved.At1(2, 3) += dy / HomographyUnit;
        EXPECT_LT(right, mismatch(k, moved)) << dx << "," << dy;
      }
    }
  }
}

TEST(SyntheticSequence, SameOptionsSameBytesOtherSeedOtherSequence) {
  const testing::TempFolder tmp;
  for (const char* scene : {"chart", "texture"}) {
    SCOPED_TRACE(scene);
    SynthOptions o = Small(scene, 2, 2.0);
    const fs::path a = tmp.Path() / scene / "a";
    const fs::path b = tmp.Path() / scene / "b";
    const fs::path c = tmp.Path() / scene / "c";
    WriteSyntheticSequence(a.string(), o);
    WriteSyntheticSequence(b.string(), o);
    o.seed = 2;
    WriteSyntheticSequence(c.string(), o);
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(a)) {
      if (!entry.is_regular_file()) continue;
      const fs::path relative = fs::relative(entry.path(), a);
      EXPECT_EQ(ReadText(entry.path()), ReadText(b / relative)) << relative;
      // Noise and motion follow the seed, and so does the texture; the chart does not.
      const bool followsSeed = relative != "param.txt" && (relative != "truth/hr.bmp" || o.scene == "texture");
      EXPECT_EQ(ReadText(entry.path()) != ReadText(c / relative), followsSeed) << relative;
      ++files;
    }
    EXPECT_EQ(files, 3 + 1 + 2 + 1);  // frames 0..2, the truth, 2 homographies, param.txt
    // Exactly the file format registration writes.
    EXPECT_EQ(ReadText(SynthTruthHomographyPath(a.string(), 2)),
              FormatHomographyFile(SyntheticHomographies(Small(scene, 2, 2.0))[2]));
  }
}

TEST(SyntheticSequence, RefusedOptionsNameTheOptionAndWriteNothing) {
  const testing::TempFolder tmp;
  const std::string dir = tmp.File("seq");
  const double nan = std::nan("");
  const std::vector<std::pair<std::string, std::function<void(SynthOptions&)>>> cases = {
      // (The command-line tests refuse the values a user types most often.)
      {"--size", [](SynthOptions& o) { o.height = 159; }},  // the ROI ends at y 140, plus a margin of 20
      {"--size", [](SynthOptions& o) { o.width = kSynthMaxDimension + 1; }},
      {"--scale", [](SynthOptions& o) { o.scale = 5; }},
      {"--psf-sigma", [nan](SynthOptions& o) { o.psfSigma = nan; }},
      {"--noise", [nan](SynthOptions& o) { o.noise = nan; }},
      {"--motion", [](SynthOptions& o) { o.motion = -0.5; }},
  };
  for (const auto& [option, change] : cases) {
    SCOPED_TRACE(option);
    SynthOptions o;
    change(o);
    testing::ExpectError([&] { WriteSyntheticSequence(dir, o); }, {option});
    EXPECT_FALSE(fs::exists(dir));
  }
  SynthOptions limits = Small("texture", kSynthMaxFrames, 0.0);
  limits.scale = 3;
  limits.motion = 10.0;
  EXPECT_NO_THROW(limits.Check());
  limits.motion = 0.0;
  EXPECT_NO_THROW(limits.Check());
  // A file where the folder should go is refused, and left alone.
  testing::WriteText(dir, "x");
  EXPECT_THROW(WriteSyntheticSequence(dir, Small("chart", 1, 0.0)), Error);
  EXPECT_EQ(ReadText(dir), "x");
}

ColorGrayImage Read(const std::string& path) {
  ColorGrayImage image;
  BmpFile::ReadFrame(path, image);
  return image;
}

TEST(SynthReconstruction, TrueHomographiesReconstructClearlyAboveTheFirstFrame) {
  // Noise-free frames and exact homographies: the sub-pixel information of the other frames
  // must show against the truth, which holds only if the truth's grid, the homography
  // direction and the PSF agree with the reconstruction's conventions.
  const testing::TempFolder tmp;
  SynthOptions o = Small("chart", 8, 0.0);
  o.scale = 3;
  WriteSyntheticSequence(tmp.Path().string(), o);

  struct InFolder {  // the commands use names relative to the working folder
    fs::path previous = fs::current_path();
    ~InFolder() {
      std::error_code ignored;
      fs::current_path(previous, ignored);
    }
  } inFolder;
  fs::current_path(tmp.Path());
  ParamSet params = InitParams();
  ASSERT_EQ(LoadParams("param.txt", params), 17);
  AdoptParams(params);
  fs::create_directories("result");
  for (int k = 1; k < params.lrCount; ++k) {
    fs::copy_file(SynthTruthHomographyPath(".", k), FormatFrameName(params.homographyPattern, k));
  }
  Workbench bench;
  bench.params = params;
  testing::RecordingPort port;
  bench.Reconstruction(port);

  const ColorGrayImage truth = Read(SynthTruthImagePath("."));
  const ColorGrayImage result = Read(params.resultFile);
  const ColorGrayImage bicubic = BicubicEnlarge(Read(params.referenceFile), params.roi, params.scale);
  EXPECT_GT(Psnr(result, truth), Psnr(Read(kFirstFramePath), truth) + 2.0);
  EXPECT_GT(Psnr(result, truth), Psnr(bicubic, truth) + 1.0);
  EXPECT_GT(Ssim(result, truth), Ssim(bicubic, truth) + 0.05);
}

}  // namespace
}  // namespace lumet
