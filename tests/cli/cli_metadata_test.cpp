// Frame 0's ICC profile and EXIF block through a whole run: kept in a PNG result, the ICC
// profile alone in a TIFF one, and a BMP result, byte for byte as ever, with one warning
// naming what it dropped.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/cli_runner.h"
#include "imageio/image_file.h"
#include "support/metadata_blobs.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

// The lines of text that hold what.
long LinesHolding(const std::string& text, const std::string& what) {
  const auto lines = Lines(text);
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(what) != std::string::npos; });
}

TEST(CliMetadata, FrameZerosProfileAndExifGoWhereTheResultsFormatHoldsThemAndTheRestIsNamed) {
  TempFolder dir;
  ASSERT_EQ(RunCli("synth seq --lr-count 3 --size 220x160 --seed 3", dir.Path()).exitCode, 0);
  const fs::path seq = dir.Path() / "seq";
  const FileMetadata metadata{TestIccProfile(2000), TestExif(8)};
  // The frames as PNG files, frame 0 with a profile and EXIF.
  for (int k = 0; k <= 3; ++k) {
    ColorGrayImage frame;
    ReadImageFile((seq / "images" / ("lr-" + std::to_string(k) + ".bmp")).string(), frame);
    if (k == 0) frame.metadata = std::make_shared<const FileMetadata>(metadata);
    WriteImageFile((seq / "images" / ("lr-" + std::to_string(k) + ".png")).string(), frame, ImageFormat::Png);
  }
  const std::string pngFrames = "--lr-pattern ./images/lr-%d.png --lr-count 3 ";

  const CliResult png = RunCli("run " + pngFrames + "-o out/hr.png", seq);
  ASSERT_EQ(png.exitCode, 0) << png.err;
  EXPECT_EQ(LinesHolding(png.err, "Warning"), 0) << png.err;
  for (const char* file : {"out/hr.png", "result/first_lr.png"}) {
    SCOPED_TRACE(file);
    ColorGrayImage result;
    ReadImageFile((seq / file).string(), result);
    EXPECT_EQ(result.Width(), 160);  // the result's own size; the EXIF block is frame 0's, unchanged
    ASSERT_NE(result.metadata, nullptr);
    EXPECT_EQ(result.metadata->iccProfile, metadata.iccProfile);
    EXPECT_EQ(result.metadata->exif, metadata.exif);
  }

  // TIFF: the profile, and the EXIF's orientation in its own first directory beside an EXIF one.
  const CliResult tiff = RunCli("reconstruct " + pngFrames + "-o out/hr.tif", seq);
  ASSERT_EQ(tiff.exitCode, 0) << tiff.err;
  EXPECT_EQ(LinesHolding(tiff.err, "Warning"), 0) << tiff.err;
  ColorGrayImage tiffResult;
  ReadImageFile((seq / "out/hr.tif").string(), tiffResult);
  ASSERT_NE(tiffResult.metadata, nullptr);
  EXPECT_EQ(tiffResult.metadata->iccProfile, metadata.iccProfile);
  EXPECT_EQ(testing::ExifEntry(tiffResult.metadata->exif, 0, 0x0112), testing::ShortTag(0x0112, 8));

  // What TIFF has no place for is named: a thumbnail.
  ColorGrayImage frame0;
  ReadImageFile((seq / "images/lr-0.png").string(), frame0);
  frame0.metadata = std::make_shared<const FileMetadata>(FileMetadata{
      "", testing::CameraExif({testing::AsciiTag(0x010F, "Lumet Optics")}, {testing::RationalTag(0x829A, 1, 60)}, {},
                              true)});
  WriteImageFile((seq / "images/lr-0.png").string(), frame0, ImageFormat::Png);
  const CliResult thumbnail = RunCli("reconstruct " + pngFrames + "-o out/hr.tif", seq);
  ASSERT_EQ(thumbnail.exitCode, 0) << thumbnail.err;
  EXPECT_EQ(LinesHolding(thumbnail.err, "Warning"), 1) << thumbnail.err;
  EXPECT_NE(thumbnail.err.find("Warning: frame 0: its EXIF thumbnail is not kept in out/hr.tif and "
                               "./result/first_lr.tif (a TIFF result keeps the EXIF, GPS and interoperability "
                               "directories and the description, camera, date and resolution tags of the first); "
                               "write PNG to keep it\n"),
            std::string::npos)
      << thumbnail.err;
  ReadImageFile((seq / "out/hr.tif").string(), tiffResult);
  ASSERT_NE(tiffResult.metadata, nullptr);
  EXPECT_EQ(testing::ExifEntry(tiffResult.metadata->exif, 0x8769, 0x829A), testing::RationalTag(0x829A, 1, 60));
  frame0.metadata = std::make_shared<const FileMetadata>(metadata);
  WriteImageFile((seq / "images/lr-0.png").string(), frame0, ImageFormat::Png);

  // BMP: the same bytes as from frames without metadata, and the one warning.
  const CliResult bmp = RunCli("reconstruct " + pngFrames + "-o out/hr.bmp", seq);
  ASSERT_EQ(bmp.exitCode, 0) << bmp.err;
  EXPECT_EQ(LinesHolding(bmp.err, "Warning"), 1) << bmp.err;
  EXPECT_NE(bmp.err.find("Warning: frame 0: its ICC profile and EXIF are not kept in out/hr.bmp and "
                         "./result/first_lr.bmp (BMP holds neither); write PNG or TIFF to keep them\n"),
            std::string::npos)
      << bmp.err;
  const std::string fromPng = ReadText(seq / "out/hr.bmp");
  const CliResult plain = RunCli("reconstruct --lr-pattern ./images/lr-%d.bmp --lr-count 3 -o out/hr.bmp", seq);
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(LinesHolding(plain.err, "Warning"), 0) << plain.err;
  EXPECT_TRUE(ReadText(seq / "out/hr.bmp") == fromPng);
}

}  // namespace
}  // namespace lumet
