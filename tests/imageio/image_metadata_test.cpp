// A frame's ICC profile and EXIF block: read from PNG, JPEG and TIFF files made here with each
// format's own library, carried byte for byte into the PNG and TIFF files the program writes
// (read back with those libraries again), and named when a format cannot hold them.

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "imageio/image_file.h"
#include "support/jpeg_writer.h"
#include "support/metadata_blobs.h"
#include "support/temp_folder.h"

namespace lumet {
namespace {

using testing::TempFolder;
using testing::TestExif;
using testing::TestIccProfile;

// What a PNG file's iCCP and eXIf chunks hold, as libpng reads them.
struct PngMetadata {
  std::string profileName;
  std::string profile;
  std::string exif;
};

// A w x h 8-bit PNG of colourType (RGB or grey), pixel (x, y) of value x * 9 + y (every
// channel), with an iCCP chunk of profile and an eXIf chunk of exif where they are not empty.
void WritePng(const std::string& path, int w, int h, int colourType, const std::string& profile,
              const std::string& exif) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!profile.empty()) {
    png_set_iCCP(png, info, "camera", PNG_COMPRESSION_TYPE_BASE, reinterpret_cast<png_const_bytep>(profile.data()),
                 static_cast<png_uint_32>(profile.size()));
  }
  std::string exifCopy = exif;
  if (!exif.empty()) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(exifCopy.size()), reinterpret_cast<png_bytep>(exifCopy.data()));
  }
  png_write_info(png, info);
  png_free_data(png, info, PNG_FREE_EXIF, -1);  // else written again at the end
  const int n = colourType == PNG_COLOR_TYPE_RGB ? 3 : 1;
  std::vector<uint8_t> row(static_cast<size_t>(w * n));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w * n; ++x) row[static_cast<size_t>(x)] = static_cast<uint8_t>((x / n) * 9 + y);
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

PngMetadata ReadPngMetadata(const std::string& path) {
  PngMetadata m;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return m;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileBytes = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileBytes) != 0) {
    m.profileName = name;
    m.profile.assign(reinterpret_cast<const char*>(profile), profileBytes);
  }
  png_bytep exif = nullptr;
  png_uint_32 exifBytes = 0;
  if (png_get_eXIf_1(png, info, &exifBytes, &exif) != 0) m.exif.assign(reinterpret_cast<const char*>(exif), exifBytes);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return m;
}

// The ICC profile tag of a TIFF file, as libtiff reads it ("" when it has none).
std::string ReadTiffProfile(const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  uint32_t size = 0;
  void* data = nullptr;
  std::string profile;
  if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &size, &data) != 0) profile.assign(static_cast<const char*>(data), size);
  TIFFClose(tiff);
  return profile;
}

// A baseline RGB JPEG of w x h pixels with the given marker segments (code, payload) written
// in order right after its header.
std::string EncodeJpeg(int w, int h, const std::vector<std::pair<int, std::string>>& markers) {
  return testing::EncodeJpeg(
      w, h, 3, JCS_RGB, [](int x, int y, int c) { return static_cast<uint8_t>((3 * x + c) * 3 + y * 4); }, markers);
}

// APP2 segment `number` (from 1) of `count` holding part of a profile.
std::pair<int, std::string> IccChunk(const std::string& part, int number, int count) {
  return {JPEG_APP0 + 2, std::string("ICC_PROFILE\0", 12) + static_cast<char>(number) + static_cast<char>(count) + part};
}

void WriteBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// A w x h result-like image: every channel x + 2 y.
ColorGrayImage Picture(int w, int h) {
  ColorGrayImage image;
  image.Create(w, h);
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) image.channels[c].Row(y)[x] = static_cast<uint8_t>(x + 2 * y + 40 * static_cast<int>(c));
    }
  }
  return image;
}

ColorDoubleImage Estimate(int w, int h) {
  ColorDoubleImage estimate;
  estimate.Create(w, h);
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) estimate.channels[c].Row(y)[x] = 1.25 * x + y + 0.5 * static_cast<double>(c);
    }
  }
  return estimate;
}

TEST(ImageMetadata, APngsProfileAndExifAreReadAndGoIntoPngAndTiffResults) {
  TempFolder dir;
  const std::string profile = TestIccProfile(3000);
  const std::string exif = TestExif(6);
  WritePng(dir.File("frame.png"), 12, 8, PNG_COLOR_TYPE_RGB, profile, exif);
  ColorGrayImage frame;
  ReadImageFile(dir.File("frame.png"), frame);
  ASSERT_NE(frame.metadata, nullptr);
  EXPECT_EQ(frame.metadata->iccProfile, profile);
  EXPECT_EQ(frame.metadata->exif, exif);
  EXPECT_EQ(frame.channels[1].Row(3)[5], 5 * 9 + 3);  // the pixels as always

  // A result of another size carries frame 0's bytes unchanged, whichever writer makes it.
  ColorGrayImage result = Picture(30, 20);
  result.metadata = frame.metadata;
  ColorDoubleImage estimate = Estimate(30, 20);
  estimate.metadata = frame.metadata;
  WriteImageFile(dir.File("hr.png"), result, ImageFormat::Png);
  WriteEstimate16Bit(dir.File("hr16.png"), estimate, ImageFormat::Png);
  for (const char* name : {"hr.png", "hr16.png"}) {
    SCOPED_TRACE(name);
    const PngMetadata written = ReadPngMetadata(dir.File(name));
    const std::string bytes = testing::ReadText(dir.File(name));
    EXPECT_EQ(bytes.find("eXIf"), bytes.rfind("eXIf")) << "one eXIf chunk";
    EXPECT_LT(bytes.find("iCCP"), bytes.find("IDAT"));
    EXPECT_LT(bytes.find("eXIf"), bytes.find("IDAT"));
    EXPECT_EQ(written.profileName, "ICC profile");
    EXPECT_EQ(written.profile, profile);
    EXPECT_EQ(written.exif, exif);
    ColorGrayImage back;
    ReadImageFile(dir.File(name), back);
    ASSERT_NE(back.metadata, nullptr);
    EXPECT_EQ(back.metadata->iccProfile, profile);
    EXPECT_EQ(back.metadata->exif, exif);
  }
  // TIFF keeps the profile (its ICC tag) and the EXIF's tags (an EXIF directory beside its
  // own first one, which has the orientation).
  WriteImageFile(dir.File("hr.tif"), result, ImageFormat::Tiff);
  WriteEstimateFloat(dir.File("hrf.tif"), estimate, ImageFormat::Tiff);
  for (const char* name : {"hr.tif", "hrf.tif"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadTiffProfile(dir.File(name)), profile);
    ColorGrayImage back;
    ReadImageFile(dir.File(name), back);
    ASSERT_NE(back.metadata, nullptr);
    EXPECT_EQ(back.metadata->iccProfile, profile);
    EXPECT_EQ(testing::ExifEntry(back.metadata->exif, 0, 0x0112), testing::ShortTag(0x0112, 6));
  }
  // The pixels are those written without metadata.
  ColorGrayImage plain = Picture(30, 20);
  WriteImageFile(dir.File("plain.png"), plain, ImageFormat::Png);
  ColorGrayImage a, b;
  ReadImageFile(dir.File("plain.png"), a);
  ReadImageFile(dir.File("hr.png"), b);
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < 20; ++y) {
      for (int x = 0; x < 30; ++x) ASSERT_EQ(a.channels[c].Row(y)[x], b.channels[c].Row(y)[x]);
    }
  }
}

// What libtiff reads of a TIFF result's camera tags and EXIF directory.
struct TiffExif {
  std::string make;
  uint16_t orientation = 0;
  float xResolution = 0;
  uint16_t resolutionUnit = 0;
  double exposureTime = 0;
  std::string dateTimeOriginal;
  std::vector<uint16_t> iso;
  std::string makerNote;
  std::string latitudeRef;
  std::string error;
};

// A rational tag of the current directory, whichever of float or double libtiff keeps it as.
double RationalField(TIFF* tiff, uint32_t tag) {
  const TIFFField* field = TIFFFieldWithTag(tiff, tag);
  if (field != nullptr && TIFFFieldSetGetSize(field) == 8) {
    double v = 0;
    return TIFFGetField(tiff, tag, &v) != 0 ? v : -1.0;
  }
  float v = 0;
  return TIFFGetField(tiff, tag, &v) != 0 ? v : -1.0;
}

TiffExif ReadTiffExif(const std::string& path) {
  TiffExif r;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) {
    r.error = "cannot open " + path;
    return r;
  }
  char* text = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_MAKE, &text) != 0) r.make = text;
  TIFFGetField(tiff, TIFFTAG_ORIENTATION, &r.orientation);
  TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &r.xResolution);
  TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &r.resolutionUnit);
  toff_t offset = 0;
  toff_t gpsOffset = 0;
  TIFFGetField(tiff, TIFFTAG_GPSIFD, &gpsOffset);
  if (TIFFGetField(tiff, TIFFTAG_EXIFIFD, &offset) == 0 || !TIFFReadEXIFDirectory(tiff, offset)) {
    r.error = "no EXIF directory";
  } else {
    r.exposureTime = RationalField(tiff, EXIFTAG_EXPOSURETIME);
    if (TIFFGetField(tiff, EXIFTAG_DATETIMEORIGINAL, &text) != 0) r.dateTimeOriginal = text;
    uint16_t isoCount = 0;
    uint16_t* iso = nullptr;
    if (TIFFGetField(tiff, EXIFTAG_ISOSPEEDRATINGS, &isoCount, &iso) != 0) r.iso.assign(iso, iso + isoCount);
    uint32_t noteBytes = 0;
    void* note = nullptr;
    if (TIFFGetField(tiff, EXIFTAG_MAKERNOTE, &noteBytes, &note) != 0) r.makerNote.assign(static_cast<char*>(note), noteBytes);
  }
  if (gpsOffset != 0 && TIFFReadGPSDirectory(tiff, gpsOffset) && TIFFGetField(tiff, GPSTAG_LATITUDEREF, &text) != 0) {
    r.latitudeRef = text;
  }
  TIFFClose(tiff);
  return r;
}

// A camera's EXIF block: description tags (one private tag, which TIFF has no place for), an
// EXIF directory with exposure, date, a maker's note, an interoperability directory, a GPS
// directory, and a thumbnail's directory after the first.
std::string CameraBlock() {
  using testing::AsciiTag, testing::RationalTag, testing::ShortTag;
  return testing::CameraExif(
      {AsciiTag(0x010F, "Lumet Optics"), AsciiTag(0x0110, "LM-1 with a model name past four bytes"),
       ShortTag(0x0112, 8), RationalTag(0x011A, 300, 1), RationalTag(0x011B, 300, 1), ShortTag(0x0128, 2),
       AsciiTag(0x0132, "2026:12:09 10:11:12"), {0xC4A5, 7, 6, "PrintM"}},
      {RationalTag(0x829A, 1, 250), RationalTag(0x829D, 28, 10), ShortTag(0x8827, 400), {0x9000, 7, 4, "0232"},
       AsciiTag(0x9003, "2026:12:09 10:11:12"), {0x927C, 7, 13, std::string("maker\0note\x01\x02\xff", 13)},
       {0x9204, 10, 1, testing::BigEndian32(0xFFFFFFFD) + testing::BigEndian32(3)}},
      {AsciiTag(0x0001, "R98")}, true,
      {{0x0000, 1, 4, std::string("\x02\x03\0\0", 4)}, AsciiTag(0x0001, "N"),
       {0x0002, 5, 3, testing::BigEndian32(52) + testing::BigEndian32(1) + testing::BigEndian32(30) +
                          testing::BigEndian32(1) + testing::BigEndian32(1234) + testing::BigEndian32(100)}});
}

// Every entry of CameraBlock a TIFF result carries: (directory, tag).
const std::pair<uint16_t, uint16_t> kCarriedEntries[] = {
    {0, 0x010F},      {0, 0x0110},      {0, 0x0112},      {0, 0x011A},      {0, 0x011B},
    {0, 0x0128},      {0, 0x0132},      {0x8769, 0x829A}, {0x8769, 0x829D}, {0x8769, 0x8827},
    {0x8769, 0x9000}, {0x8769, 0x9003}, {0x8769, 0x927C}, {0x8769, 0x9204}, {0xA005, 0x0001},
    {0x8825, 0x0000}, {0x8825, 0x0001}, {0x8825, 0x0002}};

TEST(ImageMetadata, ACamerasExifGoesIntoATiffResultAsItsEXIFDirectoryAndIsReadBack) {
  TempFolder dir;
  const std::string block = CameraBlock();
  WritePng(dir.File("frame.png"), 12, 8, PNG_COLOR_TYPE_RGB, "", block);
  ColorGrayImage frame;
  ReadImageFile(dir.File("frame.png"), frame);
  ASSERT_NE(frame.metadata, nullptr);
  ASSERT_EQ(frame.metadata->exif, block);
  // The thumbnail (frame 0's, and a second page to a TIFF file) and the private tag are named.
  const DroppedMetadata dropped = MetadataDroppedBy(ImageFormat::Tiff, *frame.metadata);
  EXPECT_EQ(dropped.parts, "EXIF thumbnail and tag 0xC4A5");
  EXPECT_EQ(dropped.remedy, "write PNG to keep them");

  ColorGrayImage result = Picture(30, 20);
  result.metadata = frame.metadata;
  ColorDoubleImage estimate = Estimate(30, 20);
  estimate.metadata = frame.metadata;
  WriteImageFile(dir.File("hr.tif"), result, ImageFormat::Tiff);
  WriteEstimateFloat(dir.File("hrf.tif"), estimate, ImageFormat::Tiff);
  for (const char* name : {"hr.tif", "hrf.tif"}) {
    SCOPED_TRACE(name);
    const TiffExif written = ReadTiffExif(dir.File(name));
    EXPECT_EQ(written.error, "");
    EXPECT_EQ(written.make, "Lumet Optics");
    EXPECT_EQ(written.orientation, 8);
    EXPECT_EQ(written.xResolution, 300.0F);
    EXPECT_EQ(written.resolutionUnit, 2);
    EXPECT_NEAR(written.exposureTime, 1.0 / 250.0, 1e-9);
    EXPECT_EQ(written.dateTimeOriginal, "2026:12:09 10:11:12");
    EXPECT_EQ(written.iso, std::vector<uint16_t>{400});
    EXPECT_EQ(written.makerNote, std::string("maker\0note\x01\x02\xff", 13));
    EXPECT_EQ(written.latitudeRef, "N");

    // Read back: the same entries (in the file's byte order).
    ColorGrayImage back;
    ReadImageFile(dir.File(name), back);
    ASSERT_NE(back.metadata, nullptr);
    const std::string& kept = back.metadata->exif;
    for (const auto& [directory, tag] : kCarriedEntries) {
      SCOPED_TRACE(testing::BigEndian16(tag));
      EXPECT_EQ(testing::ExifEntry(kept, directory, tag), testing::ExifEntry(block, directory, tag));
      EXPECT_NE(testing::ExifEntry(kept, directory, tag), std::nullopt);
    }
    EXPECT_EQ(testing::ExifEntry(kept, 0, 0xC4A5), std::nullopt);
    EXPECT_EQ(MetadataDroppedBy(ImageFormat::Tiff, *back.metadata).parts, "") << "all of it carried again";

    // ... and from the TIFF frame into a PNG result, unchanged.
    ColorGrayImage again = Picture(10, 10);
    again.metadata = back.metadata;
    WriteImageFile(dir.File("again.png"), again, ImageFormat::Png);
    EXPECT_EQ(ReadPngMetadata(dir.File("again.png")).exif, kept);
  }
  // The pixels are those written without it.
  ColorGrayImage back;
  ReadImageFile(dir.File("hr.tif"), back);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 30; ++x) ASSERT_EQ(back.channels[2].Row(y)[x], result.channels[2].Row(y)[x]);
  }
}

// A TIFF frame written by libtiff itself with an EXIF directory (its own way: the main
// directory, the EXIF one after it, then the main one again pointing to it).
void WriteTiffWithExif(const std::string& path, int w, int h) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_MAKE, "Lumet Optics");
  TIFFSetField(tiff, TIFFTAG_EXIFIFD, uint64_t{0});
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i + static_cast<size_t>(y) * 5);
    TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
  }
  ASSERT_TRUE(TIFFWriteDirectory(tiff));
  ASSERT_TRUE(TIFFCreateEXIFDirectory(tiff) == 0);
  TIFFSetField(tiff, EXIFTAG_DATETIMEORIGINAL, "2026:12:09 10:11:12");
  const TIFFField* exposure = TIFFFieldWithTag(tiff, EXIFTAG_EXPOSURETIME);
  if (TIFFFieldSetGetSize(exposure) == 8) {
    TIFFSetField(tiff, EXIFTAG_EXPOSURETIME, 1.0 / 250.0);
  } else {
    TIFFSetField(tiff, EXIFTAG_EXPOSURETIME, static_cast<float>(1.0 / 250.0));
  }
  uint64_t exifOffset = 0;
  ASSERT_TRUE(TIFFWriteCustomDirectory(tiff, &exifOffset));
  ASSERT_TRUE(TIFFSetDirectory(tiff, 0));
  TIFFSetField(tiff, TIFFTAG_EXIFIFD, exifOffset);
  TIFFClose(tiff);
}

TEST(ImageMetadata, ATiffFramesExifDirectoryIsReadAsABlockAndGoesIntoPngAndTiffResults) {
  TempFolder dir;
  WriteTiffWithExif(dir.File("frame.tif"), 9, 6);
  ColorGrayImage frame;
  ReadImageFile(dir.File("frame.tif"), frame);
  ASSERT_NE(frame.metadata, nullptr);
  const std::string& block = frame.metadata->exif;
  EXPECT_EQ(testing::ExifEntry(block, 0, 0x010F), testing::AsciiTag(0x010F, "Lumet Optics"));
  EXPECT_EQ(testing::ExifEntry(block, 0x8769, 0x9003), testing::AsciiTag(0x9003, "2026:12:09 10:11:12"));
  const std::optional<testing::ExifTag> exposure = testing::ExifEntry(block, 0x8769, 0x829A);
  ASSERT_NE(exposure, std::nullopt);
  ASSERT_EQ(exposure->type, 5);
  auto word = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(exposure->value[at + i]);
    return v;
  };
  EXPECT_NEAR(static_cast<double>(word(0)) / word(4), 1.0 / 250.0, 1e-9);
  // The frame's own layout (its size, strips) is not a camera's record and stays out.
  EXPECT_EQ(testing::ExifEntry(block, 0, 0x0100), std::nullopt);
  EXPECT_EQ(testing::ExifEntry(block, 0, 0x0111), std::nullopt);
  EXPECT_EQ(frame.channels[1].Row(4)[2], static_cast<uint8_t>(2 * 3 + 1 + 4 * 5));

  ColorGrayImage result = Picture(20, 12);
  result.metadata = frame.metadata;
  WriteImageFile(dir.File("hr.png"), result, ImageFormat::Png);
  WriteImageFile(dir.File("hr.tif"), result, ImageFormat::Tiff);
  EXPECT_EQ(ReadPngMetadata(dir.File("hr.png")).exif, block);
  const TiffExif written = ReadTiffExif(dir.File("hr.tif"));
  EXPECT_EQ(written.error, "");
  EXPECT_EQ(written.make, "Lumet Optics");
  EXPECT_EQ(written.dateTimeOriginal, "2026:12:09 10:11:12");
  EXPECT_NEAR(written.exposureTime, 1.0 / 250.0, 1e-9);
}

TEST(ImageMetadata, AJpegsProfileChunksAreJoinedInTheirNumbersOrder) {
  TempFolder dir;
  // Larger than one segment holds (65519 bytes of profile): three chunks, written out of order.
  const std::string profile = TestIccProfile(150000, "RGB ", 5);
  const std::string exif = TestExif(3);
  const std::string part1 = profile.substr(0, 65000), part2 = profile.substr(65000, 65000), part3 = profile.substr(130000);
  const std::pair<int, std::string> xmp{JPEG_APP0 + 1, std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 33)};
  WriteBytes(dir.File("frame.jpg"),
             EncodeJpeg(16, 8, {xmp, {JPEG_APP0 + 1, std::string("Exif\0\0", 6) + exif}, IccChunk(part3, 3, 3),
                                IccChunk(part1, 1, 3), IccChunk(part2, 2, 3)}));
  ColorGrayImage frame;
  ReadImageFile(dir.File("frame.jpg"), frame);
  ASSERT_NE(frame.metadata, nullptr);
  EXPECT_EQ(frame.metadata->iccProfile.size(), profile.size());
  EXPECT_TRUE(frame.metadata->iccProfile == profile);
  EXPECT_EQ(frame.metadata->exif, exif);  // the EXIF segment, not the XMP one before it
  // ... and into a PNG result.
  ColorGrayImage result = Picture(8, 8);
  result.metadata = frame.metadata;
  WriteImageFile(dir.File("hr.png"), result, ImageFormat::Png);
  const PngMetadata written = ReadPngMetadata(dir.File("hr.png"));
  EXPECT_TRUE(written.profile == profile);
  EXPECT_EQ(written.exif, exif);

  // A chunk missing, repeated or counted otherwise: no profile, the frame reads all the same.
  const std::vector<std::vector<std::pair<int, std::string>>> broken = {
      {IccChunk(part1, 1, 3), IccChunk(part3, 3, 3)},
      {IccChunk(part1, 1, 3), IccChunk(part1, 1, 3), IccChunk(part3, 3, 3)},
      {IccChunk(part1, 1, 2), IccChunk(part2, 2, 3), IccChunk(part3, 3, 3)},
      {IccChunk(part1, 0, 3)}};
  ColorGrayImage whole;
  ReadImageFile(dir.File("frame.jpg"), whole);
  for (size_t i = 0; i < broken.size(); ++i) {
    SCOPED_TRACE(i);
    WriteBytes(dir.File("broken.jpg"), EncodeJpeg(16, 8, broken[i]));
    ColorGrayImage image;
    ReadImageFile(dir.File("broken.jpg"), image);
    EXPECT_EQ(image.metadata, nullptr);
    EXPECT_EQ(image.channels[2].Row(4)[7], whole.channels[2].Row(4)[7]);
  }
}

TEST(ImageMetadata, AProfileTheImagingLibraryReadsIsKeptToo) {
  // A CMYK JPEG is left to the media module, which takes the profile from the imaging library.
  TempFolder dir;
  const std::string profile = TestIccProfile(700, "CMYK", 9);
  WriteBytes(dir.File("cmyk.jpg"), testing::EncodeJpeg(16, 8, 4, JCS_CMYK, [](int, int, int) { return uint8_t{40}; },
                                                      {{JPEG_APP0 + 2, IccChunk(profile, 1, 1).second}}));
  ColorGrayImage frame;
  ReadImageFile(dir.File("cmyk.jpg"), frame);
  ASSERT_NE(frame.metadata, nullptr);
  EXPECT_EQ(frame.metadata->iccProfile, profile);
  // Its profile describes CMYK samples, not the RGB ones read: no result keeps it.
  EXPECT_EQ(MetadataDroppedBy(ImageFormat::Png, *frame.metadata).parts, "ICC profile");
}

TEST(ImageMetadata, WhatAFormatCannotHoldIsNamedWithWhyAndBmpBytesStayTheSame) {
  const FileMetadata both{TestIccProfile(400), TestExif()};
  const FileMetadata iccOnly{TestIccProfile(400), ""};
  const FileMetadata exifOnly{"", TestExif()};
  const FileMetadata notABlock{"", "Exif\0\0MM\0*"};
  const FileMetadata cutShort{"", TestExif().substr(0, 20)};
  const FileMetadata privateTags{
      "", testing::CameraExif({{0xC4A5, 7, 2, "ab"}, {0xC4A6, 7, 2, "cd"}, testing::ShortTag(0x0100, 5)}, {}, {}, false)};
  struct Case {
    ImageFormat format;
    const FileMetadata* metadata;
    const char* parts;
    const char* reason;
    const char* remedy;
  };
  const Case cases[] = {
      {ImageFormat::Bmp, &both, "ICC profile and EXIF", "BMP holds neither", "write PNG or TIFF to keep them"},
      {ImageFormat::Bmp, &iccOnly, "ICC profile", "BMP holds no ICC profile", "write PNG or TIFF to keep it"},
      {ImageFormat::Bmp, &exifOnly, "EXIF", "BMP holds no EXIF", "write PNG or TIFF to keep it"},
      {ImageFormat::Exr, &both, "ICC profile and EXIF", "OpenEXR results keep neither",
       "write PNG or TIFF to keep them"},
      {ImageFormat::Tiff, &both, "", "", ""},
      {ImageFormat::Tiff, &iccOnly, "", "", ""},
      {ImageFormat::Tiff, &notABlock, "EXIF", "it is not a well-formed EXIF block", "write PNG to keep it"},
      {ImageFormat::Tiff, &cutShort, "EXIF", "it is not a well-formed EXIF block", "write PNG to keep it"},
      {ImageFormat::Tiff, &privateTags, "EXIF tags 0xC4A5 and 0xC4A6",
       "a TIFF result keeps the EXIF, GPS and interoperability directories and the description, camera, date and "
       "resolution tags of the first",
       "write PNG to keep them"},
      {ImageFormat::Png, &both, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ImageFormatExtension(c.format)) + " " + c.parts);
    const DroppedMetadata dropped = MetadataDroppedBy(c.format, *c.metadata);
    EXPECT_EQ(dropped.parts, c.parts);
    EXPECT_EQ(dropped.reason, c.reason);
    EXPECT_EQ(dropped.remedy, c.remedy);
  }
  EXPECT_EQ(MetadataDroppedBy(ImageFormat::Bmp, FileMetadata{}).parts, "");

  // A profile that cannot describe an RGB result is named with its fault, in every format.
  std::string cut = TestIccProfile(400);
  cut.resize(300);
  std::string tagOutside = TestIccProfile(400);
  testing::PutBigEndian32(tagOutside, 140, 400);
  const std::pair<std::string, const char*> faulty[] = {
      {TestIccProfile(400, "GRAY"), "a profile of grey samples does not describe the RGB result"},
      {TestIccProfile(400, "CMYK"), "a profile of CMYK samples does not describe the RGB result"},
      {cut, "it is not a well-formed ICC profile"},
      {tagOutside, "it is not a well-formed ICC profile"},
      {std::string(200, 'x'), "it is not a well-formed ICC profile"}};
  for (const auto& [profile, problem] : faulty) {
    SCOPED_TRACE(problem);
    EXPECT_EQ(IccProfileProblem(profile), problem);
    const DroppedMetadata png = MetadataDroppedBy(ImageFormat::Png, FileMetadata{profile, TestExif()});
    EXPECT_EQ(png.parts, "ICC profile");
    EXPECT_EQ(png.reason, problem);
    const DroppedMetadata tiff = MetadataDroppedBy(ImageFormat::Tiff, FileMetadata{profile, TestExif()});
    EXPECT_EQ(tiff.parts, "ICC profile");
    EXPECT_EQ(tiff.reason, problem);
    const DroppedMetadata thumbnail = MetadataDroppedBy(ImageFormat::Tiff, FileMetadata{profile, CameraBlock()});
    EXPECT_EQ(thumbnail.parts, "ICC profile and EXIF thumbnail and tag 0xC4A5");
    EXPECT_EQ(thumbnail.remedy, "write PNG to keep the EXIF thumbnail and tag 0xC4A5");
  }
  EXPECT_EQ(IccProfileProblem(TestIccProfile(400)), "");

  // A BMP result is byte for byte the one written without metadata.
  TempFolder dir;
  ColorGrayImage image = Picture(9, 7);
  WriteImageFile(dir.File("plain.bmp"), image, ImageFormat::Bmp);
  image.metadata = std::make_shared<const FileMetadata>(both);
  WriteImageFile(dir.File("with.bmp"), image, ImageFormat::Bmp);
  EXPECT_EQ(testing::ReadText(dir.File("with.bmp")), testing::ReadText(dir.File("plain.bmp")));
}

TEST(ImageMetadata, AGreyFramesProfileIsReadButLeftOutOfAnRgbResult) {
  TempFolder dir;
  const std::string grey = TestIccProfile(500, "GRAY");
  WritePng(dir.File("grey.png"), 6, 5, PNG_COLOR_TYPE_GRAY, grey, TestExif());
  ColorGrayImage frame;
  ReadImageFile(dir.File("grey.png"), frame);
  ASSERT_NE(frame.metadata, nullptr);
  EXPECT_EQ(frame.metadata->iccProfile, grey);
  ColorGrayImage result = Picture(6, 5);
  result.metadata = frame.metadata;
  WriteImageFile(dir.File("hr.png"), result, ImageFormat::Png);
  WriteImageFile(dir.File("hr.tif"), result, ImageFormat::Tiff);
  const PngMetadata written = ReadPngMetadata(dir.File("hr.png"));
  EXPECT_EQ(written.profile, "");
  EXPECT_EQ(written.exif, TestExif());
  EXPECT_EQ(ReadTiffProfile(dir.File("hr.tif")), "");
}

TEST(ImageMetadata, FramesWithoutMetadataGiveImagesAndFilesWithout) {
  TempFolder dir;
  WritePng(dir.File("frame.png"), 6, 5, PNG_COLOR_TYPE_RGB, "", "");
  WriteBytes(dir.File("frame.jpg"), EncodeJpeg(8, 8, {}));
  for (const char* name : {"frame.png", "frame.jpg"}) {
    SCOPED_TRACE(name);
    ColorGrayImage frame;
    ReadImageFile(dir.File(name), frame);
    EXPECT_EQ(frame.metadata, nullptr);
  }
  ColorGrayImage frame;
  ReadImageFile(dir.File("frame.png"), frame);
  WriteImageFile(dir.File("hr.png"), frame, ImageFormat::Png);
  WriteImageFile(dir.File("hr.tif"), frame, ImageFormat::Tiff);
  const PngMetadata written = ReadPngMetadata(dir.File("hr.png"));
  EXPECT_EQ(written.profile, "");
  EXPECT_EQ(written.exif, "");
  EXPECT_EQ(ReadTiffProfile(dir.File("hr.tif")), "");
  // An image made anew lets go of the metadata it had.
  frame.metadata = std::make_shared<const FileMetadata>(FileMetadata{TestIccProfile(400), ""});
  frame.Create(4, 4);
  EXPECT_EQ(frame.metadata, nullptr);
}

}  // namespace
}  // namespace lumet
