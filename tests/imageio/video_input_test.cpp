// A video name is read as the one regular file it names: containers that name other files
// (playlists) are refused by name, FIFOs are refused at once, and none of it blocks.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "imageio/test_video.h"
#include "imageio/video_file.h"
#include "support/bounded_run.h"
#include "support/expect_error.h"
#include "support/temp_folder.h"
#include "util/atomic_file.h"

namespace lumet {
namespace {

using testing::ExpectError;
using testing::TempFolder;

std::vector<ColorGrayImage> Frames(int count) {
  std::vector<ColorGrayImage> frames(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k) {
    frames[static_cast<size_t>(k)].Create(16, 8);
    for (auto& channel : frames[static_cast<size_t>(k)].channels) channel.Fill(static_cast<uint8_t>(30 * k));
  }
  return frames;
}

TEST(VideoInput, PlaylistsAndOtherContainersThatNameFilesAreRefusedByName) {
  TempFolder dir;
  testing::WriteLosslessVideo(dir.File("real.mkv"), Frames(3));
  ASSERT_EQ(::mkfifo(dir.File("pipe.ts").c_str(), 0600), 0);
  const std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" + dir.File("real.mkv") +
                               "\n#EXTINF:1,\n" + dir.File("pipe.ts") + "\n#EXT-X-ENDLIST\n";
  WriteFileAtomically(dir.File("clip.mp4"), playlist);
  WriteFileAtomically(dir.File("list.mkv"), "ffconcat version 1.0\nfile '" + dir.File("real.mkv") + "'\n");
  struct Case {
    const char* name;
    std::vector<std::string> parts;
  };
  const Case cases[] = {{"clip.mp4", {"hls", "not a video container"}},
                        {"list.mkv", {"concat", "not a video container"}},
                        {"pipe.ts", {"FIFO"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    // In a child with a time limit: before, the playlist's FIFO blocked the reader for good.
    const testing::BoundedOutcome outcome = testing::RunBounded(
        [&] {
          std::vector<std::string> parts = c.parts;
          parts.push_back(path);
          const std::string message = ExpectError([&] { VideoFile video(path); }, parts);
          return message.empty() || ::testing::Test::HasFailure() ? 1 : 0;
        },
        20.0);
    EXPECT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0);
    // The same checks in this process, for the messages in the test's output.
    if (outcome.finished) {
      std::vector<std::string> parts = c.parts;
      parts.push_back(path);
      ExpectError([&] { VideoFile video(path); }, parts);
    }
  }
  VideoFile real(dir.File("real.mkv"));
  ColorGrayImage frame;
  EXPECT_TRUE(real.ReadNext(&frame));
  EXPECT_EQ(frame.Width(), 16);
}

}  // namespace
}  // namespace lumet
