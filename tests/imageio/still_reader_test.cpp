// The still readers against hostile and unusual files, each built here with the format's
// own library: alpha, too many channels or pages, too large a decoded size, files cut short
// or damaged, and running out of memory.

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <tiffio.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "imageio/image_file.h"
#include "support/expect_error.h"
#include "support/jpeg_writer.h"
#include "support/temp_folder.h"
#include "util/error.h"

namespace lumet {
namespace {

using testing::ExpectError;
using testing::TempFolder;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// An 8-bit PNG of w x h pixels of the given colour type, every pixel the same samples.
void WritePng(const std::string& path, int w, int h, int colourType, const std::vector<uint8_t>& pixel) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row;
  for (int x = 0; x < w; ++x) row.insert(row.end(), pixel.begin(), pixel.end());
  for (int y = 0; y < h; ++y) png_write_row(png, row.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

// Sets the fields every page of w x h pixels of spp 8-bit samples needs.
void SetPage(TIFF* tiff, int w, int h, int spp, uint16_t photometric) {
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(spp));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
}

// A TIFF of w x h pixels, spp 8-bit samples each (extra samples beyond the colours marked
// as unassociated alpha when alpha is set), `pages` pages, uncompressed strips of
// rowsPerStrip rows.
void WriteTiff(const std::string& path, int w, int h, int spp, uint16_t photometric, bool alpha,
               const std::vector<uint8_t>& pixel, int pages = 1, int rowsPerStrip = 4) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  for (int page = 0; page < pages; ++page) {
    SetPage(tiff, w, h, spp, photometric);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rowsPerStrip));
    const int colours = photometric == PHOTOMETRIC_RGB ? 3 : 1;
    if (spp > colours) {
      std::vector<uint16_t> extra(static_cast<size_t>(spp - colours),
                                  alpha ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_UNSPECIFIED);
      TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
    }
    std::vector<uint8_t> row;
    for (int x = 0; x < w; ++x) row.insert(row.end(), pixel.begin(), pixel.end());
    for (int y = 0; y < h; ++y) TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
    TIFFWriteDirectory(tiff);
  }
  TIFFClose(tiff);
}

// A baseline JPEG of a smooth w x h gradient.
std::string EncodeJpeg(int w, int h) {
  return testing::EncodeJpeg(w, h, 3, JCS_RGB, [](int x, int y, int c) {
    return static_cast<uint8_t>(c == 0 ? x * 3 : c == 1 ? y * 4 : 120);
  });
}

std::string PngChunk(const char* type, const std::string& data) {
  std::string chunk;
  const auto put32 = [&](uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(static_cast<char>((v >> shift) & 0xff));
  };
  put32(static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  chunk += body;
  put32(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  return chunk;
}

// A PNG that claims w x h pixels of 16-bit RGB and stops at its (empty) image data.
std::string ClaimingPng(uint32_t w, uint32_t h) {
  std::string header;
  for (uint32_t v : {w, h}) {
    for (int shift = 24; shift >= 0; shift -= 8) header.push_back(static_cast<char>((v >> shift) & 0xff));
  }
  header += std::string("\x10\x02\x00\x00\x00", 5);  // 16 bits, RGB, deflate, no filter, no interlace
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) + PngChunk("IDAT", "");
}

// A grey 32 x 16 TIFF in one uncompressed strip, laid out as header, directory, strip (the
// writer puts the directory last), with the file ending halfway through the strip.
std::string ShortStripTiff(const std::string& scratch) {
  WriteTiff(scratch, 32, 16, 1, PHOTOMETRIC_MINISBLACK, false, {200}, 1, 16);
  const std::string whole = ReadBytes(scratch);
  const auto get = [&](size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(whole[at + static_cast<size_t>(i)]);
    return v;
  };
  const uint32_t ifd = get(4, 4);
  const uint32_t entries = get(ifd, 2);
  std::string directory = whole.substr(ifd, 2 + 12 * entries + 4);
  std::string strip;
  for (uint32_t e = 0; e < entries; ++e) {
    const size_t at = 2 + 12 * e;
    const uint32_t tag = get(ifd + at, 2);
    if (tag == TIFFTAG_STRIPOFFSETS) {
      strip = whole.substr(get(ifd + at + 8, 4), 32 * 16);
      const uint32_t moved = 8 + static_cast<uint32_t>(directory.size());
      for (int i = 0; i < 4; ++i) directory[at + 8 + static_cast<size_t>(i)] = static_cast<char>((moved >> (8 * i)) & 0xff);
    }
  }
  std::memset(directory.data() + directory.size() - 4, 0, 4);  // no next directory
  return std::string("II*\0\x08\0\0\0", 8) + directory + strip.substr(0, strip.size() / 2);
}

TEST(StillReader, AlphaIsIgnoredNotMultipliedIntoTheColours) {
  TempFolder dir;
  struct Case {
    const char* name;
    std::vector<uint8_t> expected;
  };
  WritePng(dir.File("rgba.png"), 6, 5, PNG_COLOR_TYPE_RGB_ALPHA, {192, 100, 50, 128});
  WritePng(dir.File("grey-alpha.png"), 6, 5, PNG_COLOR_TYPE_GRAY_ALPHA, {192, 64});
  WriteTiff(dir.File("rgba.tif"), 6, 5, 4, PHOTOMETRIC_RGB, true, {192, 100, 50, 128});
  WriteTiff(dir.File("grey-alpha.tif"), 6, 5, 2, PHOTOMETRIC_MINISBLACK, true, {77, 10});
  const Case cases[] = {{"rgba.png", {192, 100, 50}},
                        {"grey-alpha.png", {192, 192, 192}},
                        {"rgba.tif", {192, 100, 50}},
                        {"grey-alpha.tif", {77, 77, 77}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ColorGrayImage image;
    ReadImageFile(dir.File(c.name), image);
    ASSERT_EQ(image.Width(), 6);
    ASSERT_EQ(image.Height(), 5);
    for (int ch = 0; ch < 3; ++ch) {
      EXPECT_EQ(image.channels[static_cast<size_t>(ch)].Row(4)[5], c.expected[static_cast<size_t>(ch)]);
    }
  }
}

// Layouts the still module leaves to the imaging library: 16 x 16 tiles, and a palette.
TEST(StillReader, TiledAndPaletteTiffsAreReadWithTheirPixels) {
  TempFolder dir;
  const int w = 40;
  const int h = 24;
  const auto value = [](int x, int y, int c) { return static_cast<uint8_t>((7 * x + 11 * y + 60 * c) % 256); };
  {
    TIFF* tiff = TIFFOpen(dir.File("tiled.tif").c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    SetPage(tiff, w, h, 3, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16u);
    std::vector<uint8_t> tile(16 * 16 * 3);
    for (int ty = 0; ty < h; ty += 16) {
      for (int tx = 0; tx < w; tx += 16) {
        for (int y = 0; y < 16; ++y) {
          for (int x = 0; x < 16; ++x) {
            for (int c = 0; c < 3; ++c) tile[static_cast<size_t>((y * 16 + x) * 3 + c)] = value(tx + x, ty + y, c);
          }
        }
        TIFFWriteTile(tiff, tile.data(), static_cast<uint32_t>(tx), static_cast<uint32_t>(ty), 0, 0);
      }
    }
    TIFFClose(tiff);
  }
  {
    // Index i shows (i, 255 - i, i / 2) in 16-bit colour map units.
    TIFF* tiff = TIFFOpen(dir.File("palette.tif").c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    SetPage(tiff, w, h, 1, PHOTOMETRIC_PALETTE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(h));
    std::vector<uint16_t> red(256);
    std::vector<uint16_t> green(256);
    std::vector<uint16_t> blue(256);
    for (int i = 0; i < 256; ++i) {
      red[static_cast<size_t>(i)] = static_cast<uint16_t>(i * 257);
      green[static_cast<size_t>(i)] = static_cast<uint16_t>((255 - i) * 257);
      blue[static_cast<size_t>(i)] = static_cast<uint16_t>(i / 2 * 257);
    }
    TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    std::vector<uint8_t> row(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) row[static_cast<size_t>(x)] = value(x, y, 0);
      TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(tiff);
  }
  ColorGrayImage tiled;
  ReadImageFile(dir.File("tiled.tif"), tiled);
  ColorGrayImage palette;
  ReadImageFile(dir.File("palette.tif"), palette);
  ASSERT_EQ(tiled.Width(), w);
  ASSERT_EQ(tiled.Height(), h);
  ASSERT_EQ(palette.Width(), w);
  ASSERT_EQ(palette.Height(), h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(tiled.channels[static_cast<size_t>(c)].Row(y)[x], value(x, y, c)) << x << ", " << y;
      const int i = value(x, y, 0);
      ASSERT_EQ(palette.channels[0].Row(y)[x], i);
      ASSERT_EQ(palette.channels[1].Row(y)[x], 255 - i);
      ASSERT_EQ(palette.channels[2].Row(y)[x], i / 2);
    }
  }
}

TEST(StillReader, TooManyChannelsPagesOrDecodedBytesAreRefusedBeforeDecoding) {
  TempFolder dir;
  WriteTiff(dir.File("bands.tif"), 16, 8, 20, PHOTOMETRIC_MINISBLACK, false, std::vector<uint8_t>(20, 9));
  WriteTiff(dir.File("pages.tif"), 8, 8, 3, PHOTOMETRIC_RGB, false, {1, 2, 3}, 3);
  // 16384 x 8192 16-bit RGB samples take 768 MiB, more than the 512 MiB a frame may take;
  // the file holds no pixel data at all, so nothing but the size check can refuse it late.
  WriteBytes(dir.File("huge.png"), ClaimingPng(16384, 8192));
  ColorGrayImage image;
  ExpectError([&] { ReadImageFile(dir.File("bands.tif"), image); }, {dir.File("bands.tif"), "20 channels"});
  ExpectError([&] { ReadImageFile(dir.File("pages.tif"), image); }, {dir.File("pages.tif"), "3 pages"});
  ExpectError([&] { ReadImageFile(dir.File("huge.png"), image); },
              {dir.File("huge.png"), "16384 x 8192", "768 MiB", "512 MiB"});
  EXPECT_TRUE(image.Empty());
}

TEST(StillReader, FilesCutShortOrDamagedAreRefusedNamingThem) {
  TempFolder dir;
  const std::string jpeg = EncodeJpeg(64, 48);
  WriteBytes(dir.File("whole.jpg"), jpeg);
  WriteBytes(dir.File("half.jpg"), jpeg.substr(0, jpeg.size() / 2));
  ColorGrayImage picture;
  picture.Create(40, 30);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 40; ++x) picture.channels[static_cast<size_t>(c)].Row(y)[x] = static_cast<uint8_t>(x * 5 + y * c);
    }
  }
  WriteImageFile(dir.File("whole.png"), picture, ImageFormat::Png);
  const std::string png = ReadBytes(dir.File("whole.png"));
  std::string crc = png;
  const size_t idat = crc.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  crc[idat + 10] = static_cast<char>(crc[idat + 10] ^ 0x40);
  WriteBytes(dir.File("crc.png"), crc);
  WriteBytes(dir.File("half.png"), png.substr(0, png.size() / 2));
  WriteTiff(dir.File("whole.tif"), 32, 16, 3, PHOTOMETRIC_RGB, false, {5, 6, 7});
  WriteBytes(dir.File("short.tif"), ShortStripTiff(dir.File("grey.tif")));

  ColorGrayImage image;
  ReadImageFile(dir.File("whole.jpg"), image);
  EXPECT_EQ(image.Width(), 64);
  ReadImageFile(dir.File("whole.tif"), image);
  EXPECT_EQ(image.channels[2].Row(15)[31], 7);
  for (const char* name : {"half.jpg", "crc.png", "half.png", "short.tif"}) {
    SCOPED_TRACE(name);
    ColorGrayImage kept = image;
    ExpectError([&] { ReadImageFile(dir.File(name), image); }, {dir.File(name)});
    EXPECT_EQ(image.Width(), kept.Width());
  }
}

// Reads small, then path with no more than 24 MiB of further address space (unused under
// the address sanitizer, which reserves more than any such limit); the
// child's exit code: 0 when the second read ends with the out-of-memory error.
[[maybe_unused]] int ReadUnderAddressLimit(const std::string& path, const std::string& small) {
  ColorGrayImage warm;
  ReadImageFile(small, warm);  // maps the module and its libraries first
  std::ifstream status("/proc/self/status");
  std::string line;
  long long sizeKb = 0;
  while (std::getline(status, line)) {
    if (line.rfind("VmSize:", 0) == 0) sizeKb = std::atoll(line.c_str() + 7);
  }
  const rlim_t limit = static_cast<rlim_t>(sizeKb + 24 * 1024) * 1024;
  const rlimit cap{limit, limit};
  if (setrlimit(RLIMIT_AS, &cap) != 0) return 3;
  try {
    ColorGrayImage image;
    ReadImageFile(path, image);
  } catch (const Error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return std::strstr(e.what(), "out of memory reading") != nullptr ? 0 : 1;
  }
  return 2;
}

// Under an address-space limit the frame's samples cannot be had: the read ends with an
// error naming the file and the amount, never a crash. In a child, whose limit ends with it.
TEST(StillReader, RunningOutOfMemoryIsAnErrorNamingTheFile) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than any limit allows";
#else
  TempFolder dir;
  ColorGrayImage big;
  big.Create(3000, 3000);
  for (auto& channel : big.channels) channel.Fill(90);
  WriteImageFile(dir.File("big.png"), big, ImageFormat::Png);
  big.Create(8, 8);
  WriteImageFile(dir.File("small.png"), big, ImageFormat::Png);
  big.Free();
  const std::string path = dir.File("big.png");
  const std::string small = dir.File("small.png");
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The child runs this test from its start, in a folder of its own, which std::exit would leave.
  const auto readInChild = [&] {
    const int code = ReadUnderAddressLimit(path, small);
    std::filesystem::remove_all(dir.Path());
    return code;
  };
  EXPECT_EXIT(std::exit(readInChild()), ::testing::ExitedWithCode(0),
              "out of memory reading .*big.png \\(needs about [0-9]+ MB\\)");
#endif
}

}  // namespace
}  // namespace lumet
