// Messages that tell a user what to do next: warnings on stderr once per kind, the start
// index and a fitting ROI proposed, the demo's summaries, compare on every format.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/cli_runner.h"
#include "imageio/image_file.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class CliMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunCli("synth . --lr-count 4 --size 220x160 --scene texture", tmp_.Path()).exitCode, 0);
  }
  TempFolder tmp_;
};

TEST_F(CliMessages, WarningsGoToStderrOncePerKindNamingTheFrames) {
  // A matching block larger than the frame: no frame gets a search.
  const auto r = RunCli("register --lr-count 4 --sad-size 200", tmp_.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Count(r.out, "Warning"), 0u) << r.out;
  EXPECT_EQ(Count(r.out, "MAE("), 4u);  // the log lines stay
  EXPECT_EQ(Count(r.err, "Warning"), 1u) << r.err;
  EXPECT_NE(r.err.find("Warning: frames 1 … 4 (4 frames): no homography search, the refinement starts from the "
                       "identity: the 401 x 401 matching block (--sad-size 200) does not fit the 220 x 160 frame; "
                       "a --sad-size below 80 lets it fit"),
            std::string::npos)
      << r.err;
  // The enhanced method says where its refinement starts instead.
  const auto enhanced = RunCli("register --lr-count 2 --sad-size 200 --method enhanced", tmp_.Path());
  ASSERT_EQ(enhanced.exitCode, 0) << enhanced.err;
  EXPECT_NE(enhanced.err.find("frames 1, 2 (2 frames): no homography search, the direct refinement starts from the "
                              "better of the refined identity and a direct translation search"),
            std::string::npos)
      << enhanced.err;
  EXPECT_EQ(enhanced.err.find("starts from the identity"), std::string::npos) << enhanced.err;
}

TEST_F(CliMessages, FramesNumberedFromOneProposeTheStartIndex) {
  fs::create_directory(tmp_.Path() / "shots");
  for (int k = 0; k <= 4; ++k) {
    const std::string name = "shot_000" + std::to_string(k + 1) + ".bmp";
    fs::copy_file(tmp_.Path() / "images" / ("lr-" + std::to_string(k) + ".bmp"), tmp_.Path() / "shots" / name);
  }
  for (const char* count : {"3", "auto"}) {
    SCOPED_TRACE(count);
    ExpectError(RunCli(std::string("run --lr-pattern ./shots/shot_%04d.bmp --lr-count ") + count, tmp_.Path()),
                "./shots/shot_0001.bmp is there: --start-index 1 starts from it");
  }
  const auto fixed = RunCli("run --lr-pattern ./shots/shot_%04d.bmp --lr-count auto --start-index 1", tmp_.Path());
  EXPECT_EQ(fixed.exitCode, 0) << fixed.err;
  // Nothing numbered there: the general explanation, no proposal.
  const auto none = RunCli("run --lr-pattern ./shots/other_%d.bmp --start-index 0", tmp_.Path());
  ExpectError(none, "does not exist. The frames are the files");
  EXPECT_EQ(none.err.find("--start-index"), std::string::npos) << none.err;
}

TEST_F(CliMessages, RoiOutsideTheFrameProposesOneThatFits) {
  // The standard ROI (160, 100, 40, 40) leaves the 220 x 160 frame at the bottom: a centred
  // ROI of the standard size fits.
  ExpectError(RunCli("run --roi 200,100,40,40", tmp_.Path()),
              "ROI 200,100,40,40: x + w = 240 exceeds the frame width 220; --roi 90,60,40,40 fits (centred)");
}

TEST_F(CliMessages, CompareReadsEveryFrameFormat) {
  ColorGrayImage frame;
  ReadImageFile((tmp_.Path() / "images" / "lr-0.bmp").string(), frame);
  WriteImageFile((tmp_.Path() / "frame.png").string(), frame, ImageFormat::Png);
  const auto r = RunCli("compare images/lr-0.bmp frame.png", tmp_.Path());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "PSNR = inf\nSSIM = 1\n");
}

TEST(CliDemo, PrintsSummariesNotEveryLogLine) {
  TempFolder tmp;
  const auto r = RunCli("demo d", tmp.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Count(r.out, "MAE("), 0u) << r.out;
  EXPECT_NE(r.out.find("   frames 1..30, MAE after the refinement mean "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("   Threshold(27/30) = "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("frames are used in order up to the first whose error"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nReport\n"), std::string::npos);
}

}  // namespace
}  // namespace lumet
