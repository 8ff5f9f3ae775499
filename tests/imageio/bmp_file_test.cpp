#include "imageio/bmp_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "util/atomic_file.h"
#include "support/temp_folder.h"
#include "util/error.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

uint32_t U32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
uint16_t U16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
void Put16(std::string& b, size_t at, uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A hand-made BMP file: headers as given, then a palette, then the stored rows as given
// (each already padded by the caller).
struct FileLayout {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t infoSize = 40;
  uint32_t colorsUsed = 0;
  std::vector<uint8_t> palette;  // 4 bytes per colour
  std::vector<std::vector<uint8_t>> rows;  // in file order
};

std::string BuildFile(const FileLayout& s) {
  // Room for the 40 bytes of fields below even when the header claims to be shorter.
  const size_t headerBytes = std::max<size_t>(s.infoSize, 40);
  std::string b(14 + headerBytes, '\0');
  b[0] = 'B';
  b[1] = 'M';
  const size_t offBits = 14 + headerBytes + s.palette.size();
  Put32(b, 10, static_cast<uint32_t>(offBits));
  Put32(b, 14, s.infoSize);
  Put32(b, 18, static_cast<uint32_t>(s.width));
  Put32(b, 22, static_cast<uint32_t>(s.height));
  Put16(b, 26, 1);
  Put16(b, 28, s.bitCount);
  Put32(b, 30, s.compression);
  Put32(b, 46, s.colorsUsed);
  b.append(s.palette.begin(), s.palette.end());
  for (const auto& row : s.rows) b.append(row.begin(), row.end());
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

// Image whose pixel (x, y) has red 10x + y, green 100 + x, blue 200 - y (mod 256).
ColorGrayImage Pattern(int w, int h) {
  ColorGrayImage img;
  EXPECT_TRUE(img.Create(w, h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      img.channels[0][y][x] = static_cast<uint8_t>(10 * x + y);
      img.channels[1][y][x] = static_cast<uint8_t>(100 + x);
      img.channels[2][y][x] = static_cast<uint8_t>(200 - y);
    }
  }
  return img;
}

void ExpectPixel(const ColorGrayImage& img, int x, int y, int r, int g, int b) {
  EXPECT_EQ(img.channels[0][y][x], r) << "red at " << x << "," << y;
  EXPECT_EQ(img.channels[1][y][x], g) << "green at " << x << "," << y;
  EXPECT_EQ(img.channels[2][y][x], b) << "blue at " << x << "," << y;
}

void ExpectSamePixels(const ColorGrayImage& a, const ColorGrayImage& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) {
        ASSERT_EQ(a.channels[c][y][x], b.channels[c][y][x]) << "channel " << c << " at " << x << "," << y;
      }
    }
  }
}

class BmpFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = folder_.Path(); }

  lumet::testing::TempFolder folder_;
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(BmpFileTest, WrittenFileHasTheStandardHeaders) {
  const std::string path = Path("result/hr.bmp");  // the folder is created
  BmpFile::WriteImage(path, Pattern(40, 40), 0, 0, 40, 40);
  const std::string b = ReadWholeFile(path);
  ASSERT_EQ(b.size(), 4854u);
  EXPECT_EQ(b.substr(0, 2), "BM");
  EXPECT_EQ(U32(b, 2), 4854u);           // bfSize
  EXPECT_EQ(U32(b, 6), 0u);              // reserved
  EXPECT_EQ(U32(b, 10), 54u);            // bfOffBits
  EXPECT_EQ(U32(b, 14), 40u);            // biSize
  EXPECT_EQ(U32(b, 18), 40u);            // width
  EXPECT_EQ(U32(b, 22), 40u);            // height, bottom-up
  EXPECT_EQ(U16(b, 26), 1u);             // planes
  EXPECT_EQ(U16(b, 28), 24u);            // bit count
  EXPECT_EQ(U32(b, 30), 0u);             // compression
  EXPECT_EQ(U32(b, 34), 4800u);          // biSizeImage
  EXPECT_EQ(U32(b, 38), 11811u);         // 300 dpi
  EXPECT_EQ(U32(b, 42), 11811u);
  EXPECT_EQ(U32(b, 46), 0u);
  EXPECT_EQ(U32(b, 50), 0u);
  // The first stored row is the bottom image row, pixels blue, green, red.
  EXPECT_EQ(static_cast<uint8_t>(b[54]), static_cast<uint8_t>(200 - 39));
  EXPECT_EQ(static_cast<uint8_t>(b[55]), 100);
  EXPECT_EQ(static_cast<uint8_t>(b[56]), 39);
  EXPECT_EQ(BmpFile::EncodeImage(Pattern(40, 40), 0, 0, 40, 40), b);
}

TEST_F(BmpFileTest, RowsArePaddedWithZerosToFourBytes) {
  EXPECT_EQ(BmpFile::RowStride(5), 16);
  EXPECT_EQ(BmpFile::RowStride(4), 12);
  EXPECT_EQ(BmpFile::RowStride(1), 4);
  EXPECT_EQ(BmpFile::RowStride(6666), 20000);
  EXPECT_EQ(BmpFile::RowStride(6667), 20004);
  ColorGrayImage img = Pattern(5, 2);
  const std::string b = BmpFile::EncodeImage(img, 0, 0, 5, 2);
  ASSERT_EQ(b.size(), 54u + 2 * 16);
  EXPECT_EQ(U32(b, 34), 32u);
  EXPECT_EQ(b[54 + 15], '\0');
  EXPECT_EQ(b[54 + 16 + 15], '\0');
}

TEST_F(BmpFileTest, WriteThenReadGivesBackThePixelsForEveryPadding) {
  for (int w = 1; w <= 7; ++w) {
    for (int h : {1, 3}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
      const ColorGrayImage img = Pattern(w, h);
      const std::string path = Path("frame.bmp");
      BmpFile::WriteImage(path, img, 0, 0, w, h);
      EXPECT_EQ(fs::file_size(path), 54u + static_cast<uintmax_t>(BmpFile::RowStride(w)) * h);
      ColorGrayImage back;
      BmpFile::ReadFrame(path, back);
      ExpectSamePixels(back, img);
      EXPECT_EQ(back.mask.Width(), w);
    }
  }
  {
    SCOPED_TRACE("a sub-rectangle");
    const ColorGrayImage img = Pattern(9, 7);
    BmpFile::WriteImage(Path("part.bmp"), img, 2, 3, 5, 4);
    ColorGrayImage back;
    BmpFile::ReadFrame(Path("part.bmp"), back);
    ASSERT_EQ(back.Width(), 5);
    ASSERT_EQ(back.Height(), 4);
    ExpectPixel(back, 0, 0, 23, 102, 197);
    ExpectPixel(back, 4, 3, 66, 106, 194);
  }
  {
    SCOPED_TRACE("wider than the old 6666-pixel row buffer");
    const ColorGrayImage img = Pattern(7000, 2);
    ColorGrayImage back;
    BmpFile::DecodeImage(BmpFile::EncodeImage(img, 0, 0, 7000, 2), "wide.bmp", back);
    ExpectSamePixels(back, img);
  }
}

TEST_F(BmpFileTest, RectangleOutsideTheImageIsRefused) {
  const ColorGrayImage img = Pattern(4, 4);
  EXPECT_THROW(BmpFile::WriteImage(Path("a.bmp"), img, 1, 0, 4, 4), Error);
  EXPECT_THROW(BmpFile::WriteImage(Path("a.bmp"), img, 0, -1, 2, 2), Error);
  EXPECT_THROW(BmpFile::WriteImage(Path("a.bmp"), img, 0, 0, 0, 4), Error);
  EXPECT_THROW(BmpFile::WriteImage(Path("a.bmp"), ColorGrayImage(), 0, 0, 1, 1), Error);
  EXPECT_FALSE(fs::exists(Path("a.bmp")));
  try {
    BmpFile::WriteImage(Path("a.bmp"), img, 0, 0, 5, 5);
    FAIL() << "accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(Path("a.bmp")), std::string::npos) << e.what();
  }
}

TEST_F(BmpFileTest, TopDownFileIsReadInItsTrueOrder) {
  FileLayout s;
  s.width = 2;
  s.height = -2;
  s.rows = {{1, 2, 3, 4, 5, 6, 0, 0}, {7, 8, 9, 10, 11, 12, 0, 0}};
  ColorGrayImage img;
  BmpFile::DecodeImage(BuildFile(s), "top-down.bmp", img);
  ASSERT_EQ(img.Height(), 2);
  ExpectPixel(img, 0, 0, 3, 2, 1);  // first stored row is the top row
  ExpectPixel(img, 1, 0, 6, 5, 4);
  ExpectPixel(img, 0, 1, 9, 8, 7);

  s.height = 2;
  BmpFile::DecodeImage(BuildFile(s), "bottom-up.bmp", img);
  ExpectPixel(img, 0, 1, 3, 2, 1);  // first stored row is the bottom row
  ExpectPixel(img, 1, 0, 12, 11, 10);
}

TEST_F(BmpFileTest, LongerInfoHeadersAreSkipped) {
  for (uint32_t infoSize : {108u, 124u}) {
    SCOPED_TRACE(infoSize);
    FileLayout s;
    s.width = 3;
    s.height = 1;
    s.infoSize = infoSize;
    s.rows = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}};
    const std::string b = BuildFile(s);
    EXPECT_EQ(U32(b, 10), 14 + infoSize);  // 122 or 138
    ColorGrayImage img;
    BmpFile::DecodeImage(b, "v4.bmp", img);
    ExpectPixel(img, 2, 0, 9, 8, 7);
  }
}

TEST_F(BmpFileTest, EightBitFilesAreExpandedThroughTheirPalette) {
  FileLayout s;
  s.width = 3;
  s.height = 2;
  s.bitCount = 8;
  s.colorsUsed = 3;
  s.palette = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};  // blue, green, red, unused
  s.rows = {{0, 1, 2, 0}, {2, 2, 9, 0}};                       // 9: beyond the palette
  ColorGrayImage img;
  BmpFile::DecodeImage(BuildFile(s), "gray.bmp", img);
  ASSERT_EQ(img.Width(), 3);
  ExpectPixel(img, 0, 1, 30, 20, 10);
  ExpectPixel(img, 1, 1, 60, 50, 40);
  ExpectPixel(img, 2, 1, 90, 80, 70);
  ExpectPixel(img, 0, 0, 90, 80, 70);
  ExpectPixel(img, 2, 0, 0, 0, 0);

  {
    SCOPED_TRACE("biClrUsed 0 means 256 colours");
    FileLayout full = s;
    full.colorsUsed = 0;
    full.palette.assign(256 * 4, 0);
    for (int c = 0; c < 256; ++c) {
      full.palette[4 * c] = static_cast<uint8_t>(255 - c);
      full.palette[4 * c + 1] = static_cast<uint8_t>(c);
      full.palette[4 * c + 2] = static_cast<uint8_t>(c / 2);
    }
    full.rows = {{0, 255, 128, 0}, {1, 2, 3, 0}};
    BmpFile::DecodeImage(BuildFile(full), "full.bmp", img);
    ExpectPixel(img, 1, 1, 127, 255, 0);
    ExpectPixel(img, 2, 1, 64, 128, 127);
  }
  {
    SCOPED_TRACE("palette after a 124-byte header");
    FileLayout v5 = s;
    v5.infoSize = 124;
    BmpFile::DecodeImage(BuildFile(v5), "v5.bmp", img);
    ExpectPixel(img, 1, 1, 60, 50, 40);
  }
}

TEST_F(BmpFileTest, ThirtyTwoBitFilesDropTheFourthByte) {
  FileLayout s;
  s.width = 2;
  s.height = 1;
  s.bitCount = 32;
  s.rows = {{1, 2, 3, 255, 4, 5, 6, 128}};
  ColorGrayImage img;
  BmpFile::DecodeImage(BuildFile(s), "rgbx.bmp", img);
  ExpectPixel(img, 0, 0, 3, 2, 1);
  ExpectPixel(img, 1, 0, 6, 5, 4);
}

TEST_F(BmpFileTest, MalformedFilesAreRefusedAndLeaveTheImageAlone) {
  FileLayout good;
  good.width = 2;
  good.height = 2;
  good.rows = {{1, 2, 3, 4, 5, 6, 0, 0}, {7, 8, 9, 10, 11, 12, 0, 0}};
  const std::string valid = BuildFile(good);

  struct Case {
    const char* what;
    std::function<std::string()> bytes;
  };
  auto with = [&](const std::function<void(FileLayout&)>& change) {
    return [=] {
      FileLayout s = good;
      change(s);
      return BuildFile(s);
    };
  };
  const Case cases[] = {
      {"empty", [] { return std::string(); }},
      {"not BM", [&] { return "PN" + valid.substr(2); }},
      {"PNG bytes", [] { return std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16); }},
      {"truncated file header", [&] { return valid.substr(0, 10); }},
      {"truncated info header", [&] { return valid.substr(0, 40); }},
      {"truncated pixel array", [&] { return valid.substr(0, valid.size() - 1); }},
      {"100000 x 100000", with([](FileLayout& s) { s.width = s.height = 100000; })},
      {"40000 wide", with([](FileLayout& s) { s.width = 40000; })},
      {"too many pixels", with([](FileLayout& s) {
         s.width = 32768;
         s.height = 8192;
       })},
      {"width 0", with([](FileLayout& s) { s.width = 0; })},
      {"height 0", with([](FileLayout& s) { s.height = 0; })},
      {"negative width", with([](FileLayout& s) { s.width = -2; })},
      {"most negative height", with([](FileLayout& s) { s.height = INT32_MIN; })},
      {"16-bit", with([](FileLayout& s) { s.bitCount = 16; })},
      {"1-bit", with([](FileLayout& s) { s.bitCount = 1; })},
      {"RLE8", with([](FileLayout& s) {
         s.bitCount = 8;
         s.compression = 1;
       })},
      {"bit fields", with([](FileLayout& s) {
         s.bitCount = 32;
         s.compression = 3;
       })},
      {"JPEG", with([](FileLayout& s) { s.compression = 4; })},
      {"12-byte core header", with([](FileLayout& s) { s.infoSize = 12; })},
      {"palette beyond the file", with([](FileLayout& s) {
         s.bitCount = 8;
         s.rows = {{1, 2, 3, 4}};
         s.height = 1;
       })},
      {"pixel offset inside the headers", [&] {
         std::string b = valid;
         Put32(b, 10, 20);
         return b;
       }},
      {"pixel offset beyond the file", [&] {
         std::string b = valid;
         Put32(b, 10, 0xFFFFFFF0u);
         return b;
       }},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Path("bad.bmp");
    WriteFileAtomically(path, c.bytes());
    ColorGrayImage img = Pattern(3, 2);
    try {
      BmpFile::ReadFrame(path, img);
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    ExpectSamePixels(img, Pattern(3, 2));
  }

  {
    SCOPED_TRACE("missing file");
    ColorGrayImage img = Pattern(3, 2);
    EXPECT_THROW(BmpFile::ReadFrame(Path("missing.bmp"), img), Error);
    ExpectSamePixels(img, Pattern(3, 2));
  }
  {
    SCOPED_TRACE("the valid file itself is read");
    ColorGrayImage img;
    BmpFile::DecodeImage(valid, "good.bmp", img);
    ExpectPixel(img, 1, 0, 12, 11, 10);
  }
}

}  // namespace
}  // namespace lumet
