#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "evaluation/bicubic_baseline.h"
#include "evaluation/quality.h"
#include "imageio/image_file.h"
#include "imageio/test_video.h"
#include "imageio/video_file.h"
#include "imageio/video_writer.h"
#include "library/conversions.h"
#include "lumet/video.h"
#include "reconstruction/enhanced/psf_steps.h"
#include "synth/drifting_clip.h"
#include "support/test_images.h"

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

using testing::SamePixels;

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

// With the enhanced method each output frame starts from the previous one's estimate
// unless --warm-start off: the frames the library makes so; a run resumed after a range
// that began between key frames makes the files of one uninterrupted run.
TEST(VideoCommand, StartsEnhancedFramesFromThePreviousOneUnlessToldNotTo) {
  TempFolder warm, cold, resumed;
  for (const TempFolder* dir : {&warm, &cold, &resumed}) WriteFrames(dir->Path());
  const std::string args =
      std::string("video ./images/lr-%d.bmp ./sr/sr-%d.bmp ") + kWindowArgs + " --method enhanced --psf-check off";
  ASSERT_EQ(RunCli(args, warm.Path()).exitCode, 0);
  ASSERT_EQ(RunCli(args + " --warm-start off", cold.Path()).exitCode, 0);
  ASSERT_EQ(RunCli(args + " --first 3", resumed.Path()).exitCode, 0);
  const CliResult rest = RunCli(args, resumed.Path());
  ASSERT_EQ(rest.exitCode, 0) << rest.err;
  EXPECT_EQ(Lines(rest.out).front(), "4 of 7 frames are there already and are kept");

  Settings settings;
  settings.scale = 2;
  settings.roi = Rect{24, 18, 48, 36};
  settings.method = "enhanced";
  settings.methodParams["psfCheck"] = 0;
  VideoSuperResolver warmClip((warm.Path() / "images/lr-%d.bmp").string(), 0, kRadius, settings, false);
  warmClip.SetWarmStart(true);
  VideoSuperResolver coldClip((warm.Path() / "images/lr-%d.bmp").string(), 0, kRadius, settings, false);
  for (int k = 0; k < kFrames; ++k) {
    SCOPED_TRACE("output frame " + std::to_string(k));
    EXPECT_TRUE(SamePixels(ReadImage(warm.Path() / Sr(k)), ToColorImage(warmClip.Frame(k).estimate)));
    EXPECT_TRUE(SamePixels(ReadImage(cold.Path() / Sr(k)), ToColorImage(coldClip.Frame(k).estimate)));
    EXPECT_EQ(ReadText(resumed.Path() / Sr(k)), ReadText(warm.Path() / Sr(k)));
  }
  EXPECT_NE(ReadText(warm.Path() / Sr(3)), ReadText(cold.Path() / Sr(3)));
  EXPECT_EQ(RunCli(args + " --warm-start maybe", warm.Path()).exitCode, 2);
}

// A camera sharper than the default PSF, each pixel the mean over its square and nothing
// more: the frames predict a range of PSF widths about alike, yet every width past the
// camera's grows rims along the edges. Frame 0's edges, which read narrower than the
// default, break the tie: the enhanced frames come out clearly above bicubic.
// The clip's frames written into dir, and its frame 4 made by the enhanced method from a
// window of five (the ROI 20,20,120,80 at x2).
CliResult EnhanceFrameFour(const DriftingClip& clip, const TempFolder& dir) {
  for (size_t k = 0; k < clip.frames.size(); ++k) {
    WriteImageFile((dir.Path() / ("images/lr-" + std::to_string(k) + ".bmp")).string(), clip.frames[k], ImageFormat::Bmp);
  }
  return RunCli(
      "video ./images/lr-%d.bmp ./sr/sr-%d.bmp --radius 2 --scale 2 --roi 20,20,120,80 --method enhanced --first 4 --last 4",
      dir.Path());
}

// With noise of 2 grey levels the frames of such a camera chose 0.45 and came out 4 dB
// below bicubic, rims along every edge: the narrower PSF needs the stronger prior.
TEST(VideoCommand, EnhancedFramesOfACameraSharperThanTheDefaultPsfBeatBicubic) {
  for (const double noise : {0.0, 2.0}) {
    SCOPED_TRACE("noise " + std::to_string(noise));
    DriftingClipOptions o;
    o.frames = 9;  // as many as the check reads
    o.roi = RoiRect{20, 20, 140, 100};
    o.noise = noise;
    const DriftingClip clip = MakeDriftingClip(o);
    TempFolder dir;
    const CliResult r = EnhanceFrameFour(clip, dir);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const double enhanced = Psnr(ReadImage(dir.Path() / Sr(4)), clip.truths[4]);
    const double bicubic = Psnr(BicubicEnlarge(clip.frames[4], o.roi, 2), clip.truths[4]);
    EXPECT_GT(enhanced, bicubic + (noise > 0.0 ? 2.0 : 1.0)) << r.err;
    if (noise > 0.0) {
      EXPECT_NE(r.err.find("and lambda "), std::string::npos) << r.err;
      // The remedy keeps what the check chose, lambda with the PSF, and the command takes it.
      const std::string keep = "keep these with ";
      const size_t at = r.err.find(keep);
      ASSERT_NE(at, std::string::npos) << r.err;
      const std::string remedy = r.err.substr(at + keep.size(), r.err.find('\n', at) - at - keep.size());
      EXPECT_NE(remedy.find("--lambda "), std::string::npos) << remedy;
      const CliResult kept = RunCli("video ./images/lr-%d.bmp ./kept/sr-%d.bmp --radius 2 --scale 2 "
                                    "--roi 20,20,120,80 --method enhanced --first 4 --last 4 " + remedy,
                                    dir.Path());
      ASSERT_EQ(kept.exitCode, 0) << kept.err;
      EXPECT_EQ(kept.err.find("Warning"), std::string::npos) << kept.err;
      // The same frame but for the six digits the remedy gives its numbers with.
      EXPECT_GT(Psnr(ReadImage(dir.Path() / "kept/sr-4.bmp"), ReadImage(dir.Path() / Sr(4))), 60.0);
    }
  }
}

// A camera blur of sigma 0.6 on its pixels' squares (about 0.67 in all): the check's steps,
// a quarter apart, step over it. With noise of 2 grey levels they took 0.75, a width
// between the steps is now found where the frames' errors bend; noise of 4 once let them
// walk two steps past the blur on steps each a little worse (0.94: below bicubic).
TEST(VideoCommand, TheCheckFindsTheBlurOfACameraBetweenItsSteps) {
  const double blur = std::sqrt(0.6 * 0.6 + 1.0 / 12.0);
  for (const double noise : {2.0, 4.0}) {
    SCOPED_TRACE("noise " + std::to_string(noise));
    DriftingClipOptions o;
    o.frames = 9;  // as many as the check reads
    o.roi = RoiRect{20, 20, 140, 100};
    o.blur = 0.6;
    o.noise = noise;
    const DriftingClip clip = MakeDriftingClip(o);
    TempFolder dir;
    const CliResult r = EnhanceFrameFour(clip, dir);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string said = "through PSF sigma ";
    const size_t at = r.err.find(said);
    ASSERT_NE(at, std::string::npos) << r.err;
    const double chosen = std::stod(r.err.substr(at + said.size()));
    if (noise == 2.0) {
      EXPECT_NEAR(chosen, blur, 0.04) << r.err;
    } else {
      EXPECT_LT(chosen, kWiderPsf * blur) << r.err;
    }
    const double enhanced = Psnr(ReadImage(dir.Path() / Sr(4)), clip.truths[4]);
    const double bicubic = Psnr(BicubicEnlarge(clip.frames[4], o.roi, 2), clip.truths[4]);
    EXPECT_GT(enhanced, bicubic + 3.0) << r.err;
  }
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
  ExpectError(RunCli(in + "out.avi --scale 2", dir.Path()), "a video output is a .mkv file (lossless FFV1) or a .mp4");
  ExpectError(RunCli(in + "out.mkv --scale 2 --quality 20", dir.Path()), "--quality 20");
  ExpectError(RunCli(in + "./sr/sr-%d.bmp --scale 2 --keep-parts", dir.Path()), "apply to a video output");
  // A folder that cannot be made, before any frame is: a file is in its way.
  WriteText(dir.Path() / "file", "x");
  ExpectError(RunCli(in + "file/out.mkv --scale 2", dir.Path()), "cannot create folder file/out.mkv.parts");
  EXPECT_EQ(RunCli(in + "out.mkv --fps 0", dir.Path()).exitCode, 2);
  EXPECT_EQ(RunCli(in + "out.mkv --fps 25/x", dir.Path()).exitCode, 2);
  EXPECT_EQ(RunCli(in + "out.mkv --fps 0.0", dir.Path()).exitCode, 2);
  EXPECT_EQ(RunCli(in + "out.mp4 --quality 52", dir.Path()).exitCode, 2);
  const CliResult classicCheck = RunCli(in + "./sr/sr-%d.bmp --scale 2 --psf-check off", dir.Path());
  EXPECT_EQ(classicCheck.exitCode, 2);
  EXPECT_NE(classicCheck.err.find("--psf-check: applies to --method enhanced"), std::string::npos) << classicCheck.err;
  EXPECT_EQ(RunCli(in + "./sr/sr-%d.bmp --method enhanced --psf-check maybe", dir.Path()).exitCode, 2);
  // The method's own parameters as `run` takes them, with its method and in their ranges.
  const CliResult classicCap = RunCli(in + "./sr/sr-%d.bmp --scale 2 --iterations 10", dir.Path());
  EXPECT_EQ(classicCap.exitCode, 2);
  EXPECT_NE(classicCap.err.find("--iterations: applies to --method enhanced"), std::string::npos) << classicCap.err;
  ExpectError(RunCli(in + "./sr/sr-%d.bmp --scale 2 --method enhanced --iterations 0", dir.Path()),
              "iteration cap 0 is out of range");
  EXPECT_EQ(RunCli(in + "./sr/sr-%d.bmp --scale 2 --lambda x", dir.Path()).exitCode, 2);
  EXPECT_FALSE(fs::exists(dir.Path() / "sr"));
  ExpectError(RunCli(in + "./sr/sr.bmp --scale 2", dir.Path()), "output pattern");
  ExpectError(RunCli(in + "./sr/sr-%d.jpg --scale 2", dir.Path()), ".bmp, .png or .tif");
  ExpectError(RunCli(in + "./sr/sr-%d.exr --scale 2", dir.Path()), ".bmp, .png or .tif");  // 8-bit frames
  ExpectError(RunCli(in + "./sr/sr-%d.bmp --scale 2 --first 3 --last 9", dir.Path()),
              "--last 9 is past the input's last frame 6 (7 frames, 0 .. 6)");
  ExpectError(RunCli("video ./none/lr-%d.bmp ./sr/sr-%d.bmp", dir.Path()), "found 0 frames");
  EXPECT_EQ(RunCli(in + "./sr/sr-%d.bmp --radius 0", dir.Path()).exitCode, 2);
  EXPECT_FALSE(fs::exists(dir.Path() / "sr"));
  EXPECT_FALSE(fs::exists(dir.Path() / "out.mkv.parts"));
  WriteLosslessVideo((dir.Path() / "clip.mkv").string(), Clip().frames);
  ExpectError(RunCli("video clip.mkv out.mkv --scale 2 --fps 30", dir.Path()), "keeps its own frame rate");
}

struct DecodedVideo {
  VideoTiming timing;
  std::vector<ColorGrayImage> frames;
  std::vector<double> seconds;
};

DecodedVideo Decode(const fs::path& path) {
  VideoFile video(path.string());
  DecodedVideo decoded;
  decoded.timing = video.Timing();
  for (ColorGrayImage frame; video.ReadNext(&frame);) {
    decoded.frames.push_back(frame);
    decoded.seconds.push_back(static_cast<double>(video.Pts()) * decoded.timing.timeBaseNum / decoded.timing.timeBaseDen);
  }
  return decoded;
}

// The clip at 16 bits: each 8-bit sample a as a * 257 plus a detail of up to +-96 16-bit
// steps, which 8 bits cannot hold.
std::vector<std::vector<uint16_t>> DeepClip() {
  std::vector<std::vector<uint16_t>> frames;
  for (const ColorGrayImage& frame : Clip().frames) {
    std::vector<uint16_t> rgb(static_cast<size_t>(frame.Width()) * frame.Height() * 3);
    for (int y = 0; y < frame.Height(); ++y) {
      for (int x = 0; x < frame.Width(); ++x) {
        for (int c = 0; c < 3; ++c) {
          const int v = frame.channels[static_cast<size_t>(c)].Row(y)[x] * 257 + ((x * 7 + y * 13 + c * 5) % 193) - 96;
          rgb[(static_cast<size_t>(y) * frame.Width() + x) * 3 + c] = static_cast<uint16_t>(std::clamp(v, 0, 65535));
        }
      }
    }
    frames.push_back(std::move(rgb));
  }
  return frames;
}

// 16-bit frames give 16-bit output frames, as a pattern of PNGs and in a .mkv; a 16-bit video
// input gives what its frames as PNGs give.
TEST(VideoCommand, DeepFramesGiveDeepOutputFrames) {
  TempFolder dir;
  const std::vector<std::vector<uint16_t>> deep = DeepClip();
  const int w = Clip().frames[0].Width(), h = Clip().frames[0].Height();
  std::vector<ColorGrayImage> asFrames;
  for (int k = 0; k < kFrames; ++k) {
    WriteSamples16Bit((dir.Path() / ("images/lr-" + std::to_string(k) + ".png")).string(), w, h,
                      deep[static_cast<size_t>(k)], ImageFormat::Png);
    asFrames.push_back(FrameOf16BitRgb(deep[static_cast<size_t>(k)], w, h));
  }
  {
    VideoWriter::Options sixteen;
    sixteen.bitsPerSample = 16;
    VideoWriter writer((dir.Path() / "clip16.mkv").string(), w, h, VideoTiming{1, 25, 25, 1}, sixteen);
    for (int k = 0; k < kFrames; ++k) writer.Write(asFrames[static_cast<size_t>(k)], k);
    writer.Finish();
  }
  const std::string range = std::string(" ") + kWindowArgs + " --first 1 --last 3";
  const CliResult png = RunCli("video ./images/lr-%d.png ./sr/sr-%d.png" + range, dir.Path());
  ASSERT_EQ(png.exitCode, 0) << png.err;
  const CliResult tiff = RunCli("video ./images/lr-%d.png ./t/sr-%d.tif" + range, dir.Path());
  ASSERT_EQ(tiff.exitCode, 0) << tiff.err;
  const CliResult video = RunCli("video clip16.mkv ./v/sr-%d.png" + range, dir.Path());
  ASSERT_EQ(video.exitCode, 0) << video.err;
  const CliResult mkv = RunCli("video ./images/lr-%d.png out.mkv" + range, dir.Path());
  ASSERT_EQ(mkv.exitCode, 0) << mkv.err;
  EXPECT_NE(mkv.out.find("lossless FFV1, 16 bits a sample"), std::string::npos) << mkv.out;
  const DecodedVideo decoded = Decode(dir.Path() / "out.mkv");
  ASSERT_EQ(decoded.frames.size(), 3u);
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE("output frame " + std::to_string(k));
    const std::string name = "sr-" + std::to_string(k);
    const ColorGrayImage sr = ReadImage(dir.Path() / "sr" / (name + ".png"));
    ASSERT_NE(sr.deep, nullptr);
    EXPECT_FALSE(sr.deep->floatSamples);
    // The estimate unquantised: values between the 8-bit levels.
    int between = 0;
    for (int x = 0; x < sr.Width(); ++x) {
      const float v = sr.deep->channels[1].Row(sr.Height() / 2)[x];
      between += std::fabs(v - std::round(v)) > 0.01f ? 1 : 0;
    }
    EXPECT_GT(between, sr.Width() / 2);
    EXPECT_NE(ReadImage(dir.Path() / "t" / (name + ".tif")).deep, nullptr);
    EXPECT_EQ(ReadText(dir.Path() / "v" / (name + ".png")), ReadText(dir.Path() / "sr" / (name + ".png")));
    const ColorGrayImage& fromVideo = decoded.frames[static_cast<size_t>(k - 1)];
    ASSERT_NE(fromVideo.deep, nullptr);
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < sr.Height(); ++y) {
        for (int x = 0; x < sr.Width(); ++x) {
          ASSERT_FLOAT_EQ(fromVideo.deep->channels[c].Row(y)[x], sr.deep->channels[c].Row(y)[x]) << x << "," << y;
        }
      }
    }
  }
}

void ExpectSameVideo(const DecodedVideo& got, const DecodedVideo& expected) {
  ASSERT_EQ(got.frames.size(), expected.frames.size());
  EXPECT_EQ(got.seconds, expected.seconds);
  EXPECT_EQ(got.timing.frameRateNum * expected.timing.frameRateDen, expected.timing.frameRateNum * got.timing.frameRateDen);
  for (size_t k = 0; k < got.frames.size(); ++k) {
    SCOPED_TRACE("video frame " + std::to_string(k));
    EXPECT_TRUE(SamePixels(got.frames[k], expected.frames[k]));
  }
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A .mkv output holds exactly the frames a frame-pattern output gets, each at its input
// frame's time, at the input's frame rate; its parts are gone once it is written.
TEST(VideoCommand, WritesTheFramesAsALosslessVideoAtTheInputsTimes) {
  TempFolder dir;
  WriteFrames(dir.Path());
  TestVideoOptions timing;
  timing.rateNum = 12;
  timing.firstFrame = 30;  // the clip starts at 2.5 s
  WriteLosslessVideo((dir.Path() / "clip.mkv").string(), Clip().frames, timing);
  const std::string range = std::string(" ") + kWindowArgs + " --first 1 --last 5";
  const CliResult r = RunCli("video clip.mkv out/sr.mkv" + range, dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("encoded out/sr.mkv: 5 frames of 96 x 72, lossless FFV1"), std::string::npos) << r.out;
  ASSERT_EQ(RunCli("video ./images/lr-%d.bmp ./sr/sr-%d.bmp" + range, dir.Path()).exitCode, 0);
  EXPECT_EQ(Entries(dir.Path() / "out"), std::vector<std::string>{"sr.mkv"});

  const DecodedVideo input = Decode(dir.Path() / "clip.mkv");
  const DecodedVideo output = Decode(dir.Path() / "out/sr.mkv");
  ASSERT_EQ(output.frames.size(), 5u);
  EXPECT_EQ(output.timing.frameRateNum, 12);
  EXPECT_EQ(output.timing.frameRateDen, 1);
  for (int k = 1; k <= 5; ++k) {
    SCOPED_TRACE("output frame " + std::to_string(k));
    EXPECT_TRUE(SamePixels(output.frames[static_cast<size_t>(k - 1)], ReadImage(dir.Path() / Sr(k))));
    EXPECT_EQ(output.seconds[static_cast<size_t>(k - 1)], input.seconds[static_cast<size_t>(k)]);
  }
  // A video that exists is kept whole.
  const CliResult again = RunCli("video clip.mkv out/sr.mkv" + range, dir.Path());
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.out, "out/sr.mkv is there already and is kept\n");

  // A frame pattern's frames at --fps: frame k at k / fps seconds.
  ASSERT_EQ(RunCli("video ./images/lr-%d.bmp fps.mkv --fps 10" + range, dir.Path()).exitCode, 0);
  const DecodedVideo fps = Decode(dir.Path() / "fps.mkv");
  EXPECT_EQ(fps.timing.frameRateNum, 10);
  EXPECT_EQ(fps.seconds, (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5}));
}

// Range jobs sharing the parts, then the whole-range run that only encodes, make the same
// video as one run; so does a run that resumes from the parts a stopped run left (beside a
// half-written temporary video, which is not taken for the output).
TEST(VideoCommand, RangeJobsAndAResumedRunMakeTheVideoOfOneRun) {
  TempFolder one, ranges, resumed;
  const std::string args = std::string("video ./images/lr-%d.bmp sr.mkv ") + kWindowArgs + " --fps 10";
  for (const TempFolder* dir : {&one, &ranges, &resumed}) WriteFrames(dir->Path());
  ASSERT_EQ(RunCli(args, one.Path()).exitCode, 0);
  EXPECT_EQ(Entries(one.Path()), (std::vector<std::string>{"images", "sr.mkv"}));
  const DecodedVideo expected = Decode(one.Path() / "sr.mkv");
  ASSERT_EQ(expected.frames.size(), static_cast<size_t>(kFrames));

  const CliResult first = RunCli(args + " --first 4 --parts-only", ranges.Path());
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(Lines(first.out).back(), "the parts of frames 4..6 are in sr.mkv.parts; a run without --parts-only encodes sr.mkv");
  ASSERT_EQ(RunCli(args + " --first 0 --last 3 --parts-only", ranges.Path()).exitCode, 0);
  EXPECT_FALSE(fs::exists(ranges.Path() / "sr.mkv"));
  EXPECT_EQ(Entries(ranges.Path() / "sr.mkv.parts").size(), static_cast<size_t>(kFrames));
  const CliResult join = RunCli(args, ranges.Path());
  ASSERT_EQ(join.exitCode, 0) << join.err;
  EXPECT_EQ(Lines(join.out).size(), 2u) << join.out;
  EXPECT_EQ(Lines(join.out).front(), "7 of 7 frames are there already and are kept (in sr.mkv.parts)");
  EXPECT_EQ(Entries(ranges.Path()), (std::vector<std::string>{"images", "sr.mkv"}));
  ExpectSameVideo(Decode(ranges.Path() / "sr.mkv"), expected);

  // What a run stopped after frame 2 leaves: its parts and a temporary video.
  ASSERT_EQ(RunCli(args + " --last 2 --parts-only", resumed.Path()).exitCode, 0);
  WriteText(resumed.Path() / ".sr.mkv.tmp-0123456789abcdef", "half a video");
  const CliResult rest = RunCli(args + " --keep-parts", resumed.Path());
  ASSERT_EQ(rest.exitCode, 0) << rest.err;
  EXPECT_EQ(Lines(rest.out).front(), "3 of 7 frames are there already and are kept (in sr.mkv.parts)");
  EXPECT_EQ(Lines(rest.out).size(), 1u + 4u + 1u) << rest.out;
  ExpectSameVideo(Decode(resumed.Path() / "sr.mkv"), expected);
  // --keep-parts: the lossless frames stay, those of a frame-pattern run.
  EXPECT_EQ(Entries(resumed.Path() / "sr.mkv.parts").size(), static_cast<size_t>(kFrames));
  EXPECT_TRUE(SamePixels(ReadImage(resumed.Path() / "sr.mkv.parts/frame-3.png"), expected.frames[3]));
}

size_t PartsIn(const fs::path& folder) {
  size_t n = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    n += name.rfind("frame-", 0) == 0 && it->path().extension() == ".png" ? 1 : 0;
  }
  return n;
}

// A run killed outright (SIGKILL: no clean-up at all) after its first parts leaves no video
// under the output's name; the next run keeps those parts, makes the rest and encodes the
// video one uninterrupted run makes.
TEST(VideoCommand, AKilledRunResumesFromItsParts) {
  TempFolder one, killed;
  const std::string args = std::string("video ./images/lr-%d.bmp sr.mkv ") + kWindowArgs + " --fps 10";
  WriteFrames(one.Path());
  WriteFrames(killed.Path());
  ASSERT_EQ(RunCli(args, one.Path()).exitCode, 0);

  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(killed.Path().c_str()) != 0) ::_exit(126);
    ::execl("/bin/sh", "sh", "-c", ("exec '" LUMET_CLI_PATH "' " + args + " >/dev/null 2>&1").c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (PartsIn(killed.Path() / "sr.mkv.parts") < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
  const size_t made = PartsIn(killed.Path() / "sr.mkv.parts");
  ASSERT_GE(made, 2u);
  ASSERT_LT(made, static_cast<size_t>(kFrames));
  EXPECT_FALSE(fs::exists(killed.Path() / "sr.mkv"));

  const CliResult resumed = RunCli(args, killed.Path());
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_EQ(Lines(resumed.out).front(),
            std::to_string(made) + " of 7 frames are there already and are kept (in sr.mkv.parts)");
  EXPECT_EQ(Entries(killed.Path()), (std::vector<std::string>{"images", "sr.mkv"}));
  ExpectSameVideo(Decode(killed.Path() / "sr.mkv"), Decode(one.Path() / "sr.mkv"));
}

// The input's audio is copied packet for packet for the time of the output's frames;
// --no-audio leaves it out.
TEST(VideoCommand, CopiesTheInputsAudioUnlessToldNotTo) {
  TempFolder dir;
  TestVideoOptions withSound;
  withSound.audioSeconds = 0.6;  // beyond the clip's 7 frames of 40 ms
  WriteLosslessVideo((dir.Path() / "clip.mkv").string(), Clip().frames, withSound);
  const std::string range = std::string(" ") + kWindowArgs + " --first 1 --last 4";
  const CliResult r = RunCli("video clip.mkv sr.mkv" + range + " --keep-parts", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("audio (pcm_s16le) copied"), std::string::npos) << r.out;
  std::vector<TestPacket> expected;
  for (const TestPacket& p : ReadTestPackets((dir.Path() / "clip.mkv").string(), AVMEDIA_TYPE_AUDIO)) {
    if (p.pts >= 0.04 - 1e-9 && p.pts < 0.20 - 1e-9) expected.push_back(p);
  }
  ASSERT_EQ(expected.size(), 4u);
  EXPECT_EQ(ReadTestPackets((dir.Path() / "sr.mkv").string(), AVMEDIA_TYPE_AUDIO), expected);

  const CliResult silent = RunCli("video clip.mkv silent.mkv" + range + " --no-audio", dir.Path());
  ASSERT_EQ(silent.exitCode, 0) << silent.err;
  EXPECT_EQ(silent.out.find("audio"), std::string::npos) << silent.out;
  EXPECT_TRUE(ReadTestPackets((dir.Path() / "silent.mkv").string(), AVMEDIA_TYPE_AUDIO).empty());
  ExpectSameVideo(Decode(dir.Path() / "silent.mkv"), Decode(dir.Path() / "sr.mkv"));

  // MP4 holds no PCM: refused before any frame is made, naming the way out.
  const CliResult mp4 = RunCli("video clip.mkv sr.mp4" + range, dir.Path());
  if (mp4.err.find("no H.264 encoder") != std::string::npos) GTEST_SKIP() << mp4.err;
  ExpectError(mp4, "--no-audio");
  EXPECT_NE(mp4.err.find("pcm_s16le"), std::string::npos) << mp4.err;
  EXPECT_FALSE(fs::exists(dir.Path() / "sr.mp4.parts"));
  const CliResult h264 = RunCli("video clip.mkv sr.mp4 --no-audio --quality 12" + range, dir.Path());
  ASSERT_EQ(h264.exitCode, 0) << h264.err;
  EXPECT_NE(h264.out.find("encoded sr.mp4: 4 frames of 96 x 72, H.264 at quality 12 in"), std::string::npos) << h264.out;
  const DecodedVideo lossy = Decode(dir.Path() / "sr.mp4");
  ASSERT_EQ(lossy.frames.size(), 4u);
  EXPECT_EQ(lossy.seconds, Decode(dir.Path() / "sr.mkv").seconds);
}

}  // namespace
}  // namespace lumet
