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

using testing::ReadText;
using testing::RunCli;
using testing::TempFolder;

namespace fs = std::filesystem;

// Small and quick: the smallest frame size the generator accepts, three frames.
const char* const kSmall = "--lr-count 2 --size 220x160";

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
  const std::string args = std::string(kSmall) + " --scene texture --seed 7 --noise 1.5 --scale 3";
  const auto first = RunCli("synth one " + args, tmp.Path());
  ASSERT_EQ(first.exitCode, 0) << first.err;
  const auto second = RunCli("synth two " + args, tmp.Path());
  ASSERT_EQ(second.exitCode, 0) << second.err;

  const std::vector<fs::path> expected = {"images/lr-0.bmp", "images/lr-1.bmp", "images/lr-2.bmp", "param.txt",
                                          "truth/hom-1.txt", "truth/hom-2.txt", "truth/hr.bmp"};
  EXPECT_EQ(FilesUnder(tmp.Path() / "one"), expected);
  for (const fs::path& file : expected) {
    SCOPED_TRACE(file.string());
    EXPECT_EQ(ReadText(tmp.Path() / "one" / file), ReadText(tmp.Path() / "two" / file));
  }
  ColorGrayImage frame;
  BmpFile::ReadFrame((tmp.Path() / "one/images/lr-2.bmp").string(), frame);
  EXPECT_EQ(frame.Width(), 220);
  EXPECT_EQ(frame.Height(), 160);
  ColorGrayImage truth;
  BmpFile::ReadFrame((tmp.Path() / "one/truth/hr.bmp").string(), truth);
  EXPECT_EQ(truth.Width(), 120);  // the 40 x 40 ROI at x3
  EXPECT_EQ(truth.Height(), 120);
  EXPECT_EQ(ReadText(tmp.Path() / "one/param.txt"),
            "./images/lr-%d.bmp\n./result/hr\n2\n160\n100\n200\n140\n3\n0.6\n0.7\n1\n0.003\n1.5\n20\n25\n32\n40");

  // Another seed moves the frames differently.
  const auto other = RunCli("synth three --lr-count 1 --size 220x160 --seed 8", tmp.Path());
  ASSERT_EQ(other.exitCode, 0) << other.err;
  EXPECT_NE(ReadText(tmp.Path() / "one/truth/hom-1.txt"), ReadText(tmp.Path() / "three/truth/hom-1.txt"));
}

TEST(CliSynth, BadValuesAreRefusedNamingTheOptionAndWriteNothing) {
  struct Case {
    std::string args;
    std::string option;
  };
  const std::vector<Case> cases = {
      {"--scene stars", "--scene"},     {"--lr-count 0", "--lr-count"}, {"--lr-count 1000", "--lr-count"},
      {"--size 219x160", "--size"},     {"--size 320", "--size"},       {"--size 320x", "--size"},
      {"--size 32Ox240", "--size"},     {"--scale 2", "--scale"},       {"--psf-sigma -1", "--psf-sigma"},
      {"--psf-sigma 0", "--psf-sigma"}, {"--noise -2", "--noise"},      {"--motion 11", "--motion"},
      {"--seed -1", "--seed"},          {"--seed 12a", "--seed"},
  };
  TempFolder tmp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto result = RunCli("synth out " + c.args, tmp.Path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.rfind("Error: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(c.option), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(tmp.Path() / "out"));
  }
  // A value that is not a number at all is a usage error.
  const auto malformed = RunCli("synth out --lr-count three", tmp.Path());
  EXPECT_EQ(malformed.exitCode, 2);
  EXPECT_FALSE(fs::exists(tmp.Path() / "out"));
}

ColorGrayImage Picture(int width, int height, int offset) {
  ColorGrayImage image;
  image.Create(width, height);
  for (int ch = 0; ch < 3; ++ch) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x)
        image.channels[ch][y][x] = static_cast<uint8_t>((x * 9 + y * 5 + ch * 40) % 180 + 30 + offset);
    }
  }
  return image;
}

void Save(const fs::path& path, const ColorGrayImage& image) {
  BmpFile::WriteImage(path.string(), image, 0, 0, image.Width(), image.Height());
}

TEST(CliCompare, PrintsPsnrAndSsim) {
  TempFolder tmp;
  Save(tmp.Path() / "a.bmp", Picture(24, 20, 0));
  Save(tmp.Path() / "same.bmp", Picture(24, 20, 0));
  Save(tmp.Path() / "brighter.bmp", Picture(24, 20, 4));

  const auto same = RunCli("compare a.bmp same.bmp", tmp.Path());
  ASSERT_EQ(same.exitCode, 0) << same.err;
  EXPECT_EQ(same.out, "PSNR = inf\nSSIM = 1\n");

  const auto offset = RunCli("compare a.bmp brighter.bmp", tmp.Path());
  ASSERT_EQ(offset.exitCode, 0) << offset.err;
  ASSERT_EQ(offset.out.rfind("PSNR = ", 0), 0u) << offset.out;
  const double psnr = std::atof(offset.out.c_str() + 7);
  EXPECT_NEAR(psnr, 20.0 * std::log10(255.0 / 4.0), 1e-4);  // six significant digits
  const size_t ssimAt = offset.out.find("\nSSIM = ");
  ASSERT_NE(ssimAt, std::string::npos) << offset.out;
  const double ssim = std::atof(offset.out.c_str() + ssimAt + 8);
  EXPECT_GT(ssim, 0.9);
  EXPECT_LT(ssim, 1.0);
}

TEST(CliCompare, RefusesImagesOfDifferentSizesOrMissingFiles) {
  TempFolder tmp;
  Save(tmp.Path() / "a.bmp", Picture(24, 20, 0));
  Save(tmp.Path() / "wide.bmp", Picture(30, 20, 0));
  Save(tmp.Path() / "tiny.bmp", Picture(8, 8, 0));

  const auto sizes = RunCli("compare a.bmp wide.bmp", tmp.Path());
  EXPECT_EQ(sizes.exitCode, 1);
  EXPECT_NE(sizes.err.find("a.bmp"), std::string::npos) << sizes.err;
  EXPECT_NE(sizes.err.find("wide.bmp"), std::string::npos) << sizes.err;
  EXPECT_EQ(sizes.out, "");

  const auto missing = RunCli("compare a.bmp nothing.bmp", tmp.Path());
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("nothing.bmp"), std::string::npos) << missing.err;

  const auto small = RunCli("compare tiny.bmp tiny.bmp", tmp.Path());
  EXPECT_EQ(small.exitCode, 1);
  EXPECT_NE(small.err.find("tiny.bmp"), std::string::npos) << small.err;
}

TEST(CliDemo, AFolderThatCannotBeMadeIsAnError) {
  TempFolder tmp;
  testing::WriteText(tmp.Path() / "taken", "a file, not a folder");
  const auto result = RunCli("demo taken", tmp.Path());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.rfind("Error: ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("taken"), std::string::npos) << result.err;
  EXPECT_EQ(ReadText(tmp.Path() / "taken"), "a file, not a folder");
}

}  // namespace
}  // namespace lumet
