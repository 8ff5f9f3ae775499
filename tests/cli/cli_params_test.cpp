#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "imageio/bmp_file.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

const char kInitFile[] =
    "./images/lr-%d.bmp\n./result/hr\n30\n160\n100\n200\n140\n4\n0.6\n0.7\n1\n0.003\n1.5\n20\n25\n32\n40";

// A frame with red x, green y and blue 200 where the Init params find frame 0.
void WriteReferenceFrame(const fs::path& folder, int width, int height) {
  ColorGrayImage image;
  ASSERT_TRUE(image.Create(width, height));
  image.channels[2].Fill(200);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) image.channels[0][y][x] = static_cast<uint8_t>(x), image.channels[1][y][x] = y;
  }
  BmpFile::WriteImage((folder / "images" / "lr-0.bmp").string(), image, 0, 0, width, height);
}

void WriteReferenceFrameFor(const fs::path& folder) { WriteReferenceFrame(folder, 320, 240); }

TEST(CliParams, InitParamsWritesTheStandardFileWhereTheFolderOptionSays) {
  TempFolder dir;
  EXPECT_EQ(RunCli("init-params", dir.Path()).exitCode, 0);
  EXPECT_EQ(ReadText(dir.Path() / "param.txt"), kInitFile);
  fs::create_directories(dir.Path() / "work");
  EXPECT_EQ(RunCli("-C work init-params", dir.Path()).exitCode, 0);
  EXPECT_EQ(ReadText(dir.Path() / "work" / "param.txt"), kInitFile);
  ExpectError(RunCli("-C nowhere init-params", dir.Path()), "nowhere");
}

TEST(CliParams, OptionsOverrideTheStoredValuesAndRoiIsStoredAsLeftTopRightBottom) {
  TempFolder dir;
  WriteText(dir.Path() / "param.txt",
            "./f/%03d.bmp\n./out/x\n12\n1\n2\n11\n22\n3.5\n0.5\n0.6\n0.9\n0.01\n1.2\n10\n15\n8\n9");
  const auto r = RunCli("params --roi 10,20,30,40 --ransac 7/9 --lambda 0.0004 --output ./o/y", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // A stored scale of at least 3 and below 4 selects x3.
  EXPECT_EQ(ReadText(dir.Path() / "param.txt"),
            "./f/%03d.bmp\n./o/y\n12\n10\n20\n40\n60\n3\n0.5\n0.6\n0.9\n0.0004\n1.2\n7\n9\n8\n9");
  for (const char* shown : {"roi = 10,20,30,40", "referenceFile = ./f/000.bmp", "homographyPattern = ./o/y_hom-%d"}) {
    EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
  }
}

TEST(CliParams, ScaleTwoIsOfferedAndStoredAsTwoOnLineEight) {
  TempFolder dir;
  // A stored value below 3 selects x2; 2.5 could only have been typed by hand.
  WriteText(dir.Path() / "param.txt", "./f/%d.bmp\n./o/x\n12\n1\n2\n11\n22\n2.5\n0.5\n0.6\n0.9\n0.01\n1.2\n10\n15\n8\n9");
  ASSERT_EQ(RunCli("params", dir.Path()).exitCode, 0);
  EXPECT_EQ(ReadText(dir.Path() / "param.txt"),
            "./f/%d.bmp\n./o/x\n12\n1\n2\n11\n22\n2\n0.5\n0.6\n0.9\n0.01\n1.2\n10\n15\n8\n9");
  for (const char* scale : {"3", "2"}) {
    SCOPED_TRACE(scale);
    ASSERT_EQ(RunCli(std::string("params --scale ") + scale, dir.Path()).exitCode, 0);
    EXPECT_EQ(ReadText(dir.Path() / "param.txt").substr(30, 2), std::string(scale) + "\n");
  }
  ExpectError(RunCli("params --scale 2.5", dir.Path()), "scale 2.5 is out of range (allowed: 2, 3 or 4)");
}

TEST(CliParams, ExitStatusSeparatesUsageErrorsFromRefusedValues) {
  TempFolder dir;
  // Arguments and the error's subject; nullptr: success, "": usage error (status 2).
  const std::pair<const char*, const char*> cases[] = {
      {"--help", nullptr}, {"params --help", nullptr}, {"", nullptr}, {"frobnicate", ""}, {"params --no-such-option", ""},
      {"params --lr-count abc", ""}, {"params --roi 1,2,3", ""}, {"params --ransac 20", ""},
      {"params --scale 5", "scale 5"}, {"params --psf-sigma 0", "PSF sigma 0"}, {"params --lr-count -3", "LR count -3"},
      {"params --roi 1,2,-3,4", "ROI 1,2,-3,4: w -3"}, {"params --lr-pattern './a b%d.bmp'", "LR pattern"},
      {"params --lr-pattern ./a%s.bmp", "LR pattern"}, {"params --output ./x%d", "output base"}};
  for (const auto& [args, subject] : cases) {
    SCOPED_TRACE(args);
    const auto r = RunCli(args, dir.Path());
    if (subject != nullptr && *subject != '\0') {
      ExpectError(r, subject);
    } else {
      EXPECT_EQ(r.exitCode, subject == nullptr ? 0 : 2) << r.err;
    }
  }
  EXPECT_FALSE(fs::exists(dir.Path() / "param.txt")) << "a refused value leaves no parameter file";
  // Nor does it change one, whatever the command.
  WriteText(dir.Path() / "param.txt", kInitFile);
  for (const char* args : {"params --psf-sigma 0", "run --psf-sigma 6.6", "register --sad-size=-2147483648",
                           "reconstruct --roi 0,0,2147483647,10", "params --lr-count 99999999999"}) {
    SCOPED_TRACE(args);
    ExpectError(RunCli(args, dir.Path()), "out of range (allowed: ");
    EXPECT_EQ(ReadText(dir.Path() / "param.txt"), kInitFile);
  }
}

TEST(CliParams, MisspellingsAndMisplacedWordsAreUsageErrorsThatSayWhatToType) {
  TempFolder dir;
  const std::pair<const char*, const char*> cases[] = {
      {"params --scal 4", "unknown option --scal; did you mean --scale?"},
      {"run --psf-sgma=1", "did you mean --psf-sigma?"},
      {"runn", "unknown command \"runn\"; did you mean run?"},
      {"params -C .", "-C goes before the command: lumet-cli -C DIR params"},
      {"--roi 1,2,3,4 run", "--roi is an option of the command and goes after it: lumet-cli run --roi"},
      {"params --frobnicate", "unknown option --frobnicate\n"},
      {"-Cx -C", "Usage: lumet-cli [-C DIR] COMMAND"},  // a trailing -C once read past the words
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(args);
    const auto r = RunCli(args, dir.Path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  // Without a command, the help of --help, which lists them all.
  const auto bare = RunCli("", dir.Path());
  EXPECT_EQ(bare.exitCode, 0);
  EXPECT_EQ(bare.out, RunCli("--help", dir.Path()).out);
  for (const char* command : {"init-params", "params", "register", "reconstruct", "run", "synth", "demo"}) {
    EXPECT_NE(bare.out.find("\n  " + std::string(command) + " "), std::string::npos) << command;
  }
  // Help shows each parameter's type and default once.
  const std::string help = RunCli("params --help", dir.Path()).out;
  for (const char* shown : {"--roi X,Y,W,H ", "(default 160,100,40,40)", "--ransac U/N ", "--psf-sigma FLOAT",
                            "above 0, at most 2 (default 0.6)", "--method classic|enhanced"}) {
    EXPECT_NE(help.find(shown), std::string::npos) << shown;
  }
  EXPECT_EQ(help.find("X,Y,W,H:"), std::string::npos);
  EXPECT_EQ(help.find("--roi"), help.rfind("--roi"));
}

TEST(CliParams, AStoredValueOutOfRangeStopsTheCommandsNamingItsLine) {
  TempFolder dir;
  WriteReferenceFrameFor(dir.Path());
  const std::string bad = std::string(kInitFile).replace(std::string(kInitFile).rfind("32"), 2, "-2147483648");
  WriteText(dir.Path() / "param.txt", bad);
  for (const char* command : {"register", "reconstruct", "run", "params"}) {
    SCOPED_TRACE(command);
    ExpectError(RunCli(command, dir.Path()), "param.txt line 16: SAD size -2147483648 is out of range (allowed: 0 to 1000)");
    EXPECT_EQ(ReadText(dir.Path() / "param.txt"), bad);
  }
  // Given on the command line, the value replaces the stored one.
  ASSERT_EQ(RunCli("params --sad-size 32", dir.Path()).exitCode, 0);
  EXPECT_EQ(ReadText(dir.Path() / "param.txt"), kInitFile);
}

TEST(CliParams, AnUnreadableFileStopsTheCommandsAndParamsResetsItKeepingTheOldOne) {
  TempFolder dir;
  WriteReferenceFrameFor(dir.Path());
  const std::string bad = std::string(kInitFile).replace(std::string(kInitFile).find("0.7"), 3, "1e999");
  WriteText(dir.Path() / "param.txt", bad);
  const std::string problem = "param.txt line 10 (alpha): \"1e999\" cannot be read as a number";
  for (const char* command : {"register", "reconstruct", "run", "show-reference"}) {
    SCOPED_TRACE(command);
    ExpectError(RunCli(command, dir.Path()), problem);
    EXPECT_EQ(ReadText(dir.Path() / "param.txt"), bad);
    EXPECT_FALSE(fs::exists(dir.Path() / "param.txt.bad"));
  }
  const auto r = RunCli("params --lambda 0.01", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "Warning: " + problem +
                       "; reset to the standard values: alpha 0.7, beta 1, lambda 0.003, filter sigma 1.5, RANSAC 20/25, "
                       "SAD size 32, search area 40; the old file is kept as param.txt.bad\n");
  EXPECT_EQ(ReadText(dir.Path() / "param.txt.bad"), bad);
  EXPECT_EQ(ReadText(dir.Path() / "param.txt"), std::string(kInitFile).replace(std::string(kInitFile).find("0.003"), 5, "0.01"));
}

TEST(CliParams, TheRoiIsCheckedAgainstFrameZeroAndAMissingFrameZeroSaysWhatIsExpected) {
  TempFolder dir;
  ExpectError(RunCli("run", dir.Path()), "frame 0 ./images/lr-0.bmp does not exist");
  for (const char* hint : {"--lr-pattern", "lumet-cli synth"}) {
    EXPECT_NE(RunCli("register", dir.Path()).err.find(hint), std::string::npos) << hint;
  }
  EXPECT_FALSE(fs::exists(dir.Path() / "param.txt"));
  EXPECT_EQ(RunCli("params --roi 300,200,40,40", dir.Path()).exitCode, 0);  // no frame to check against yet
  WriteReferenceFrameFor(dir.Path());
  ExpectError(RunCli("params --roi 300,200,40,40", dir.Path()), "ROI 300,200,40,40: x + w = 340 exceeds the frame width 320");
  EXPECT_EQ(ReadText(dir.Path() / "param.txt"), "./images/lr-%d.bmp\n./result/hr\n30\n300\n200\n340\n240\n4\n0.6\n0.7\n1\n0.003\n1.5\n20\n25\n32\n40");
}

TEST(CliShowReference, PrintsNameSizeAndRoiAndDrawsTheOutline) {
  TempFolder dir;
  WriteReferenceFrame(dir.Path(), 320, 240);
  const auto r = RunCli("show-reference --out shown.bmp", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* shown : {"./images/lr-0.bmp", "width = 320", "height = 240", "roi = 160,100,40,40"}) {
    EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
  }
  ColorGrayImage s;
  BmpFile::ReadFrame((dir.Path() / "shown.bmp").string(), s);
  ASSERT_EQ(std::pair(s.Width(), s.Height()), std::pair(320, 240));
  // Olive on the outline (right and bottom exclusive); just outside and inside, the frame itself.
  const int cases[][5] = {{160, 100, 128, 128, 0}, {199, 139, 128, 128, 0}, {180, 100, 128, 128, 0},
                          {160, 120, 128, 128, 0}, {200, 120, 200, 120, 200}, {180, 120, 180, 120, 200}};
  for (const auto& [x, y, red, green, blue] : cases) {
    EXPECT_EQ((std::vector<int>{s.channels[0][y][x], s.channels[1][y][x], s.channels[2][y][x]}),
              (std::vector<int>{red, green, blue})) << x << "," << y;
  }
}

TEST(CliShowReference, BrokenFramesFailWithTheFileNamed) {
  TempFolder dir;
  const auto frame = dir.Path() / "images" / "lr-0.bmp";
  WriteReferenceFrame(dir.Path(), 32, 24);
  const std::string good = ReadText(frame);
  std::string huge = good.substr(0, 54);  // claims 100000 x 100000
  for (size_t at : {18u, 22u}) huge.replace(at, 4, std::string("\xa0\x86\x01\x00", 4));
  for (const std::string& bytes :
       {good.substr(0, good.size() / 2), "\x89PNG\r\n\x1a\n" + std::string(100, 'x'), huge, std::string()}) {
    SCOPED_TRACE(bytes.size());
    WriteText(frame, bytes);
    ExpectError(RunCli("show-reference", dir.Path()), "./images/lr-0.bmp");
  }
  fs::remove(frame);
  ExpectError(RunCli("show-reference", dir.Path()), "./images/lr-0.bmp");
}

}  // namespace
}  // namespace lumet
