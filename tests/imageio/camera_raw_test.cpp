// Camera raw frames: DNG files made here as cameras lay them out, read through the media
// module.
#include <tiffio.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imageio/image_file.h"
#include "support/dng_writer.h"
#include "support/temp_folder.h"
#include "util/error.h"

namespace lumet {
namespace {

using testing::DngLayout;
using testing::TempFolder;
using testing::WriteDng;

TEST(CameraRaw, ADngGivesItsRawImageDevelopedNotItsPreview) {
  TempFolder dir;
  const std::string path = dir.File("burst-0.dng");
  ASSERT_TRUE(WriteDng(path, {}));
  ColorGrayImage image;
  ReadImageFile(path, image);
  // The mosaic's size, not the 16 x 12 preview's.
  ASSERT_EQ(image.Width(), 64);
  ASSERT_EQ(image.Height(), 48);
  ASSERT_NE(image.deep, nullptr);
  // Its samples are linear light, integers though they are (no transfer curve to undo).
  EXPECT_TRUE(image.deep->linearSamples);
  EXPECT_FALSE(image.deep->floatSamples);
  // Black level off, white level at full scale, the white balance applied: a grey scene
  // is grey again, linear (0.25 and 0.75 of white), away from the step between them.
  for (int c = 0; c < 3; ++c) {
    const FloatImage& deep = image.deep->channels[static_cast<size_t>(c)];
    for (int y = 4; y < 44; y += 7) {
      for (const auto& [x, level] : {std::pair{6, 0.25}, {20, 0.25}, {44, 0.75}, {58, 0.75}}) {
        EXPECT_NEAR(deep.Row(y)[x], level * 255.0, 1.5) << "channel " << c << " at " << x << ", " << y;
      }
    }
  }
}

TEST(CameraRaw, ADngWithoutARawImageIsRefusedNamingIt) {
  TempFolder dir;
  const std::string path = dir.File("preview-only.dng");
  DngLayout layout;
  layout.raw = false;
  ASSERT_TRUE(WriteDng(path, layout));
  ColorGrayImage image;
  try {
    ReadImageFile(path, image);
    FAIL() << "the preview was taken for the frame (" << image.Width() << " x " << image.Height() << ")";
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("preview-only.dng"), std::string::npos) << message;
    EXPECT_NE(message.find("no raw image"), std::string::npos) << message;
  }
}

// A plain TIFF that is no camera's is still read as it is, even one that calls itself a
// reduced-size picture (as a camera's preview does).
TEST(CameraRaw, PlainTiffsAreReadAsBefore) {
  TempFolder dir;
  const std::string path = dir.File("reduced.tif");
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 8);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 4);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  for (int y = 0; y < 4; ++y) {
    std::vector<uint8_t> row(24);
    for (int i = 0; i < 24; ++i) row[static_cast<size_t>(i)] = static_cast<uint8_t>(10 * y + i);
    TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0);
  }
  TIFFClose(t);
  ColorGrayImage image;
  ReadImageFile(path, image);
  ASSERT_EQ(image.Width(), 8);
  ASSERT_EQ(image.Height(), 4);
  EXPECT_EQ(image.channels[0].Row(2)[3], 29);  // 10 * 2 + 3 * 3
  EXPECT_EQ(image.channels[2].Row(3)[7], 53);  // 10 * 3 + 7 * 3 + 2
}

}  // namespace
}  // namespace lumet
