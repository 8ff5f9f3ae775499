// Videos written through the media module and read back through it: lossless FFV1 gives
// back every sample and every time, H.264 comes close, the audio of a source is copied
// packet for packet within the span asked, and nothing half-written is ever under the name.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "imageio/test_video.h"
#include "imageio/video_file.h"
#include "imageio/video_writer.h"
#include "support/expect_error.h"
#include "support/temp_folder.h"

namespace lumet {
namespace {

using testing::ExpectError;
using testing::TempFolder;
namespace fs = std::filesystem;

// Frames of pseudo-random samples: every value of every channel matters.
std::vector<ColorGrayImage> NoiseFrames(int count, int width, int height) {
  uint32_t state = 12345;
  std::vector<ColorGrayImage> frames(static_cast<size_t>(count));
  for (ColorGrayImage& frame : frames) {
    frame.Create(width, height);
    for (auto& channel : frame.channels) {
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          state = state * 1664525u + 1013904223u;
          channel.Row(y)[x] = static_cast<uint8_t>(state >> 24);
        }
      }
    }
  }
  return frames;
}

// Smooth frames (what a lossy codec keeps well).
std::vector<ColorGrayImage> GradientFrames(int count, int width, int height) {
  std::vector<ColorGrayImage> frames(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k) {
    ColorGrayImage& frame = frames[static_cast<size_t>(k)];
    frame.Create(width, height);
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          frame.channels[static_cast<size_t>(c)].Row(y)[x] =
              static_cast<uint8_t>(40 + 3 * x + 2 * y + 20 * c + 5 * k);
        }
      }
    }
  }
  return frames;
}

struct ReadBack {
  VideoTiming timing;
  std::vector<ColorGrayImage> frames;
  std::vector<int64_t> pts;
};

ReadBack ReadVideo(const std::string& path) {
  VideoFile video(path);
  ReadBack back;
  back.timing = video.Timing();
  for (ColorGrayImage frame; video.ReadNext(&frame);) {
    back.frames.push_back(frame);
    back.pts.push_back(video.Pts());
  }
  return back;
}

double Seconds(int64_t pts, const VideoTiming& t) {
  return static_cast<double>(pts) * t.timeBaseNum / t.timeBaseDen;
}

int LargestDifference(const ColorGrayImage& a, const ColorGrayImage& b) {
  int largest = 0;
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) {
        largest = std::max(largest, std::abs(a.channels[c].Row(y)[x] - b.channels[c].Row(y)[x]));
      }
    }
  }
  return largest;
}

double MeanDifference(const ColorGrayImage& a, const ColorGrayImage& b) {
  double sum = 0;
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) sum += std::abs(a.channels[c].Row(y)[x] - b.channels[c].Row(y)[x]);
    }
  }
  return sum / (3.0 * a.Width() * a.Height());
}

bool HasH264Encoder(const TempFolder& dir) {
  try {
    VideoWriter::Check(dir.File("probe.mp4"));
    return true;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("no H.264 encoder"), std::string::npos) << e.what();
    return false;
  }
}

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

// Every sample of every frame and every presentation time come back; the file is under its
// name only once it is complete. Odd sizes included (RGB samples need no even sides).
TEST(VideoWriter, LosslessMatroskaGivesBackEveryFrameAndTime) {
  TempFolder dir;
  const std::string path = dir.File("out/clip.mkv");
  const std::vector<ColorGrayImage> frames = NoiseFrames(5, 37, 23);
  // A millisecond clock (Matroska's own) at 30000/1001 frames a second, from 5 s on.
  const VideoTiming timing{1, 1000, 30000, 1001};
  const std::vector<int64_t> pts = {5000, 5033, 5067, 5100, 5133};
  {
    VideoWriter writer(path, 37, 23, timing, VideoWriter::Options());
    for (size_t k = 0; k < frames.size(); ++k) writer.Write(frames[k], pts[k]);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(FolderEntries(dir.Path() / "out").size(), 1u);  // the temporary file
    writer.Finish();
  }
  EXPECT_EQ(FolderEntries(dir.Path() / "out"), std::vector<std::string>{"clip.mkv"});
  const ReadBack back = ReadVideo(path);
  ASSERT_EQ(back.frames.size(), frames.size());
  EXPECT_EQ(back.timing.frameRateNum, 30000);
  EXPECT_EQ(back.timing.frameRateDen, 1001);
  for (size_t k = 0; k < frames.size(); ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    EXPECT_EQ(LargestDifference(back.frames[k], frames[k]), 0);
    EXPECT_DOUBLE_EQ(Seconds(back.pts[k], back.timing), Seconds(pts[k], timing));
  }

  // A frame rate and clock of their own (a frame pattern's: one tick a frame) are kept too,
  // to Matroska's millisecond.
  const std::string twelve = dir.File("twelve.mkv");
  const VideoTiming frameClock{1, 12, 12, 1};
  {
    VideoWriter writer(twelve, 37, 23, frameClock, VideoWriter::Options());
    for (int k = 0; k < 3; ++k) writer.Write(frames[static_cast<size_t>(k)], k);
    writer.Finish();
  }
  const ReadBack twelveBack = ReadVideo(twelve);
  ASSERT_EQ(twelveBack.frames.size(), 3u);
  EXPECT_EQ(twelveBack.timing.frameRateNum, 12);
  EXPECT_EQ(twelveBack.timing.frameRateDen, 1);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(Seconds(twelveBack.pts[static_cast<size_t>(k)], twelveBack.timing), k / 12.0, 0.0005);
  }
}

// Frames with deep planes of values 8 bits cannot hold (16-bit samples v, as DeepValue
// gives them), each also carrying its 8-bit channels.
std::vector<ColorGrayImage> DeepFrames(int count, int width, int height) {
  std::vector<ColorGrayImage> frames;
  uint32_t state = 777;
  for (int k = 0; k < count; ++k) {
    std::vector<uint16_t> rgb(static_cast<size_t>(width) * height * 3);
    for (uint16_t& v : rgb) {
      state = state * 1664525u + 1013904223u;
      v = static_cast<uint16_t>(state >> 16);
    }
    frames.push_back(FrameOf16BitRgb(rgb, width, height));
  }
  return frames;
}

// The largest difference of the deep planes, in 16-bit steps.
double LargestDeepDifference(const ColorGrayImage& a, const ColorGrayImage& b) {
  double largest = 0;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) {
        largest = std::max(largest, 257.0 * std::fabs(a.deep->channels[c].Row(y)[x] - b.deep->channels[c].Row(y)[x]));
      }
    }
  }
  return largest;
}

// Deep frames at 16 bits come back sample for sample, deep planes and 8-bit channels alike;
// at 10 and 12 bits to within what those bits hold; an 8-bit frame in a 16-bit video comes
// back as its 8-bit values. A 10-bit stream is read deep.
TEST(VideoWriter, DeepFramesKeepTheirSamplesInLosslessMatroska) {
  TempFolder dir;
  const std::vector<ColorGrayImage> frames = DeepFrames(3, 21, 13);
  const VideoTiming timing{1, 25, 25, 1};
  for (const int bits : {16, 12, 10}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    const std::string path = dir.File("deep-" + std::to_string(bits) + ".mkv");
    VideoWriter::Options options;
    options.bitsPerSample = bits;
    {
      VideoWriter writer(path, 21, 13, timing, options);
      for (size_t k = 0; k < frames.size(); ++k) writer.Write(frames[k], static_cast<int64_t>(k));
      writer.Finish();
    }
    const ReadBack back = ReadVideo(path);
    ASSERT_EQ(back.frames.size(), frames.size());
    // A b-bit sample is the 16-bit one rounded to b bits: within half a b-bit step, and the
    // 8-bit channels within one level of the rounded values.
    const double step = 65535.0 / ((1 << bits) - 1);
    for (size_t k = 0; k < frames.size(); ++k) {
      ASSERT_NE(back.frames[k].deep, nullptr);
      EXPECT_FALSE(back.frames[k].deep->floatSamples);
      EXPECT_LE(LargestDeepDifference(back.frames[k], frames[k]), bits == 16 ? 0.01 : step / 2 + 1);
      EXPECT_LE(LargestDifference(back.frames[k], frames[k]), bits == 16 ? 0 : 1);
    }
  }
  const std::string plain = dir.File("plain-16.mkv");
  const std::vector<ColorGrayImage> eight = NoiseFrames(2, 21, 13);
  VideoWriter::Options options;
  options.bitsPerSample = 16;
  {
    VideoWriter writer(plain, 21, 13, timing, options);
    for (int k = 0; k < 2; ++k) writer.Write(eight[static_cast<size_t>(k)], k);
    writer.Finish();
  }
  const ReadBack back = ReadVideo(plain);
  ASSERT_EQ(back.frames.size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(LargestDifference(back.frames[k], eight[k]), 0);
    ASSERT_NE(back.frames[k].deep, nullptr);
    EXPECT_FLOAT_EQ(back.frames[k].deep->channels[1].Row(4)[7], eight[k].channels[1].Row(4)[7]);
  }
}

// Without Finish (an error, a stopped run) nothing is left: neither the name nor the
// temporary file.
TEST(VideoWriter, AnUnfinishedVideoLeavesNothing) {
  TempFolder dir;
  const std::vector<ColorGrayImage> frames = NoiseFrames(2, 16, 8);
  {
    VideoWriter writer(dir.File("clip.mkv"), 16, 8, VideoTiming{}, VideoWriter::Options());
    writer.Write(frames[0], 0);
    writer.Write(frames[1], 1);
    // Times must increase.
    ExpectError([&] { writer.Write(frames[0], 1); }, {"clip.mkv", "not after the frame before it"});
    ExpectError([&] { writer.Write(NoiseFrames(1, 8, 8)[0], 2); }, {"clip.mkv", "8 x 8", "16 x 8"});
  }
  EXPECT_TRUE(FolderEntries(dir.Path()).empty());
}

// H.264 in MP4 when this FFmpeg has libx264: close to the frames at a high quality, further
// at a low one, with the times kept; odd sides are written too.
TEST(VideoWriter, H264KeepsTheFramesCloselyAndTheirTimes) {
  TempFolder dir;
  if (!HasH264Encoder(dir)) GTEST_SKIP() << "this FFmpeg has no H.264 encoder";
  const VideoTiming timing{1, 25, 25, 1};
  for (const auto& [w, h] : {std::pair{32, 24}, std::pair{33, 25}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    const std::vector<ColorGrayImage> frames = GradientFrames(6, w, h);
    double mean[2] = {0, 0};
    const int qualities[2] = {5, 45};
    for (int q = 0; q < 2; ++q) {
      const std::string path = dir.File("clip-" + std::to_string(w) + "-" + std::to_string(q) + ".mp4");
      VideoWriter::Options options;
      options.quality = qualities[q];
      VideoWriter writer(path, w, h, timing, options);
      for (size_t k = 0; k < frames.size(); ++k) writer.Write(frames[k], 10 + static_cast<int64_t>(k));
      writer.Finish();
      const ReadBack back = ReadVideo(path);
      ASSERT_EQ(back.frames.size(), frames.size());
      for (size_t k = 0; k < frames.size(); ++k) {
        mean[q] += MeanDifference(back.frames[k], frames[k]) / static_cast<double>(frames.size());
        EXPECT_NEAR(Seconds(back.pts[k], back.timing), (10.0 + static_cast<double>(k)) / 25.0, 1e-6);
      }
      EXPECT_EQ(back.timing.frameRateNum * 1, 25 * back.timing.frameRateDen);
    }
    EXPECT_LT(mean[0], 1.5);
    EXPECT_GT(mean[1], mean[0]);
  }
}

// The source's audio packets presented within the span are copied unchanged, with their
// times; none outside it.
TEST(VideoWriter, CopiesTheAudioPacketsOfTheSpan) {
  TempFolder dir;
  const std::string source = dir.File("source.mkv");
  testing::TestVideoOptions sourceOptions;
  sourceOptions.audioSeconds = 1.0;
  const std::vector<ColorGrayImage> frames = NoiseFrames(10, 16, 8);
  testing::WriteLosslessVideo(source, frames, sourceOptions);
  const ReadBack in = ReadVideo(source);
  ASSERT_EQ(in.frames.size(), 10u);
  const std::vector<testing::TestPacket> sound = testing::ReadTestPackets(source, AVMEDIA_TYPE_AUDIO);
  ASSERT_EQ(sound.size(), 25u);  // 1 s of 40 ms packets

  EXPECT_EQ(VideoWriter::Check(dir.File("out.mkv"), source), "pcm_s16le");
  // Frames 2 .. 6 (0.08 s .. 0.28 s): the packets at 0.08 .. 0.24 s.
  VideoWriter::Options options;
  options.audioSource = source;
  options.audioFrom = in.pts[2];
  options.audioTo = in.pts[7];
  {
    VideoWriter writer(dir.File("out.mkv"), 16, 8, in.timing, options);
    for (size_t k = 2; k <= 6; ++k) writer.Write(in.frames[k], in.pts[k]);
    writer.Finish();
  }
  std::vector<testing::TestPacket> expected;
  for (const testing::TestPacket& p : sound) {
    if (p.pts >= Seconds(in.pts[2], in.timing) - 1e-9 && p.pts < Seconds(in.pts[7], in.timing) - 1e-9) {
      expected.push_back(p);
    }
  }
  ASSERT_EQ(expected.size(), 5u);
  EXPECT_EQ(testing::ReadTestPackets(dir.File("out.mkv"), AVMEDIA_TYPE_AUDIO), expected);
  const ReadBack out = ReadVideo(dir.File("out.mkv"));
  ASSERT_EQ(out.frames.size(), 5u);
  EXPECT_EQ(out.pts, std::vector<int64_t>(in.pts.begin() + 2, in.pts.begin() + 7));

  // A source without audio gives a video without audio.
  testing::WriteLosslessVideo(dir.File("silent.mkv"), frames);
  EXPECT_EQ(VideoWriter::Check(dir.File("out2.mkv"), dir.File("silent.mkv")), "");
}

TEST(VideoWriter, RefusesWhatItCannotWrite) {
  TempFolder dir;
  ExpectError([&] { VideoWriter::Check(dir.File("clip.avi")); }, {"clip.avi", ".mkv", ".mp4", ".avi"});
  ExpectError([&] { VideoWriter(dir.File("clip.webm"), 8, 8, VideoTiming{}, VideoWriter::Options()); },
              {"clip.webm", ".mkv"});
  // A folder that cannot be made: a file is in its way.
  testing::WriteText(dir.Path() / "file", "x");
  ExpectError([&] { VideoWriter(dir.File("file/clip.mkv"), 8, 8, VideoTiming{}, VideoWriter::Options()); },
              {"file/clip.mkv", "cannot create folder"});
  // Depths the stream cannot store.
  VideoWriter::Options nine;
  nine.bitsPerSample = 9;
  ExpectError([&] { VideoWriter(dir.File("nine.mkv"), 8, 8, VideoTiming{}, nine); }, {"nine.mkv", "8, 10, 12 or 16"});
  if (HasH264Encoder(dir)) {
    VideoWriter::Options deep;
    deep.bitsPerSample = 16;
    ExpectError([&] { VideoWriter(dir.File("deep.mp4"), 8, 8, VideoTiming{}, deep); },
                {"deep.mp4", "H.264 output holds 8 bits", ".mkv"});
  }
  // PCM sound has no place in MP4.
  if (HasH264Encoder(dir)) {
    testing::TestVideoOptions withSound;
    withSound.audioSeconds = 0.2;
    testing::WriteLosslessVideo(dir.File("source.mkv"), NoiseFrames(2, 8, 8), withSound);
    ExpectError([&] { VideoWriter::Check(dir.File("clip.mp4"), dir.File("source.mkv")); },
                {"clip.mp4", "pcm_s16le", "--no-audio"});
  }
  for (const std::string& name : FolderEntries(dir.Path())) EXPECT_TRUE(name == "file" || name == "source.mkv") << name;
}

}  // namespace
}  // namespace lumet
