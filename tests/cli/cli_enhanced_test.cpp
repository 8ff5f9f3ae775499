#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "imageio/bmp_file.h"
#include "imageio/image_file.h"
#include "support/dng_writer.h"
#include "support/temp_folder.h"

namespace lumet::testing {
namespace {

namespace fs = std::filesystem;

TEST(CliEnhanced, ItsValuesAreRefusedBeforeAnythingIsReadOrWritten) {
  TempFolder dir;
  const struct {
    const char* args;
    const char* named;
  } cases[] = {
      {"reconstruct --iterations 0", "iteration cap 0 is out of range (allowed: 1 to 100000)"},
      {"run --iterations 100001", "iteration cap 100001"},
      {"reconstruct --tolerance 1.5", "tolerance 1.5"},
      {"run --tolerance -0.5", "tolerance -0.5"},
      {"run --method enhanced --beta 0", "beta 0 is out of range for the enhanced method"},
      {"register --method enhanced --lambda -1", "lambda -1 is out of range for the enhanced method"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    ExpectError(RunCli(c.args, dir.Path()), c.named);
    EXPECT_FALSE(fs::exists(dir.Path() / "param.txt"));
  }
  ExpectError(RunCli("demo --method fast demo", dir.Path()), "--method fast");
  EXPECT_FALSE(fs::exists(dir.Path() / "demo"));
}

TEST(CliEnhanced, RunEnhancedWritesTheClassicFilesAndStoresTheMethod) {
  TempFolder dir;
  ASSERT_EQ(RunCli("synth seq --lr-count 3 --size 220x160 --seed 5", dir.Path()).exitCode, 0);
  const CliResult r = RunCli("-C seq run --method enhanced --roi 168,108,16,16 --iterations 10", dir.Path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Enhanced = "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(", 4/4 frames"), std::string::npos) << r.out;
  for (const char* file : {"result/hr.bmp", "result/first_lr.bmp", "result/hr_hom-3.txt", "steet_rms.txt"}) {
    EXPECT_TRUE(fs::exists(dir.Path() / "seq" / file)) << file;
  }
  const std::string stored = ReadText(dir.Path() / "seq" / "param.txt");
  EXPECT_NE(stored.find("\nmethod enhanced\niterations 10"), std::string::npos) << stored;
}

// The synthetic sequence of the depth tests, in dir/seq.
fs::path SynthesizedSequence(const fs::path& dir) {
  EXPECT_EQ(RunCli("synth seq --lr-count 4 --size 220x160 --seed 5", dir).exitCode, 0);
  return dir / "seq";
}

ColorGrayImage ReadImage(const fs::path& file) {
  ColorGrayImage image;
  ReadImageFile(file.string(), image);
  return image;
}

// The frames of seq/images/lr-K.bmp as 16-bit PNG files seq/images/deep-K.png whose 8-bit
// cut is the BMP's frame itself: each level a becomes the sample a * 257 + d, d in 0 .. 99,
// which rounds back to a.
void WriteSixteenBitFrames(const fs::path& seq, int count) {
  for (int k = 0; k < count; ++k) {
    ColorGrayImage frame;
    BmpFile::ReadFrame((seq / ("images/lr-" + std::to_string(k) + ".bmp")).string(), frame);
    ColorDoubleImage samples;
    samples.Create(frame.Width(), frame.Height());
    for (size_t c = 0; c < 3; ++c) {
      for (int y = 0; y < frame.Height(); ++y) {
        for (int x = 0; x < frame.Width(); ++x) {
          const int d = (x * 7 + y * 3 + static_cast<int>(c) * 11 + k * 5) % 100;
          samples.channels[c].Row(y)[x] = (frame.channels[c].Row(y)[x] * 257 + d + 0.5) / 257.0;
        }
      }
    }
    WriteEstimate16Bit((seq / ("images/deep-" + std::to_string(k) + ".png")).string(), samples, ImageFormat::Png);
  }
}

TEST(CliEnhanced, SixteenBitFramesGiveASixteenBitResultWhoseCutIsTheEightBitOne) {
  TempFolder dir;
  const fs::path seq = SynthesizedSequence(dir.Path());
  WriteSixteenBitFrames(seq, 5);
  const std::string deep = " --lr-pattern images/deep-%d.png --roi 168,108,16,16 --iterations 10 --lr-count 4";
  const auto read = [&](const char* file) { return ReadImage(seq / file); };
  const auto copy = [&](const char* from, const char* to) {
    fs::copy_file(seq / from, seq / to, fs::copy_options::overwrite_existing);
  };

  // Enhanced: a PNG result from 16-bit frames is 16-bit by default; its samples over 257
  // are the 8-bit result --depth 8 writes.
  CliResult r = RunCli("run --method enhanced --format png" + deep, seq);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadText(seq / "result/hr.png")[24], 16);  // IHDR's bit depth
  copy("result/hr.png", "deep16.png");
  r = RunCli("reconstruct --method enhanced --format png --depth 8" + deep, seq);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadText(seq / "result/hr.png")[24], 8);
  const ColorGrayImage sixteen = read("deep16.png");
  const ColorGrayImage eight = read("result/hr.png");
  ASSERT_NE(sixteen.deep, nullptr);
  ASSERT_EQ(sixteen.Width(), eight.Width());
  int fractions = 0;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < eight.Height(); ++y) {
      for (int x = 0; x < eight.Width(); ++x) {
        const long u = std::lround(sixteen.deep->channels[c].Row(y)[x] * 257.0);
        ASSERT_EQ(u / 257, eight.channels[static_cast<size_t>(c)].Row(y)[x]) << c << " " << x << " " << y;
        fractions += u % 257 != 0 ? 1 : 0;
      }
    }
  }
  EXPECT_GT(fractions, 0);
  // The enhanced method read the deep samples: the 8-bit frames give another estimate.
  const std::string eightBit = " --lr-pattern images/lr-%d.bmp --roi 168,108,16,16 --iterations 10 --lr-count 4";
  ASSERT_EQ(RunCli("reconstruct --method enhanced --format png --depth 16" + eightBit, seq).exitCode, 0);
  EXPECT_TRUE(ReadText(seq / "result/hr.png") != ReadText(seq / "deep16.png"));
  // BMP holds 8 bits alone; TIFF 16 alone.
  ExpectError(RunCli("reconstruct --method enhanced --depth 16" + deep, seq), "--depth 16");
  ExpectError(RunCli("reconstruct --method enhanced --format tiff --depth 8" + deep, seq), "--depth 8");

  // Registration and the classic method read the 8-bit channels: the same result as from
  // the BMP frames they round to.
  ASSERT_EQ(RunCli("run --method classic --depth 8 --format png" + deep, seq).exitCode, 0);
  copy("result/hr.png", "classic-deep.png");
  ASSERT_EQ(RunCli("run --method classic --format png" + eightBit, seq).exitCode, 0);
  EXPECT_TRUE(ReadText(seq / "result/hr.png") == ReadText(seq / "classic-deep.png"));
}

// A burst of camera raw files: the frames of seq/images/lr-K.bmp as DNG mosaics (their
// levels taken as linear), each with a small preview first. The run registers and
// reconstructs the developed raw images, and comes close to the run on the BMP frames
// (the mosaic keeps a third of each frame's samples; demosaicing makes up the rest).
TEST(CliEnhanced, ADngBurstIsReconstructedFromItsRawImages) {
  TempFolder dir;
  ASSERT_EQ(RunCli("synth seq --lr-count 4 --size 220x160 --seed 5", dir.Path()).exitCode, 0);
  const fs::path seq = dir.Path() / "seq";
  for (int k = 0; k < 5; ++k) {
    ColorGrayImage frame;
    BmpFile::ReadFrame((seq / ("images/lr-" + std::to_string(k) + ".bmp")).string(), frame);
    DngLayout layout;
    layout.width = frame.Width();
    layout.height = frame.Height();
    layout.scene = [&](int x, int y, int colour) { return frame.channels[static_cast<size_t>(colour)].Row(y)[x] / 255.0; };
    ASSERT_TRUE(WriteDng((seq / ("images/raw-" + std::to_string(k) + ".dng")).string(), layout));
  }
  const std::string common = " --method enhanced --format png --roi 168,108,16,16 --iterations 10 --lr-count 4";
  CliResult r = RunCli("run --lr-pattern images/raw-%d.dng" + common, seq);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadText(seq / "result/hr.png")[24], 16);  // deep frames, a 16-bit result
  fs::copy_file(seq / "result/hr.png", seq / "raw.png");
  r = RunCli("run --lr-pattern images/lr-%d.bmp" + common, seq);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ColorGrayImage fromRaw, fromBmp;
  ReadImageFile((seq / "raw.png").string(), fromRaw);
  ReadImageFile((seq / "result/hr.png").string(), fromBmp);
  ASSERT_EQ(fromRaw.Width(), 64);
  ASSERT_EQ(fromRaw.Height(), 64);
  ASSERT_EQ(fromBmp.Width(), 64);
  double squares = 0;
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        const double d = fromRaw.channels[c].Row(y)[x] - fromBmp.channels[c].Row(y)[x];
        squares += d * d;
      }
    }
  }
  const double psnr = 10 * std::log10(255.0 * 255.0 / (squares / (3 * 64 * 64)));
  // 21.7 dB here: the synthetic chart is sharp to the pixel, where demosaicing errs most.
  EXPECT_GT(psnr, 18.0) << "the raw burst's result is far from the frames' own";
}

// The frames of seq/images/lr-K.bmp as OpenEXR float files seq/images/float-K.exr whose
// 8-bit cut is the BMP's frame itself: each level a becomes (a + d) / 255, d within +-0.45.
void WriteFloatFrames(const fs::path& seq, int count) {
  for (int k = 0; k < count; ++k) {
    ColorGrayImage frame;
    BmpFile::ReadFrame((seq / ("images/lr-" + std::to_string(k) + ".bmp")).string(), frame);
    const size_t w = static_cast<size_t>(frame.Width());
    std::vector<float> rgb(w * static_cast<size_t>(frame.Height()) * 3);
    for (size_t c = 0; c < 3; ++c) {
      for (int y = 0; y < frame.Height(); ++y) {
        for (size_t x = 0; x < w; ++x) {
          const size_t step = (x * 7 + static_cast<size_t>(y) * 3 + c * 11 + static_cast<size_t>(k) * 5) % 100;
          const double d = 0.009 * static_cast<double>(step) - 0.45;
          rgb[(static_cast<size_t>(y) * w + x) * 3 + c] = static_cast<float>((frame.channels[c].Row(y)[x] + d) / 255.0);
        }
      }
    }
    WriteSamplesFloat((seq / ("images/float-" + std::to_string(k) + ".exr")).string(), frame.Width(), frame.Height(),
                      rgb, ImageFormat::Exr);
  }
}

TEST(CliEnhanced, FloatFramesGiveAFloatResultInOpenExrAndTiffAndSixteenBitsInPng) {
  TempFolder dir;
  const fs::path seq = SynthesizedSequence(dir.Path());
  WriteFloatFrames(seq, 5);
  const std::string floats = " --lr-pattern images/float-%d.exr --roi 168,108,16,16 --iterations 10 --lr-count 4";

  // OpenEXR and TIFF hold the estimate unquantised, both the same floats; --depth 8 cuts it.
  CliResult r = RunCli("run --method enhanced --format exr" + floats, seq);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const ColorGrayImage exr = ReadImage(seq / "result/hr.exr");
  r = RunCli("reconstruct --method enhanced --format tiff" + floats, seq);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const ColorGrayImage tiff = ReadImage(seq / "result/hr.tif");
  r = RunCli("reconstruct --method enhanced --format png --depth 8" + floats, seq);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const ColorGrayImage eight = ReadImage(seq / "result/hr.png");
  ASSERT_NE(exr.deep, nullptr);
  ASSERT_NE(tiff.deep, nullptr);
  EXPECT_TRUE(exr.deep->floatSamples);
  EXPECT_TRUE(tiff.deep->floatSamples);
  ASSERT_EQ(exr.Width(), eight.Width());
  int fractions = 0;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < eight.Height(); ++y) {
      for (int x = 0; x < eight.Width(); ++x) {
        const float v = exr.deep->channels[c].Row(y)[x];
        ASSERT_EQ(v, tiff.deep->channels[c].Row(y)[x]) << c << " " << x << " " << y;
        // The 8-bit result truncates the estimate; the float one holds it within a float's rounding.
        const double e = std::clamp(static_cast<double>(v), 0.0, 255.0);
        const int a = eight.channels[static_cast<size_t>(c)].Row(y)[x];
        ASSERT_TRUE(e > a - 1e-3 && e < a + 1 + 1e-3) << v << " against " << a;
        fractions += std::fabs(v - std::round(v)) > 0.01 ? 1 : 0;
      }
    }
  }
  EXPECT_GT(fractions, eight.Width() * eight.Height());
  // --depth half: the same estimate as OpenEXR half floats, within their 11 significant bits.
  r = RunCli("reconstruct --method enhanced --format exr --depth half" + floats, seq);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string halfFile = ReadText(seq / "result/hr.exr");
  EXPECT_NE(halfFile.find(std::string("B\0\x01\0\0\0", 6)), std::string::npos) << "channel B of pixel type half";
  const ColorGrayImage half = ReadImage(seq / "result/hr.exr");
  ASSERT_NE(half.deep, nullptr);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < eight.Height(); ++y) {
      for (int x = 0; x < eight.Width(); ++x) {
        const float v = exr.deep->channels[c].Row(y)[x];
        ASSERT_NEAR(half.deep->channels[c].Row(y)[x], v, 1e-3 * std::fabs(v) + 1e-4) << c << " " << x << " " << y;
      }
    }
  }
  ExpectError(RunCli("reconstruct --method enhanced --format tiff --depth half" + floats, seq), "--depth half");
  // PNG holds 16 bits at most: the default from float frames.
  ASSERT_EQ(RunCli("reconstruct --method enhanced --format png" + floats, seq).exitCode, 0);
  EXPECT_EQ(ReadText(seq / "result/hr.png")[24], 16);  // IHDR's bit depth
  ExpectError(RunCli("reconstruct --method enhanced --format exr --depth 16" + floats, seq), "--depth 16");
  ExpectError(RunCli("reconstruct --method enhanced --format png --depth float" + floats, seq), "--depth float");
  ExpectError(RunCli("reconstruct --method enhanced --depth float" + floats, seq), "--depth float");

  // Registration and the classic method read the 8-bit cut: the same files as from the BMP
  // frames it is.
  ASSERT_EQ(RunCli("run --method classic" + floats, seq).exitCode, 0);
  fs::copy_file(seq / "result/hr.bmp", seq / "classic-float.bmp");
  fs::copy_file(seq / "result/hr_hom-3.txt", seq / "classic-float_hom-3.txt");
  ASSERT_EQ(RunCli("run --method classic --lr-pattern images/lr-%d.bmp --roi 168,108,16,16 --iterations 10 --lr-count 4",
                   seq).exitCode, 0);
  EXPECT_TRUE(ReadText(seq / "result/hr.bmp") == ReadText(seq / "classic-float.bmp"));
  EXPECT_TRUE(ReadText(seq / "result/hr_hom-3.txt") == ReadText(seq / "classic-float_hom-3.txt"));
}

// The names after "read " in a --record file, in order.
std::vector<std::string> ReadInRecord(const fs::path& file) {
  std::vector<std::string> read;
  for (const std::string& line : Lines(ReadText(file))) {
    if (line.rfind("read ", 0) == 0) read.push_back(line.substr(5));
  }
  return read;
}

// Frames 0 .. last and the homography files 1 .. lastHomography (0: none).
std::vector<std::string> FramesAndHomographies(int last, int lastHomography) {
  std::vector<std::string> names;
  for (int k = 0; k <= last; ++k) names.push_back("./images/lr-" + std::to_string(k) + ".bmp");
  for (int k = 1; k <= lastHomography; ++k) names.push_back("./result/hr_hom-" + std::to_string(k) + ".txt");
  return names;
}

// A batch tells an up-to-date job by the files its record names: each method's record names
// the frames and homography files that method reads (the enhanced one the last registered
// frame too), a run none of the homography files it wrote itself.
TEST(CliEnhanced, TheRecordNamesTheFramesAndHomographiesTheMethodReads) {
  TempFolder dir;
  ASSERT_EQ(RunCli("synth seq --lr-count 3 --size 220x160 --seed 5", dir.Path()).exitCode, 0);
  const std::string job = " --roi 168,108,16,16 --iterations 5 --record rec.txt";
  const struct {
    const char* command;
    std::vector<std::string> read;
  } cases[] = {
      {"register", FramesAndHomographies(3, 0)},
      {"reconstruct --method classic", FramesAndHomographies(2, 2)},
      {"reconstruct --method enhanced", FramesAndHomographies(3, 3)},
      {"run --method enhanced", FramesAndHomographies(3, 0)},
      {"run --method classic", FramesAndHomographies(3, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const CliResult r = RunCli(std::string("-C seq ") + c.command + job, dir.Path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadInRecord(dir.Path() / "seq/rec.txt"), c.read);
    fs::remove(dir.Path() / "seq/rec.txt");
  }
}

}  // namespace
}  // namespace lumet::testing
