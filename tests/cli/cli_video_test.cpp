#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "imageio/image_file.h"
#include "imageio/test_video.h"
#include "library/conversions.h"
#include "lumet/video.h"
#include "synth/drifting_clip.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

constexpr int kFrames = 7;
constexpr int kRadius = 2;
const char* const kWindowArgs = "--radius 2 --scale 2 --roi 24,18,48,36";

DriftingClipOptions ClipOptions() {
  DriftingClipOptions o;
  o.width = 96;
  o.height = 72;
  o.frames = kFrames;
  o.scale = 2;
  o.roi = RoiRect{24, 18, 72, 54};
  return o;
}

const DriftingClip& Clip() {
  static const DriftingClip clip = MakeDriftingClip(ClipOptions());
  return clip;
}

void WriteFrames(const fs::path& dir) {
  for (int k = 0; k < kFrames; ++k) {
    WriteImageFile((dir / ("images/lr-" + std::to_string(k) + ".bmp")).string(), Clip().frames[static_cast<size_t>(k)],
                   ImageFormat::Bmp);
  }
}

ColorGrayImage ReadImage(const fs::path& path) {
  ColorGrayImage image;
  ReadImageFile(path.string(), image);
  return image;
}

bool SamePixels(const ColorGrayImage& a, const ColorGrayImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) {
        if (a.channels[c].Row(y)[x] != b.channels[c].Row(y)[x]) return false;
      }
    }
  }
  return true;
}

std::string Sr(int k) { return "sr/sr-" + std::to_string(k) + ".bmp"; }

// Output frame k is the library's frame k of the clip (frame k the reference of its window
// k-R..k+R clipped to the clip); with frame 0 as the reference it is today's run of frames 0..R.
TEST(VideoCommand, EachOutputFrameIsTheReconstructionOfItsOwnWindow) {
  TempFolder dir;
  WriteFrames(dir.Path());
  const CliResult r = RunCli(std::string("video ./images/lr-%d.bmp ./sr/sr-%d.bmp ") + kWindowArgs, dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), static_cast<size_t>(kFrames)) << r.out;
  EXPECT_NE(r.out.find("frame 3 (4/7, frames 1..5): wrote ./sr/sr-3.bmp"), std::string::npos) << r.out;

  Settings settings;
  settings.scale = 2;
  settings.roi = Rect{24, 18, 48, 36};
  VideoSuperResolver clip((dir.Path() / "images/lr-%d.bmp").string(), 0, kRadius, settings, false);
  for (const int k : {0, 1, 3, 6}) {
    SCOPED_TRACE("output frame " + std::to_string(k));
    const ColorGrayImage got = ReadImage(dir.Path() / Sr(k));
    EXPECT_TRUE(SamePixels(got, ToColorImage(clip.Frame(k).estimate)));
  }

  // The classic run of frames 0..R (it registers one frame more than it reconstructs from).
  const CliResult run = RunCli("run --lr-count 3 --scale 2 --roi 24,18,48,36", dir.Path());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadText(dir.Path() / "result/hr.bmp"), ReadText(dir.Path() / Sr(0)));
}

// A run stopped after some frames, or whose outputs were partly deleted, keeps what is
// there and makes the rest: the same files as one uninterrupted run.
TEST(VideoCommand, ResumesWhereItStopped) {
  TempFolder whole, stopped;
  WriteFrames(whole.Path());
  WriteFrames(stopped.Path());
  const std::string args = std::string("video ./images/lr-%d.bmp ./sr/sr-%d.bmp ") + kWindowArgs;
  ASSERT_EQ(RunCli(args, whole.Path()).exitCode, 0);

  ASSERT_EQ(RunCli(args + " --last 2", stopped.Path()).exitCode, 0);
  EXPECT_FALSE(fs::exists(stopped.Path() / Sr(3)));
  fs::remove(stopped.Path() / Sr(1));
  const CliResult resumed = RunCli(args, stopped.Path());
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_EQ(Lines(resumed.out).front(), "2 of 7 frames are there already and are kept");
  EXPECT_EQ(Lines(resumed.out).size(), 1u + 5u) << resumed.out;
  for (int k = 0; k < kFrames; ++k) {
    SCOPED_TRACE("output frame " + std::to_string(k));
    EXPECT_EQ(ReadText(stopped.Path() / Sr(k)), ReadText(whole.Path() / Sr(k)));
  }
  const CliResult again = RunCli(args, stopped.Path());
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.out, "7 of 7 frames are there already and are kept\n");
}

// A video is read as its frames, each decoded once: the outputs of a range of frames are
// those of the same frames as files.
TEST(VideoCommand, ReadsAVideoAsItsFrames) {
  TempFolder dir;
  WriteFrames(dir.Path());
  WriteLosslessVideo((dir.Path() / "clip.mkv").string(), Clip().frames);
  const std::string range = std::string(" ") + kWindowArgs + " --first 2 --last 4";
  const CliResult fromVideo = RunCli("video clip.mkv ./v/sr-%d.bmp" + range, dir.Path());
  ASSERT_EQ(fromVideo.exitCode, 0) << fromVideo.err;
  ASSERT_EQ(RunCli("video ./images/lr-%d.bmp ./sr/sr-%d.bmp" + range, dir.Path()).exitCode, 0);
  for (int k = 0; k < kFrames; ++k) {
    SCOPED_TRACE("output frame " + std::to_string(k));
    const fs::path v = dir.Path() / ("v/sr-" + std::to_string(k) + ".bmp");
    EXPECT_EQ(fs::exists(v), k >= 2 && k <= 4);
    if (fs::exists(v)) {
      EXPECT_EQ(ReadText(v), ReadText(dir.Path() / Sr(k)));
    }
  }
}

TEST(VideoCommand, RefusesWhatItCannotDo) {
  TempFolder dir;
  WriteFrames(dir.Path());
  const std::string in = "video ./images/lr-%d.bmp ";
  ExpectError(RunCli(in + "out.mkv --scale 2", dir.Path()), "writing a video is not supported yet");
  ExpectError(RunCli(in + "./sr/sr.bmp --scale 2", dir.Path()), "output pattern");
  ExpectError(RunCli(in + "./sr/sr-%d.jpg --scale 2", dir.Path()), ".bmp, .png or .tif");
  ExpectError(RunCli(in + "./sr/sr-%d.bmp --scale 2 --first 3 --last 9", dir.Path()), "frames 0 .. 6");
  ExpectError(RunCli("video ./none/lr-%d.bmp ./sr/sr-%d.bmp", dir.Path()), "found 0 frames");
  EXPECT_EQ(RunCli(in + "./sr/sr-%d.bmp --radius 0", dir.Path()).exitCode, 2);
  EXPECT_FALSE(fs::exists(dir.Path() / "sr"));
}

}  // namespace
}  // namespace lumet
