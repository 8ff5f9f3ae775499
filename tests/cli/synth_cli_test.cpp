#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "imageio/bmp_file.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

std::vector<fs::path> FilesUnder(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), dir));
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(CliSynth, WritesTheSequenceAndRepeatsItByteForByte) {
  TempFolder tmp;
  // Small and quick: the smallest frame size the generator accepts, three frames.
  const std::string args = " --lr-count 2 --size 220x160 --scene texture --seed 7 --noise 1.5 --scale 3";
  ASSERT_EQ(RunCli("synth one" + args, tmp.Path()).exitCode, 0);
  ASSERT_EQ(RunCli("synth two" + args, tmp.Path()).exitCode, 0);
  const std::vector<fs::path> expected = {"images/lr-0.bmp", "images/lr-1.bmp", "images/lr-2.bmp", "param.txt",
                                          "truth/hom-1.txt", "truth/hom-2.txt", "truth/hr.bmp"};
  EXPECT_EQ(FilesUnder(tmp.Path() / "one"), expected);
  for (const fs::path& f : expected) EXPECT_EQ(ReadText(tmp.Path() / "one" / f), ReadText(tmp.Path() / "two" / f)) << f;
  ColorGrayImage frame, truth;
  BmpFile::ReadFrame((tmp.Path() / "one/images/lr-2.bmp").string(), frame);
  BmpFile::ReadFrame((tmp.Path() / "one/truth/hr.bmp").string(), truth);
  EXPECT_EQ(std::vector<int>({frame.Width(), frame.Height(), truth.Width(), truth.Height()}),
            std::vector<int>({220, 160, 120, 120}));  // the truth is the 40 x 40 ROI at x3
  EXPECT_EQ(ReadText(tmp.Path() / "one/param.txt"),
            "./images/lr-%d.bmp\n./result/hr\n2\n160\n100\n200\n140\n3\n0.6\n0.7\n1\n0.003\n1.5\n20\n25\n32\n40");
  // Another seed moves the frames differently.
  ASSERT_EQ(RunCli("synth three --lr-count 1 --size 220x160 --seed 8", tmp.Path()).exitCode, 0);
  EXPECT_NE(ReadText(tmp.Path() / "one/truth/hom-1.txt"), ReadText(tmp.Path() / "three/truth/hom-1.txt"));
}

TEST(CliSynth, BadValuesAreRefusedNamingTheOptionAndWriteNothing) {
  TempFolder tmp;
  for (const std::string args : {"--scene stars", "--lr-count 0", "--lr-count 1000", "--size 219x160", "--size 320",
                                 "--size 320x", "--size 32Ox240", "--scale 5", "--psf-sigma -1", "--psf-sigma 0",
                                 "--noise -2", "--motion 11", "--seed -1", "--seed 12a", "--lr-count three"}) {
    SCOPED_TRACE(args);
    const auto r = RunCli("synth out " + args, tmp.Path());
    if (args == "--lr-count three") {
      EXPECT_EQ(r.exitCode, 2);  // not a number at all: a usage error
    } else {
      ExpectError(r, args.substr(0, args.find(' ')));
    }
    EXPECT_FALSE(fs::exists(tmp.Path() / "out"));
  }
}

void Save(const fs::path& path, int width, int height, int offset) {
  ColorGrayImage image;
  image.Create(width, height);
  for (int ch = 0; ch < 3; ++ch) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        image.channels[ch][y][x] = static_cast<uint8_t>((x * 9 + y * 5 + ch * 40) % 180 + 30 + offset);
      }
    }
  }
  BmpFile::WriteImage(path.string(), image, 0, 0, width, height);
}

TEST(CliCompare, PrintsPsnrAndSsimOrRefusesImagesItCannotCompare) {
  TempFolder tmp;
  Save(tmp.Path() / "a.bmp", 24, 20, 0);
  Save(tmp.Path() / "same.bmp", 24, 20, 0);
  Save(tmp.Path() / "brighter.bmp", 24, 20, 4);
  Save(tmp.Path() / "wide.bmp", 30, 20, 0);
  Save(tmp.Path() / "tiny.bmp", 8, 8, 0);
  EXPECT_EQ(RunCli("compare a.bmp same.bmp", tmp.Path()).out, "PSNR = inf\nSSIM = 1\n");
  const auto offset = RunCli("compare a.bmp brighter.bmp", tmp.Path());
  ASSERT_EQ(offset.exitCode, 0) << offset.err;
  ASSERT_EQ(offset.out.rfind("PSNR = ", 0), 0u) << offset.out;
  EXPECT_NEAR(std::atof(offset.out.c_str() + 7), 20.0 * std::log10(255.0 / 4.0), 1e-4);  // six significant digits
  const size_t ssimAt = offset.out.find("\nSSIM = ");
  ASSERT_NE(ssimAt, std::string::npos) << offset.out;
  const double ssim = std::atof(offset.out.c_str() + ssimAt + 8);
  EXPECT_TRUE(ssim > 0.9 && ssim < 1.0) << ssim;
  const auto sizes = RunCli("compare a.bmp wide.bmp", tmp.Path());
  ExpectError(sizes, "wide.bmp");
  EXPECT_NE(sizes.err.find("a.bmp"), std::string::npos) << sizes.err;
  EXPECT_EQ(sizes.out, "");
  ExpectError(RunCli("compare tiny.bmp tiny.bmp", tmp.Path()), "tiny.bmp");  // smaller than the SSIM window
}

}  // namespace
}  // namespace lumet
