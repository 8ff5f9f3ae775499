#include "workbench/frame_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "imageio/bmp_file.h"
#include "imageio/image_file.h"
#include "imageio/test_video.h"
#include "support/expect_error.h"
#include "support/test_images.h"
#include "support/temp_folder.h"
#include "util/atomic_file.h"
#include "util/parallel.h"
#include "util/text_format.h"
#include "workbench/output_files.h"
#include "workbench/recording_port.h"
#include "workbench/workbench.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

// A smooth textured frame moved by (k / 2, k / 3) pixels, different in every channel.
ColorGrayImage MovingFrame(int k, int width = 96, int height = 72) {
  return testing::MakeColor(width, height, [&](int c, int x, int y) {
    const double u = x - 0.5 * k, v = y - k / 3.0;
    const double s = 120 + 60 * std::sin(u * 0.31 + c) * std::cos(v * 0.23) + 40 * std::sin((u + 2 * v) * 0.11);
    return static_cast<int>(std::lround(std::fmin(250.0, std::fmax(5.0, s))));
  });
}

int FirstByteOf(const ColorGrayImage& image) { return image.channels[0].Row(0)[0]; }

class FrameSourceTest : public ::testing::Test {
 protected:
  FrameSourceTest() { fs::current_path(folder_.Path()); }
  ~FrameSourceTest() override { fs::current_path(saved_); }
  fs::path saved_ = fs::current_path();
  testing::TempFolder folder_;
};

TEST_F(FrameSourceTest, FrameKIsFileOrVideoFrameStartIndexPlusK) {
  std::vector<ColorGrayImage> frames;
  for (int k = 0; k < 6; ++k) frames.push_back(MovingFrame(k, 12, 8));
  fs::create_directories("./images");
  for (int k = 0; k < 6; ++k) BmpFile::WriteImage(Format("./images/f%03d.bmp", k), frames[k], 0, 0, 12, 8);
  testing::WriteLosslessVideo("./clip.mkv", frames);
  for (const std::string pattern : {"./images/f%03d.bmp", "./clip.mkv"}) {
    for (const size_t budget : {FrameSource::kDefaultBudget, size_t{0}}) {
      SCOPED_TRACE(pattern + (budget == 0 ? ", nothing kept" : ""));
      FrameSource source(pattern, 2, budget);
      EXPECT_EQ(source.IsVideo(), pattern == "./clip.mkv");
      EXPECT_EQ(source.Name(1), source.IsVideo() ? "./clip.mkv frame 3" : "./images/f003.bmp");
      EXPECT_EQ(source.CountFrames(100), 4);
      EXPECT_EQ(source.CountFrames(3), 3);
      source.CheckFrames(1, 4, 12, 8, [](int) { return std::string("short"); });
      // Out of order and again: a video is read from its start once more.
      for (const int k : {1, 3, 0, 2, 0}) {
        SCOPED_TRACE(k);
        ColorGrayImage image;
        source.Read(k, image);
        EXPECT_EQ(FirstByteOf(image), FirstByteOf(frames[static_cast<size_t>(k + 2)]));
        EXPECT_EQ(image.Width(), 12);
      }
      testing::ExpectError([&] { ColorGrayImage image; source.Read(4, image); }, {source.Name(4)});
    }
  }
}

// A name without a frame number is the one frame it names, however many are asked for.
TEST_F(FrameSourceTest, ANameWithoutAFrameNumberIsOneFrame) {
  BmpFile::WriteImage("./still.bmp", MovingFrame(0, 6, 4), 0, 0, 6, 4);
  FrameSource source("./still.bmp", 0);
  EXPECT_EQ(source.CountFrames(100000), 1);
  EXPECT_EQ(source.CountFrames(0), 0);
  EXPECT_EQ(FrameSource("./none.bmp", 0).CountFrames(10), 0);
}

TEST_F(FrameSourceTest, AShortageExplainsTheCountBeforeAnythingElse) {
  fs::create_directories("./images");
  const ColorGrayImage tiny = MovingFrame(0, 4, 3);
  for (int k = 0; k < 30; ++k) BmpFile::WriteImage(Format("./images/lr-%d.bmp", k), tiny, 0, 0, 4, 3);
  FrameSource source("./images/lr-%d.bmp", 0);
  testing::ExpectError(
      [&] { source.CheckFrames(1, 31, 4, 3, [&](int found) { return RegistrationShortage(source, 30, found); }); },
      {"--lr-count 30 registers frames 1 … 30 against frame 0, so 31 frames are needed; found 30 "
       "(./images/lr-0.bmp … ./images/lr-29.bmp; no ./images/lr-30.bmp): use --lr-count 29 or auto"});
  EXPECT_EQ(ReconstructionShortage(source, 40, 40, 30),
            "--lr-count 40 reconstructs from frames 0 … 39, so 40 frames are needed; found 30 (./images/lr-0.bmp … "
            "./images/lr-29.bmp; no ./images/lr-30.bmp): use --lr-count 30 or auto");

  ParamSet p = InitParams();
  EXPECT_EQ(AutoLrCount(p), 29);
  p.lrPattern = "./images/none-%d.bmp";
  testing::ExpectError([&] { AutoLrCount(p); }, {"found 0 frames", "./images/none-0.bmp"});

  // A frame that is there but unreadable, or of another size, is named itself.
  WriteFileAtomically("./images/lr-7.bmp", "BM not really");
  testing::ExpectError(
      [&] { FrameSource("./images/lr-%d.bmp", 0).CheckFrames(1, 20, 4, 3, [](int) { return std::string(); }); },
      {"./images/lr-7.bmp"});
  BmpFile::WriteImage("./images/lr-7.bmp", MovingFrame(0, 5, 3), 0, 0, 5, 3);
  testing::ExpectError(
      [&] { FrameSource("./images/lr-%d.bmp", 0).CheckFrames(1, 20, 4, 3, [](int) { return std::string(); }); },
      {"./images/lr-7.bmp is 5 x 3 pixels", "frame 0 (./images/lr-0.bmp) is 4 x 3"});

  // Frames are decoded several at a time; what is reported is still the first fault in
  // frame order: a missing frame before an unreadable one, a wrong size before both.
  for (const ParallelMode mode : {ParallelMode::ForceSerial, ParallelMode::ForceParallel}) {
    ScopedParallelMode scoped(mode);
    BmpFile::WriteImage("./images/lr-7.bmp", tiny, 0, 0, 4, 3);
    WriteFileAtomically("./images/lr-9.bmp", "BM not really");
    fs::remove("./images/lr-8.bmp");
    int found = -1;
    testing::ExpectError([&] {
      FrameSource("./images/lr-%d.bmp", 0).CheckFrames(1, 20, 4, 3, [&](int count) {
        found = count;
        return std::string("short");
      });
    }, {"short"});
    EXPECT_EQ(found, 8);
    BmpFile::WriteImage("./images/lr-6.bmp", MovingFrame(0, 5, 3), 0, 0, 5, 3);
    testing::ExpectError(
        [&] { FrameSource("./images/lr-%d.bmp", 0).CheckFrames(1, 20, 4, 3, [](int) { return std::string(); }); },
        {"./images/lr-6.bmp is 5 x 3 pixels"});
    BmpFile::WriteImage("./images/lr-6.bmp", tiny, 0, 0, 4, 3);
    BmpFile::WriteImage("./images/lr-8.bmp", tiny, 0, 0, 4, 3);
    testing::ExpectError(
        [&] { FrameSource("./images/lr-%d.bmp", 0).CheckFrames(1, 20, 4, 3, [](int) { return std::string(); }); },
        {"./images/lr-9.bmp"});
  }
}

TEST_F(FrameSourceTest, AVideoWithTooFewFramesIsRefusedNamingItAndTheCount) {
  std::vector<ColorGrayImage> frames;
  for (int k = 0; k < 5; ++k) frames.push_back(MovingFrame(k, 8, 6));
  testing::WriteLosslessVideo("./short.mkv", frames);
  FrameSource source("./short.mkv", 0);
  testing::ExpectError(
      [&] { source.CheckFrames(1, 9, 8, 6, [&](int found) { return RegistrationShortage(source, 8, found); }); },
      {"so 9 frames are needed; found 5 (./short.mkv frame 0 … frame 4; the video ends there): use --lr-count 4"});
}

TEST(OutputFiles, RunsOfNumberedNamesAreShortened) {
  EXPECT_EQ(SummarizeFiles({"./param.txt", "./r/hr_hom-1.txt", "./r/hr_hom-2.txt", "./r/hr_hom-3.txt", "./s.txt",
                            "./r/hr_hom-1.txt", "./r/hr.bmp"}),
            "./param.txt, ./r/hr_hom-1.txt … ./r/hr_hom-3.txt, ./s.txt, ./r/hr.bmp");
  EXPECT_EQ(SummarizeFiles({"a-9.txt", "a-10.txt", "b-2.txt"}), "a-9.txt, a-10.txt, b-2.txt");
  EXPECT_EQ(SummarizeFiles({"f01.png", "f02.png"}), "f01.png, f02.png");
  ParamSet p = InitParams();
  EXPECT_EQ(ResultPath(p, ImageFormat::Bmp), "./result/hr.bmp");
  EXPECT_EQ(ResultPath(p, ImageFormat::Tiff), "./result/hr.tif");
  EXPECT_EQ(FirstFramePath(ImageFormat::Png), "./result/first_lr.png");
}

// The whole pipeline on the same frames as BMP, PNG and a lossless video: the same bytes.
class FootagePipelineTest : public FrameSourceTest {
 protected:
  void SetUp() override {
    bench_.params.lrCount = 3;
    bench_.params.roi = RoiRect{30, 24, 54, 44};
    bench_.params.scale = 3.0;
    bench_.params.ransacFirst = 8;
    bench_.params.ransacSecond = 12;
    bench_.params.sadSize = 6;
    bench_.params.searchArea = 8;
    for (int k = 0; k <= 3; ++k) frames_.push_back(MovingFrame(k));
  }
  // Registration then reconstruction with the given pattern and output base.
  void Run(const std::string& pattern, const std::string& base, ImageFormat format = ImageFormat::Bmp,
           int startIndex = 0) {
    bench_.params.lrPattern = pattern;
    bench_.params.startIndex = startIndex;
    bench_.params.outputBase = base;
    DeriveNames(bench_.params);
    bench_.random = LcgRandom();
    bench_.resultFormat = format;
    bench_.filesWritten.clear();
    testing::RecordingPort port;
    bench_.Registration(port);
    bench_.Reconstruction(port);
  }
  Workbench bench_;
  std::vector<ColorGrayImage> frames_;
};

TEST_F(FootagePipelineTest, PngFramesAndALosslessVideoGiveTheBmpResultByteForByte) {
  fs::create_directories("./images");
  for (int k = 0; k <= 3; ++k) {
    BmpFile::WriteImage(Format("./images/lr-%d.bmp", k), frames_[k], 0, 0, 96, 72);
    BmpFile::WriteImage(Format("./images/one-%d.bmp", k + 1), frames_[k], 0, 0, 96, 72);
    WriteImageFile(Format("./images/frame_%04d.png", k), frames_[k], ImageFormat::Png);
  }
  testing::WriteLosslessVideo("./clip.mkv", frames_);
  Run("./images/lr-%d.bmp", "./bmp/hr");
  EXPECT_EQ(SummarizeFiles(bench_.filesWritten),
            "./bmp/hr_hom-1.txt … ./bmp/hr_hom-3.txt, ./steet_rms.txt, ./result/first_lr.bmp, ./bmp/hr.bmp");
  const std::string expected = ReadWholeFile("./bmp/hr.bmp");
  // Numbered from 1 with start index 1, as PNG, as a video (which starts at its frame 0).
  for (const auto& [pattern, base, start] : {std::tuple{"./images/one-%d.bmp", "./one/hr", 1},
                                             {"./images/frame_%04d.png", "./png/hr", 0},
                                             {"./clip.mkv", "./video/hr", 0}}) {
    SCOPED_TRACE(pattern);
    Run(pattern, base, ImageFormat::Bmp, start);
    EXPECT_EQ(ReadWholeFile(std::string(base) + ".bmp"), expected);
    for (int k = 1; k <= 3; ++k) {
      EXPECT_EQ(ReadWholeFile(Format("%s_hom-%d.txt", base, k)), ReadWholeFile(Format("./bmp/hr_hom-%d.txt", k)));
    }
  }

  // Other result formats hold the same pixels; TIFF holds the estimate at 16 bits.
  Run("./images/lr-%d.bmp", "./bmp/hr", ImageFormat::Png);
  ColorGrayImage bmp, png, tiff;
  BmpFile::ReadFrame("./bmp/hr.bmp", bmp);
  ReadImageFile("./bmp/hr.png", png);
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < bmp.Height(); ++y) {
      for (int x = 0; x < bmp.Width(); ++x) ASSERT_EQ(png.channels[c].Row(y)[x], bmp.channels[c].Row(y)[x]);
    }
  }
  EXPECT_TRUE(fs::exists("./result/first_lr.png"));
}

}  // namespace
}  // namespace lumet
