#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "imageio/bmp_file.h"
#include "imageio/image_file.h"
#include "numeric/projection.h"
#include "imageio/homography_file.h"
#include "util/text_format.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

// k of a log line "MAE(k) = e1->e2" (registration, numbers in "%g") or, when fixed,
// "MAE(k) = e" (reconstruction, e >= 0 in "%f"); -1 for any other line.
int FrameOf(const std::string& line, bool fixed) {
  int k = -1;
  double e1 = 0.0, e2 = 0.0;
  if (fixed) {
    const bool ok = std::sscanf(line.c_str(), "MAE(%d) = %lf", &k, &e1) == 2 && e1 >= 0.0;
    return ok && line == Format("MAE(%d) = %f", k, e1) ? k : -1;
  }
  const bool ok = std::sscanf(line.c_str(), "MAE(%d) = %lf->%lf", &k, &e1, &e2) == 3;
  return ok && line == Format("MAE(%d) = %g->%g", k, e1, e2) ? k : -1;
}

// A short synthetic sequence (frames 0..6 of 220 x 160, the standard ROI) in dir/seq.
fs::path MakeSequence(const TempFolder& dir) {
  EXPECT_EQ(RunCli("synth seq --lr-count 6 --size 220x160 --seed 3", dir.Path()).exitCode, 0);
  return dir.Path() / "seq";
}

std::string HomographyFile(const fs::path& folder, int k) {
  return (folder / ("hr_hom-" + std::to_string(k) + ".txt")).string();
}

TEST(CliPipeline, RegisterWritesAccurateHomographiesAndMissingFilesStopTheCommands) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  auto r = RunCli("-C seq register", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 7u) << r.out;
  EXPECT_EQ(lines.back(), "Wrote ./param.txt, ./result/hr_hom-1.txt … ./result/hr_hom-6.txt, ./steet_rms.txt");
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(FrameOf(lines[static_cast<size_t>(k - 1)], false), k) << lines[static_cast<size_t>(k - 1)];
    const std::string text = ReadText(HomographyFile(seq / "result", k));
    EXPECT_EQ(std::count(text.begin(), text.end(), ' '), 7) << text;
    EXPECT_EQ(text.back(), '\n');
    // The ROI centre lands where the sequence put it.
    const auto a = ProjectPoint(ReadHomographyFile(HomographyFile(seq / "result", k)), 180.0, 120.0);
    const auto b = ProjectPoint(ReadHomographyFile((seq / "truth" / ("hom-" + std::to_string(k) + ".txt")).string()),
                                180.0, 120.0);
    EXPECT_LT(std::hypot(a.u - b.u, a.v - b.v), 0.25);
  }
  EXPECT_TRUE(fs::exists(seq / "steet_rms.txt"));
  EXPECT_TRUE(r.err.empty()) << r.err;  // no progress output when stderr is not a terminal

  fs::remove(HomographyFile(seq / "result", 5));
  ExpectError(RunCli("-C seq reconstruct", dir.Path()), "./result/hr_hom-5.txt");
  EXPECT_FALSE(fs::exists(seq / "result" / "hr.bmp"));

  // Every frame is checked before the first is registered; the count is explained.
  fs::remove_all(seq / "result");
  fs::remove(seq / "images" / "lr-4.bmp");
  r = RunCli("-C seq register", dir.Path());
  ExpectError(r, "so 7 frames are needed; found 4 (./images/lr-0.bmp … ./images/lr-3.bmp; no ./images/lr-4.bmp): "
                 "use --lr-count 3 or auto");
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_FALSE(fs::exists(seq / "result"));
  r = RunCli("-C seq register --lr-count auto", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 4u) << r.out;
  EXPECT_EQ(Lines(ReadText(seq / "param.txt"))[2], "3");
  // From file number 1 on, frames 1, 2, 3 are found: two can be registered.
  r = RunCli("-C seq register --start-index 1 --lr-count 3", dir.Path());
  ExpectError(r, "found 3 (./images/lr-1.bmp … ./images/lr-3.bmp; no ./images/lr-4.bmp): use --lr-count 2 or auto");
  EXPECT_TRUE(r.out.empty()) << r.out;
}

// A homography that takes the ROI off the frame (absurd entries, or far away) leaves that
// frame without an error against frame 0; the reconstruction names it instead of quietly
// using fewer frames.
TEST(CliPipeline, AHomographyThatMapsTheRoiToNothingIsNamedInAWarning) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  ASSERT_EQ(RunCli("-C seq register", dir.Path()).exitCode, 0);
  const auto sane = RunCli("-C seq reconstruct", dir.Path());
  ASSERT_EQ(sane.exitCode, 0) << sane.err;
  EXPECT_EQ(sane.err.find("Warning"), std::string::npos) << sane.err;
  for (const char* homography : {"1e300 1e300 1e300 1e300 1e300 1e300 1e300 1e300", "1 0 1e6 0 1 1e6 0 0"}) {
    SCOPED_TRACE(homography);
    WriteText(HomographyFile(seq / "result", 3), homography);
    const auto r = RunCli("-C seq reconstruct", dir.Path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("MAE(3) = nan"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Warning: frame 3: its homography maps the ROI onto no usable part of the frame"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("(./result/hr_hom-3.txt)"), std::string::npos) << r.err;
  }
}

TEST(CliPipeline, RunRegistersThenReconstructsAndSavesTheViewers) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  const auto r = RunCli("-C seq run --snapshots shots", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u + 6u + 1u + 1u) << r.out;
  for (int k = 1; k <= 6; ++k) EXPECT_EQ(FrameOf(lines[static_cast<size_t>(k - 1)], false), k);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(FrameOf(lines[static_cast<size_t>(6 + k)], true), k);
  EXPECT_EQ(lines[6], "MAE(0) = 0.000000");
  double threshold = -1.0;
  EXPECT_EQ(std::sscanf(lines[12].c_str(), "Threshold(5/6) = %lf", &threshold), 1);
  EXPECT_TRUE(threshold >= 0.0 && lines[12] == Format("Threshold(5/6) = %f", threshold)) << lines[12];
  EXPECT_EQ(lines.back(),
            "Wrote ./param.txt, ./result/hr_hom-1.txt … ./result/hr_hom-6.txt, ./steet_rms.txt, "
            "./result/first_lr.bmp, ./result/hr.bmp, the viewer pictures in shots");
  EXPECT_EQ(fs::file_size(seq / "result/hr.bmp"), 76854u);  // 160 x 160, 24-bit
  EXPECT_EQ(fs::file_size(seq / "result/first_lr.bmp"), 76854u);
  for (const char* file : {"reference-viewer.bmp", "frame-viewer.bmp"}) {
    ColorGrayImage shot;
    BmpFile::ReadFrame((seq / "shots" / file).string(), shot);
    EXPECT_EQ(shot.Width(), 160) << file;
  }
  // The comparison picture is the result itself.
  EXPECT_EQ(ReadText(seq / "shots" / "frame-viewer-compare.bmp"), ReadText(seq / "result" / "hr.bmp"));

  // Another result format holds the same pixels, for that command only.
  const auto png = RunCli("-C seq reconstruct --format png", dir.Path());
  ASSERT_EQ(png.exitCode, 0) << png.err;
  EXPECT_EQ(Lines(png.out).back(), "Wrote ./param.txt, ./result/first_lr.png, ./result/hr.png");
  ColorGrayImage a, b;
  BmpFile::ReadFrame((seq / "result" / "hr.bmp").string(), a);
  ReadImageFile((seq / "result" / "hr.png").string(), b);
  ASSERT_EQ(b.Width(), a.Width());
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) ASSERT_EQ(a.channels[c].Row(y)[x], b.channels[c].Row(y)[x]);
    }
  }
  EXPECT_EQ(RunCli("-C seq reconstruct --format gif", dir.Path()).exitCode, 2);
}

TEST(CliPipeline, AnOutputWithAnImageExtensionIsTheResultsExactNameAndFormat) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  const CliResult png = RunCli("run -o out/hr.png --lr-count 3", seq);
  ASSERT_EQ(png.exitCode, 0) << png.err;
  EXPECT_EQ(ReadText(seq / "out/hr.png").substr(1, 3), "PNG");
  EXPECT_TRUE(fs::exists(seq / "out/hr_hom-1.txt"));
  EXPECT_FALSE(fs::exists(seq / "out/hr.png.bmp"));
  EXPECT_EQ(Lines(ReadText(seq / "param.txt"))[1], "out/hr");  // the base, as the file has always held it
  // The same pixels as the BMP a base name gives.
  ASSERT_EQ(RunCli("reconstruct --output out/hr.bmp", seq).exitCode, 0);
  ColorGrayImage a, b;
  BmpFile::ReadFrame((seq / "out/hr.bmp").string(), a);
  ReadImageFile((seq / "out/hr.png").string(), b);
  ASSERT_EQ(b.Width(), a.Width());
  ASSERT_EQ(b.Height(), a.Height());
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) ASSERT_EQ(a.channels[c].Row(y)[x], b.channels[c].Row(y)[x]);
    }
  }
  // Any case, .tif too; a base with another dot keeps its name.
  ASSERT_EQ(RunCli("run -o out/HR.TIF", seq).exitCode, 0);
  EXPECT_TRUE(fs::exists(seq / "out/HR.tif"));
  ASSERT_EQ(RunCli("run -o out/hr.v2", seq).exitCode, 0);
  EXPECT_TRUE(fs::exists(seq / "out/hr.v2.bmp"));
  const CliResult clash = RunCli("reconstruct -o out/hr.png --format tiff", seq);
  EXPECT_EQ(clash.exitCode, 2);
  EXPECT_NE(clash.err.find("names a png file, --format tiff another format"), std::string::npos) << clash.err;
}

TEST(CliPipeline, QuietVerboseAndJsonChangeWhatIsPrintedNotWhatIsWritten) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  fs::copy(seq, dir.Path() / "other", fs::copy_options::recursive);
  fs::copy(seq, dir.Path() / "third", fs::copy_options::recursive);
  const CliResult normal = RunCli("run --lr-count 4", seq);
  const CliResult quiet = RunCli("run --lr-count 4 -q", dir.Path() / "other");
  const CliResult json = RunCli("run --lr-count 4 --json", dir.Path() / "third");
  ASSERT_EQ(normal.exitCode, 0) << normal.err;
  ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(ReadText(seq / "result/hr.bmp"), ReadText(dir.Path() / "other/result/hr.bmp"));
  EXPECT_EQ(ReadText(seq / "result/hr.bmp"), ReadText(dir.Path() / "third/result/hr.bmp"));
  // One JSON line: the files and the reconstruction's outcome.
  ASSERT_EQ(Lines(json.out).size(), 1u) << json.out;
  const nlohmann::json results = nlohmann::json::parse(json.out);
  EXPECT_EQ(results["command"], "run");
  EXPECT_EQ(results["files"].front(), "./param.txt");
  EXPECT_EQ(results["files"].back(), "./result/hr.bmp");
  EXPECT_EQ(results["reconstruction"]["method"], "classic");
  EXPECT_EQ(results["reconstruction"]["framesGiven"], 4);
  EXPECT_TRUE(results["reconstruction"].contains("threshold"));
  const CliResult verbose = RunCli("reconstruct -v", seq);
  EXPECT_EQ(verbose.out.rfind("lrPattern = ./images/lr-%d.bmp\n", 0), 0u) << verbose.out;
  EXPECT_EQ(RunCli("run -q --json", seq).exitCode, 2);

  const CliResult same = RunCli("compare --json result/hr.bmp result/hr.bmp", seq);
  ASSERT_EQ(same.exitCode, 0) << same.err;
  EXPECT_EQ(same.out, "{\"psnr\":null,\"ssim\":1.0}\n");
}

// A ROI given once stays in param.txt; later commands without --roi say they take it,
// until the ROI in param.txt is another.
TEST(CliPipeline, ARoiAnEarlierOptionStoredIsNamedOnStderr) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  const std::string note = "Note: the ROI 20,16,40,32 is the one an earlier --roi stored in param.txt";
  const CliResult first = RunCli("register --lr-count 2", seq);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.err, "") << "the folder's own ROI is not noted";
  const CliResult given = RunCli("register --lr-count 2 --roi 20,16,40,32", seq);
  ASSERT_EQ(given.exitCode, 0) << given.err;
  EXPECT_EQ(given.err.find("Note:"), std::string::npos) << given.err;
  for (int i = 0; i < 2; ++i) {
    const CliResult next = RunCli("reconstruct --lr-count 2", seq);
    ASSERT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(next.err.rfind(note, 0), 0u) << next.err;
    EXPECT_EQ(next.out.find("Note:"), std::string::npos) << "stdout stays the command's log";
  }
  const CliResult quiet = RunCli("reconstruct --lr-count 2 -q", seq);
  ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
  EXPECT_EQ(quiet.err.find("Note:"), std::string::npos) << quiet.err;
  // The ROI set another way (here by `params`, as the window or an edit would) ends the note.
  ASSERT_EQ(RunCli("params --roi 24,16,40,32", seq).exitCode, 0);
  const CliResult after = RunCli("reconstruct --lr-count 2", seq);
  ASSERT_EQ(after.exitCode, 0) << after.err;
  EXPECT_EQ(after.err.find("Note:"), std::string::npos) << after.err;
}

TEST(CliPipeline, FramesNamedByAWildcardAreTakenInNaturalOrder) {
  TempFolder dir;
  ASSERT_EQ(RunCli("synth seq --lr-count 11 --size 220x160", dir.Path()).exitCode, 0);
  const fs::path seq = dir.Path() / "seq";
  fs::copy(seq, dir.Path() / "glob", fs::copy_options::recursive);
  const CliResult numbered = RunCli("run --roi 90,60,30,30", seq);
  const CliResult wildcard = RunCli("run --roi 90,60,30,30 --lr-pattern 'images/lr-*.bmp'", dir.Path() / "glob");
  ASSERT_EQ(numbered.exitCode, 0) << numbered.err;
  ASSERT_EQ(wildcard.exitCode, 0) << wildcard.err;
  // lr-10 and lr-11 come after lr-9, as their numbers do.
  EXPECT_TRUE(ReadText(seq / "result/hr.bmp") == ReadText(dir.Path() / "glob/result/hr.bmp"));
  EXPECT_EQ(ReadText(seq / "result/hr_hom-11.txt"), ReadText(dir.Path() / "glob/result/hr_hom-11.txt"));
  const CliResult tooMany = RunCli("run --lr-count 20", dir.Path() / "glob");
  EXPECT_EQ(tooMany.exitCode, 1);
  EXPECT_NE(tooMany.err.find("images/lr-*.bmp (match 12 of 12)"), std::string::npos) << tooMany.err;
}

TEST(CliPipeline, EveryThreadCountWritesTheSameFilesAndNoneIsStored) {
  TempFolder dir;
  const fs::path seq = MakeSequence(dir);
  const std::string param = ReadText(seq / "param.txt");
  fs::copy(seq, dir.Path() / "other", fs::copy_options::recursive);
  const CliResult one = RunCli("run --threads 1", seq);
  const CliResult three = RunCli("run --threads 3", dir.Path() / "other");
  ASSERT_EQ(one.exitCode, 0) << one.err;
  ASSERT_EQ(three.exitCode, 0) << three.err;
  EXPECT_EQ(one.out, three.out);
  std::vector<std::string> names = {"steet_rms.txt", "result/hr.bmp", "result/first_lr.bmp", "param.txt"};
  for (int k = 1; k <= 6; ++k) names.push_back("result/hr_hom-" + std::to_string(k) + ".txt");
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string a = ReadText(seq / name);
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, ReadText(dir.Path() / "other" / name));
  }
  EXPECT_EQ(ReadText(seq / "param.txt"), param);  // --threads is not a parameter
  EXPECT_EQ(RunCli("run --threads -1", seq).exitCode, 2);
}

}  // namespace
}  // namespace lumet
