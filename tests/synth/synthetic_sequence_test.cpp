#include "synth/synthetic_sequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>

#include "imageio/bmp_file.h"
#include "numeric/convolve.h"
#include "numeric/projection.h"
#include "reconstruction/homography_reader.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/psf_kernel.h"
#include "registration/homography_refinement.h"
#include "synth/synth_test_support.h"
#include "synth/synthetic_scene.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/text_format.h"

namespace lumet {
namespace {

using testing::ReadBytes;
using testing::SamePixels;
using testing::SynthTempFolder;

// The smallest frames the generator accepts, and few of them, keep these tests fast.
SynthOptions SmallOptions() {
  SynthOptions o;
  o.lrCount = 2;
  o.width = 220;
  o.height = 160;
  return o;
}

TEST(SyntheticSequence, BlurringAndDecimatingTheTruthGivesFrameZero) {
  // The truth, blurred by the reconstruction's own PSF on the HR grid and read at the HR
  // pixels that sit on LR pixel centres, must reproduce frame 0 over the ROI: this holds
  // the truth's grid convention (origin, scale) and the frames' blur together.
  for (const auto& [scene, scale] : {std::pair{"chart", 3}, std::pair{"chart", 4}, std::pair{"texture", 4}}) {
    {
      SCOPED_TRACE(std::string(scene) + " x" + std::to_string(scale));
      SynthOptions o = SmallOptions();
      o.scene = scene;
      o.scale = scale;
      o.lrCount = 1;
      o.noise = 0.0;
      const SyntheticSequence seq = MakeSyntheticSequence(o);
      const RoiRect roi = SynthRoi();
      const HrGeometry grid = MakeHrGeometry(roi, scale);
      ASSERT_EQ(seq.truth.Width(), grid.width);
      ASSERT_EQ(seq.truth.Height(), grid.height);

      int n = 0;
      const FloatMatrix kernel = MakePsfKernel(o.psfSigma, scale, n);
      const int marginLr = (n / 2 + scale - 1) / scale;  // LR pixels whose blur stays inside the truth
      double sum = 0.0;
      double worst = 0.0;
      int count = 0;
      for (int ch = 0; ch < 3; ++ch) {
        DoubleImage truth;
        truth.Create(grid.width, grid.height);
        for (int r = 0; r < grid.height; ++r) {
          for (int c = 0; c < grid.width; ++c) truth.At(c, r) = seq.truth.channels[ch][r][c];
        }
        DoubleImage blurred;
        ConvolveMirror(truth, blurred, kernel, n);
        for (int y = roi.top + marginLr; y < roi.bottom - marginLr; ++y) {
          for (int x = roi.left + marginLr; x < roi.right - marginLr; ++x) {
            const double expected = blurred.At((x - roi.left) * scale, (y - roi.top) * scale);
            const double d = std::fabs(expected - seq.frames[0].channels[ch][y][x]);
            sum += d;
            worst = std::max(worst, d);
            ++count;
          }
        }
      }
      EXPECT_LT(sum / count, 1.0);
      EXPECT_LT(worst, 6.0);
    }
  }
}

// Mean absolute green difference between frame 0 over the ROI and frame k read (bilinear)
// where the map puts each ROI pixel.
double MeanMismatch(const SyntheticSequence& seq, int k, const Matrix& map) {
  const RoiRect roi = SynthRoi();
  const GrayImage& ref = seq.frames[0].channels[1];
  const GrayImage& frame = seq.frames[static_cast<size_t>(k)].channels[1];
  double sum = 0.0;
  int count = 0;
  for (int y = roi.top; y < roi.bottom; ++y) {
    for (int x = roi.left; x < roi.right; ++x) {
      const ProjectedPoint p = ProjectPoint(map, x, y);
      if (p.u < 0 || p.v < 0 || p.u > frame.Width() - 1 || p.v > frame.Height() - 1) return 1e9;
      sum += std::fabs(frame.Sample(p.u, p.v) - ref[y][x]);
      ++count;
    }
  }
  return sum / count;
}

TEST(SyntheticSequence, TrueHomographiesMapReferencePositionsToFramePositions) {
  // H_k must take a reference position to where frame k shows the same scene point; the
  // opposite direction (its inverse), or no motion at all, must fit far worse.
  for (const char* scene : {"chart", "texture"}) {
    SCOPED_TRACE(scene);
    SynthOptions o = SmallOptions();
    o.scene = scene;
    o.lrCount = 3;
    o.noise = 0.0;
    o.psfSigma = 1.0;  // smooth enough for bilinear reading between pixels
    const SyntheticSequence seq = MakeSyntheticSequence(o);
    for (int k = 1; k <= o.lrCount; ++k) {
      SCOPED_TRACE("frame " + std::to_string(k));
      const Matrix& h = seq.homographies[static_cast<size_t>(k)];
      const double right = MeanMismatch(seq, k, h);
      const double inverse = MeanMismatch(seq, k, Inverse(h));
      const double none = MeanMismatch(seq, k, IdentityHomography());
      EXPECT_LT(right, 3.0);
      EXPECT_LT(right * 4.0, inverse);
      EXPECT_LT(right * 4.0, none);
      // And it is the best fit nearby: the positions are not off by a fraction of a pixel.
      for (const auto& [dx, dy] :
           {std::pair{0.3, 0.0}, std::pair{-0.3, 0.0}, std::pair{0.0, 0.3}, std::pair{0.0, -0.3}}) {
        Matrix moved = h;
        moved.At1(1, 3) += dx / HomographyUnit;
        moved.At1(2, 3) += dy / HomographyUnit;
        EXPECT_LT(right, MeanMismatch(seq, k, moved)) << dx << "," << dy;
      }
    }
  }
}

TEST(SyntheticSequence, MotionStaysWithinItsBounds) {
  SynthOptions o = SmallOptions();
  o.lrCount = 40;
  o.motion = 2.5;
  const std::vector<Matrix> homographies = SyntheticHomographies(o);
  ASSERT_EQ(homographies.size(), 41u);
  // Frame 0 is the unwarped reference.
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(homographies[0].Flat1(k), IdentityHomography().Flat1(k));

  const double cx = 0.5 * (o.width - 1);
  const double cy = 0.5 * (o.height - 1);
  double largestShift = 0.0;
  for (int k = 1; k <= o.lrCount; ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    const Matrix& h = homographies[static_cast<size_t>(k)];
    EXPECT_EQ(h.At1(3, 3), 1.0);
    // The frame centre moves by the translation alone.
    const ProjectedPoint c = ProjectPoint(h, cx, cy);
    EXPECT_LE(std::fabs(c.u - cx), o.motion + 1e-3);
    EXPECT_LE(std::fabs(c.v - cy), o.motion + 1e-3);
    largestShift = std::max({largestShift, std::fabs(c.u - cx), std::fabs(c.v - cy)});
    // Rotation within 1 degree, scale within 1 %, perspective slight.
    const double angle = std::atan2(h.At1(2, 1), h.At1(1, 1)) * 180.0 / 3.141592653589793;
    EXPECT_LE(std::fabs(angle), 1.0 + 0.05);
    const double zoom = std::sqrt(h.At1(1, 1) * h.At1(2, 2) - h.At1(1, 2) * h.At1(2, 1));
    EXPECT_NEAR(zoom, 1.0, 0.012);
    EXPECT_LT(std::fabs(h.At1(3, 1)) * o.width, 0.01 * HomographyUnit);
    EXPECT_LT(std::fabs(h.At1(3, 2)) * o.height, 0.01 * HomographyUnit);
  }
  // Forty draws use most of the range.
  EXPECT_GT(largestShift, 0.8 * o.motion);
}

TEST(SyntheticSequence, SameOptionsSameSequenceOtherSeedOtherSequence) {
  for (const char* scene : {"chart", "texture"}) {
    SCOPED_TRACE(scene);
    SynthOptions o = SmallOptions();
    o.scene = scene;
    o.lrCount = 1;
    const SyntheticSequence a = MakeSyntheticSequence(o);
    const SyntheticSequence b = MakeSyntheticSequence(o);
    for (size_t k = 0; k < a.frames.size(); ++k) EXPECT_TRUE(SamePixels(a.frames[k], b.frames[k])) << k;
    EXPECT_TRUE(SamePixels(a.truth, b.truth));
    for (size_t k = 0; k < a.homographies.size(); ++k) {
      for (int i = 1; i <= 9; ++i) EXPECT_EQ(a.homographies[k].Flat1(i), b.homographies[k].Flat1(i));
    }
  }
  SynthOptions o = SmallOptions();
  o.lrCount = 1;
  const SyntheticSequence a = MakeSyntheticSequence(o);
  o.seed = 2;
  const SyntheticSequence c = MakeSyntheticSequence(o);
  EXPECT_FALSE(SamePixels(a.frames[0], c.frames[0])) << "the noise follows the seed";
  EXPECT_NE(a.homographies[1].At1(1, 3), c.homographies[1].At1(1, 3)) << "the motion follows the seed";
  EXPECT_TRUE(SamePixels(a.truth, c.truth)) << "the chart does not";
}

TEST(SyntheticScene, TheTextureFollowsTheSeedAndTheChartIsFixed) {
  const auto texture1 = MakeScene("texture", 1);
  const auto texture1Again = MakeScene("texture", 1);
  const auto texture2 = MakeScene("texture", 2);
  const auto chart1 = MakeScene("chart", 1);
  const auto chart2 = MakeScene("chart", 2);
  int differ = 0;
  for (int i = 0; i < 100; ++i) {
    const double x = -50.0 + 7.3 * i;
    const double y = 200.0 - 3.1 * i;
    const Rgb a = texture1->At(x, y);
    const Rgb b = texture1Again->At(x, y);
    const Rgb c = texture2->At(x, y);
    EXPECT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b);
    if (a.r != c.r || a.g != c.g || a.b != c.b) ++differ;
    const Rgb p = chart1->At(x, y);
    const Rgb q = chart2->At(x, y);
    EXPECT_TRUE(p.r == q.r && p.g == q.g && p.b == q.b);
    for (double v : {a.r, a.g, a.b, p.r, p.g, p.b}) {
      EXPECT_GE(v, 0.0);
      EXPECT_LE(v, 255.0);
    }
  }
  EXPECT_GT(differ, 90);
  EXPECT_THROW(MakeScene("stars", 1), Error);
}

TEST(SyntheticSequence, NoiseHasTheRequestedSpread) {
  SynthOptions o = SmallOptions();
  o.lrCount = 1;
  o.noise = 0.0;
  const SyntheticSequence clean = MakeSyntheticSequence(o);
  o.noise = 5.0;
  const SyntheticSequence noisy = MakeSyntheticSequence(o);
  double sum = 0.0;
  double sumSquares = 0.0;
  int count = 0;
  for (int ch = 0; ch < 3; ++ch) {
    for (int y = 0; y < o.height; ++y) {
      for (int x = 0; x < o.width; ++x) {
        const double d = static_cast<double>(noisy.frames[1].channels[ch][y][x]) - clean.frames[1].channels[ch][y][x];
        sum += d;
        sumSquares += d * d;
        ++count;
      }
    }
  }
  const double mean = sum / count;
  const double sigma = std::sqrt(sumSquares / count - mean * mean);
  EXPECT_NEAR(mean, 0.0, 0.1);
  // Quantising both frames adds about 1/6 to the variance.
  EXPECT_NEAR(sigma, std::sqrt(25.0 + 1.0 / 6.0), 0.1);
}

TEST(SyntheticSequence, WritesTheFilesOfTheSequence) {
  SynthTempFolder tmp;
  const std::string dir = (tmp.Path() / "seq").string();
  SynthOptions o = SmallOptions();
  o.scale = 3;
  o.psfSigma = 0.75;
  WriteSyntheticSequence(dir, o);
  const SyntheticSequence seq = MakeSyntheticSequence(o);

  for (int k = 0; k <= o.lrCount; ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    ColorGrayImage frame;
    BmpFile::ReadFrame(dir + "/images/lr-" + std::to_string(k) + ".bmp", frame);
    EXPECT_TRUE(SamePixels(frame, seq.frames[static_cast<size_t>(k)]));
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/images/lr-" + std::to_string(o.lrCount + 1) + ".bmp"));
  ColorGrayImage truth;
  BmpFile::ReadFrame(dir + "/truth/hr.bmp", truth);
  EXPECT_TRUE(SamePixels(truth, seq.truth));
  EXPECT_EQ(truth.Width(), 120);
  EXPECT_EQ(truth.Height(), 120);

  EXPECT_FALSE(std::filesystem::exists(dir + "/truth/hom-0.txt"));
  for (int k = 1; k <= o.lrCount; ++k) {
    SCOPED_TRACE("homography " + std::to_string(k));
    const std::string path = dir + "/truth/hom-" + std::to_string(k) + ".txt";
    const Matrix& h = seq.homographies[static_cast<size_t>(k)];
    // Exactly the file format registration writes, and read back without loss.
    EXPECT_EQ(ReadBytes(path), FormatHomographyFile(h));
    const Matrix back = ReadHomographyFile(path);
    for (int i = 1; i <= 9; ++i) EXPECT_EQ(back.Flat1(i), h.Flat1(i)) << i;
  }

  ParamSet expected = InitParams();
  expected.lrCount = o.lrCount;
  expected.scale = 3.0;
  expected.psfSigma = 0.75;
  EXPECT_EQ(ReadBytes(dir + "/param.txt"), FormatParamFile(expected));
}

TEST(SyntheticSequence, WritingTwiceGivesTheSameBytes) {
  SynthTempFolder tmp;
  const SynthOptions o = SmallOptions();
  const std::string first = (tmp.Path() / "a").string();
  const std::string second = (tmp.Path() / "b").string();
  WriteSyntheticSequence(first, o);
  WriteSyntheticSequence(second, o);
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(first)) {
    if (!entry.is_regular_file()) continue;
    const auto relative = std::filesystem::relative(entry.path(), first);
    SCOPED_TRACE(relative.string());
    EXPECT_EQ(ReadBytes(entry.path()), ReadBytes(std::filesystem::path(second) / relative));
    ++files;
  }
  EXPECT_EQ(files, 3 + 1 + 2 + 1);  // frames 0..2, truth image, 2 homographies, param.txt
}

TEST(SyntheticSequence, RefusedOptionsWriteNothing) {
  SynthTempFolder tmp;
  const std::string dir = (tmp.Path() / "seq").string();
  SynthOptions o = SmallOptions();
  o.scale = 2;
  EXPECT_THROW(WriteSyntheticSequence(dir, o), Error);
  EXPECT_FALSE(std::filesystem::exists(dir));

  // A file where the folder should go is refused, and left alone.
  const std::string file = (tmp.Path() / "taken").string();
  WriteFileAtomically(file, "x");
  EXPECT_THROW(WriteSyntheticSequence(file, SmallOptions()), Error);
  EXPECT_EQ(ReadBytes(file), "x");
}

}  // namespace
}  // namespace lumet
