#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "imageio/bmp_file.h"

namespace lumet {
namespace {

using testing::ReadText;
using testing::RunCli;
using testing::TempFolder;
using testing::WriteText;

const char* const kInitFile =
    "./images/lr-%d.bmp\n./result/hr\n30\n160\n100\n200\n140\n4\n0.6\n0.7\n1\n0.003\n1.5\n20\n25\n32\n40";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// A 320 x 240 frame with a gradient, written where the Init params pattern finds frame 0.
void WriteReferenceFrame(const std::filesystem::path& folder, int width = 320, int height = 240) {
  ColorGrayImage image;
  ASSERT_TRUE(image.Create(width, height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.channels[0][y][x] = static_cast<uint8_t>(x);
      image.channels[1][y][x] = static_cast<uint8_t>(y);
      image.channels[2][y][x] = 200;
    }
  }
  BmpFile::WriteImage((folder / "images" / "lr-0.bmp").string(), image, 0, 0, width, height);
}

TEST(CliParams, InitParamsWritesTheStandardFileExactly) {
  TempFolder dir;
  const auto r = RunCli("init-params", dir.Path());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadText(dir.Path() / "param.txt"), kInitFile);
}

TEST(CliParams, GlobalFolderOptionRunsThereAndRefusesAMissingFolder) {
  TempFolder dir;
  std::filesystem::create_directories(dir.Path() / "work");
  auto r = RunCli("-C work init-params", dir.Path());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadText(dir.Path() / "work" / "param.txt"), kInitFile);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "param.txt"));

  r = RunCli("-C nowhere init-params", dir.Path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("nowhere"), std::string::npos) << r.err;
}

TEST(CliParams, RoiOptionIsStoredAsLeftTopRightBottom) {
  TempFolder dir;
  const auto r = RunCli("params --roi 10,20,30,40", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(ReadText(dir.Path() / "param.txt"));
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[3], "10");
  EXPECT_EQ(lines[4], "20");
  EXPECT_EQ(lines[5], "40");
  EXPECT_EQ(lines[6], "60");
  EXPECT_NE(r.out.find("roi = 10,20,30,40"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("referenceFile = ./images/lr-0.bmp"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("homographyPattern = ./result/hr_hom-%d.txt"), std::string::npos) << r.out;
}

TEST(CliParams, OptionsOverrideTheStoredValuesAndKeepTheRest) {
  TempFolder dir;
  WriteText(dir.Path() / "param.txt",
            "./f/%03d.bmp\n./out/x\n12\n1\n2\n11\n22\n3\n0.5\n0.6\n0.9\n0.01\n1.2\n10\n15\n8\n9");
  const auto r = RunCli("params --scale 4 --ransac 7/9 --lambda 0.0004 --output ./o/y", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadText(dir.Path() / "param.txt"),
            "./f/%03d.bmp\n./o/y\n12\n1\n2\n11\n22\n4\n0.5\n0.6\n0.9\n0.0004\n1.2\n7\n9\n8\n9");
  EXPECT_NE(r.out.find("referenceFile = ./f/000.bmp"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("resultFile = ./o/y.bmp"), std::string::npos) << r.out;
}

TEST(CliParams, StoredScaleSelectsXThreeBelowFourAndXFourOtherwise) {
  TempFolder dir;
  for (const auto& [stored, adopted] : {std::pair<const char*, const char*>{"3.5", "3"}, {"2", "3"}, {"4.5", "4"}}) {
    SCOPED_TRACE(stored);
    WriteText(dir.Path() / "param.txt", std::string("./images/lr-%d.bmp\n./result/hr\n30\n160\n100\n200\n140\n") +
                                            stored + "\n0.6\n0.7\n1\n0.003\n1.5\n20\n25\n32\n40");
    const auto r = RunCli("params", dir.Path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(ReadText(dir.Path() / "param.txt"))[7], adopted);
  }
}

TEST(CliParams, ExitStatusSeparatesUsageErrorsFromRefusedValues) {
  TempFolder dir;
  struct Case {
    const char* args;
    int code;
    const char* mentions;  // in stderr
  };
  const Case cases[] = {
      {"frobnicate", 2, ""},
      {"params --no-such-option", 2, ""},
      {"params --lr-count abc", 2, ""},
      {"params --roi 1,2,3", 2, ""},
      {"params --ransac 20", 2, ""},
      {"", 2, ""},
      {"params --scale 5", 1, "--scale"},
      {"params --psf-sigma 0", 1, "--psf-sigma"},
      {"params --lr-count -3", 1, "--lr-count"},
      {"params --roi 1,2,-3,4", 1, "--roi"},
      {"params --lr-pattern './a b%d.bmp'", 1, "lrPattern"},
      {"params --lr-pattern ./a%s.bmp", 1, "lrPattern"},
      {"params --output ./x%d", 1, "outputBase"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = RunCli(c.args, dir.Path());
    EXPECT_EQ(r.exitCode, c.code) << r.err;
    if (c.code == 1) {
      EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
      EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    }
  }
  // A refused value leaves no parameter file behind.
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "param.txt"));
}

TEST(CliParams, HelpExplainsEveryCommand) {
  TempFolder dir;
  for (const char* command : {"", "init-params", "params", "show-reference", "register", "reconstruct", "run"}) {
    SCOPED_TRACE(command);
    const auto r = RunCli(std::string(command) + " --help", dir.Path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Usage"), std::string::npos) << r.out;
  }
  const auto r = RunCli("params --help", dir.Path());
  for (const char* option : {"--lr-pattern", "--output", "--lr-count", "--roi", "--scale", "--psf-sigma", "--alpha",
                             "--beta", "--lambda", "--filter-sigma", "--ransac", "--sad-size", "--search-area"}) {
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
}

TEST(CliShowReference, PrintsNameSizeAndRoiAndDrawsTheOutline) {
  TempFolder dir;
  WriteReferenceFrame(dir.Path());
  const auto r = RunCli("show-reference --out shown.bmp", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("./images/lr-0.bmp"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("width = 320"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("height = 240"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("roi = 160,100,40,40"), std::string::npos) << r.out;

  ColorGrayImage shown;
  BmpFile::ReadFrame((dir.Path() / "shown.bmp").string(), shown);
  ASSERT_EQ(shown.Width(), 320);
  ASSERT_EQ(shown.Height(), 240);
  auto pixel = [&](int x, int y) {
    return std::vector<int>{shown.channels[0][y][x], shown.channels[1][y][x], shown.channels[2][y][x]};
  };
  const std::vector<int> olive{128, 128, 0};
  EXPECT_EQ(pixel(160, 100), olive);  // top-left corner
  EXPECT_EQ(pixel(199, 139), olive);  // bottom-right corner, right and bottom exclusive
  EXPECT_EQ(pixel(180, 100), olive);
  EXPECT_EQ(pixel(160, 120), olive);
  EXPECT_EQ(pixel(200, 120), (std::vector<int>{200, 120, 200}));  // just outside: the frame itself
  EXPECT_EQ(pixel(180, 120), (std::vector<int>{180, 120, 200}));  // inside: untouched
}

TEST(CliShowReference, BrokenFramesFailWithTheFileNamed) {
  TempFolder dir;
  std::filesystem::create_directories(dir.Path() / "images");
  const auto frame = dir.Path() / "images" / "lr-0.bmp";

  std::string huge(54, '\0');
  huge[0] = 'B';
  huge[1] = 'M';
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) huge[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put32(10, 54);
  put32(14, 40);
  put32(18, 100000);
  put32(22, 100000);
  huge[26] = 1;
  huge[28] = 24;

  const std::string png = "\x89PNG\r\n\x1a\n" + std::string(100, 'x');

  WriteReferenceFrame(dir.Path(), 32, 24);
  const std::string good = ReadText(frame);
  const std::string truncated = good.substr(0, good.size() / 2);

  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {{"truncated", truncated}, {"png", png}, {"huge", huge}, {"empty", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(frame, c.bytes);
    const auto r = RunCli("show-reference", dir.Path());
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("./images/lr-0.bmp"), std::string::npos) << r.err;
  }
  std::filesystem::remove(frame);
  const auto r = RunCli("show-reference", dir.Path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("./images/lr-0.bmp"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace lumet
