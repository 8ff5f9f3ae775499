#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "imageio/bmp_file.h"
#include "numeric/projection.h"
#include "reconstruction/homography_reader.h"

namespace lumet {
namespace {

using testing::ReadText;
using testing::RunCli;
using testing::TempFolder;

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Matches "<prefix><integer><middle>" at the start of line and returns what follows, or
// nullopt. The integer is stored in *value.
std::optional<std::string> AfterLabel(const std::string& line, const std::string& prefix, const std::string& middle,
                                      int* value) {
  if (line.rfind(prefix, 0) != 0) return std::nullopt;
  size_t pos = prefix.size();
  const size_t digits = pos;
  while (pos < line.size() && std::isdigit(static_cast<unsigned char>(line[pos]))) ++pos;
  if (pos == digits || line.compare(pos, middle.size(), middle) != 0) return std::nullopt;
  *value = std::stoi(line.substr(digits, pos - digits));
  return line.substr(pos + middle.size());
}

bool IsGeneralNumber(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return *end == '\0';
}

// "MAE(k) = e1->e2", both numbers in general notation; returns k or -1.
int RegistrationLineFrame(const std::string& line) {
  int k = -1;
  const auto rest = AfterLabel(line, "MAE(", ") = ", &k);
  if (!rest) return -1;
  const size_t arrow = rest->find("->");
  if (arrow == std::string::npos) return -1;
  return IsGeneralNumber(rest->substr(0, arrow)) && IsGeneralNumber(rest->substr(arrow + 2)) ? k : -1;
}

// A number printed with "%f": digits, a point and six decimals.
bool IsFixedSix(const std::string& text) {
  const size_t point = text.find('.');
  if (point == std::string::npos || point == 0 || text.size() - point - 1 != 6) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i != point && !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// "MAE(%d) = %f"; returns k or -1.
int ReconstructionLineFrame(const std::string& line) {
  int k = -1;
  const auto rest = AfterLabel(line, "MAE(", ") = ", &k);
  return rest && IsFixedSix(*rest) ? k : -1;
}

// A short synthetic sequence (frames 0..6 of 220 x 160, the standard ROI) in dir/seq.
fs::path MakeSequence(const TempFolder& dir) {
  const auto r = RunCli("synth seq --lr-count 6 --size 220x160 --seed 3", dir.Path());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return dir.Path() / "seq";
}

TEST(CliPipeline, RegisterLogsEveryFrameAndWritesAccurateHomographies) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  const auto r = RunCli("-C seq register", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u) << r.out;
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(RegistrationLineFrame(lines[static_cast<size_t>(k - 1)]), k) << lines[static_cast<size_t>(k - 1)];

    const fs::path file = seq / "result" / ("hr_hom-" + std::to_string(k) + ".txt");
    const std::string text = ReadText(file);
    EXPECT_EQ(std::count(text.begin(), text.end(), ' '), 7) << text;
    EXPECT_EQ(text.back(), '\n');
    // The ROI centre lands where the sequence put it.
    const Matrix estimated = ReadHomographyFile(file.string());
    const Matrix truth = ReadHomographyFile((seq / "truth" / ("hom-" + std::to_string(k) + ".txt")).string());
    const auto a = ProjectPoint(estimated, 180.0, 120.0);
    const auto b = ProjectPoint(truth, 180.0, 120.0);
    EXPECT_LT(std::hypot(a.u - b.u, a.v - b.v), 0.25);
  }
  EXPECT_TRUE(fs::exists(seq / "steet_rms.txt"));
  EXPECT_TRUE(r.err.empty()) << r.err;  // no progress output when stderr is not a terminal
}

TEST(CliPipeline, MissingFrameStopsRegistrationNamingItAndKeepsEarlierFiles) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  fs::remove(seq / "images" / "lr-4.bmp");
  const auto r = RunCli("-C seq register", dir.Path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("./images/lr-4.bmp"), std::string::npos) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 3u) << r.out;
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(fs::exists(seq / "result" / ("hr_hom-" + std::to_string(k) + ".txt")), k < 4);
  }
}

TEST(CliPipeline, RunRegistersThenReconstructsAndSavesTheViewers) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  const auto r = RunCli("-C seq run --snapshots shots", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u + 6u + 1u) << r.out;
  for (int k = 1; k <= 6; ++k) EXPECT_EQ(RegistrationLineFrame(lines[static_cast<size_t>(k - 1)]), k);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(ReconstructionLineFrame(lines[static_cast<size_t>(6 + k)]), k);
  EXPECT_EQ(lines[6], "MAE(0) = 0.000000");
  const std::string threshold = "Threshold(5/6) = ";
  ASSERT_EQ(lines.back().rfind(threshold, 0), 0u) << lines.back();
  EXPECT_TRUE(IsFixedSix(lines.back().substr(threshold.size()))) << lines.back();

  for (const char* file : {"result/hr.bmp", "result/first_lr.bmp"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(fs::file_size(seq / file), 76854u);  // 160 x 160, 24-bit
  }
  for (const char* file : {"reference-viewer.bmp", "frame-viewer.bmp", "frame-viewer-compare.bmp"}) {
    SCOPED_TRACE(file);
    ColorGrayImage shot;
    BmpFile::ReadFrame((seq / "shots" / file).string(), shot);
    EXPECT_EQ(shot.Width(), 160);
  }
  // The comparison picture is the result itself.
  EXPECT_EQ(ReadText(seq / "shots" / "frame-viewer-compare.bmp"), ReadText(seq / "result" / "hr.bmp"));
}

TEST(CliPipeline, MissingHomographyFileStopsReconstructionWithoutAResult) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  ASSERT_EQ(RunCli("-C seq register", dir.Path()).exitCode, 0);
  fs::remove(seq / "result" / "hr_hom-5.txt");
  const auto r = RunCli("-C seq reconstruct", dir.Path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("./result/hr_hom-5.txt"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(seq / "result" / "hr.bmp"));
}

TEST(CliPipeline, RefusedParametersStopBeforeAnyOutput) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  const struct {
    const char* args;
    const char* mentions;
  } cases[] = {
      {"register --roi 200,100,40,40", "ROI"},
      // Options are stored in param.txt, so each case puts the ROI back.
      {"register --roi 160,100,40,40 --ransac 26/25", "25"},
      {"reconstruct --ransac 20/25 --lr-count 0", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = RunCli(std::string("-C seq ") + c.args, dir.Path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(seq / "result")) << "no output may be written";
  }
}

}  // namespace
}  // namespace lumet
