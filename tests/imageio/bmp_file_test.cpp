#include "imageio/bmp_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/expect_error.h"
#include "support/temp_folder.h"
#include "util/atomic_file.h"
#include "util/error.h"

namespace lumet {
namespace {

using Rgb = std::array<int, 3>;

void Put(std::string& b, size_t at, uint32_t v, size_t bytes = 4) {
  for (size_t i = 0; i < bytes; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A hand-made BMP file: headers as given, then the palette (4 bytes a colour), then the
// stored rows as given, each already padded.
struct FileLayout {
  int32_t width = 2, height = 2;
  uint16_t bitCount = 24;
  uint32_t compression = 0, infoSize = 40, colorsUsed = 0;
  std::vector<uint8_t> palette;
  std::vector<std::vector<uint8_t>> rows{{1, 2, 3, 4, 5, 6, 0, 0}, {7, 8, 9, 10, 11, 12, 0, 0}};
};

std::string BuildFile(const FileLayout& s) {
  // Room for the 40 bytes of fields below even when the header claims to be shorter.
  std::string b(14 + std::max<size_t>(s.infoSize, 40), '\0');
  b[0] = 'B', b[1] = 'M';
  Put(b, 10, static_cast<uint32_t>(b.size() + s.palette.size()));
  Put(b, 14, s.infoSize), Put(b, 18, static_cast<uint32_t>(s.width)), Put(b, 22, static_cast<uint32_t>(s.height));
  Put(b, 26, 1, 2), Put(b, 28, s.bitCount, 2), Put(b, 30, s.compression), Put(b, 46, s.colorsUsed);
  b.append(s.palette.begin(), s.palette.end());
  for (const auto& row : s.rows) b.append(row.begin(), row.end());
  Put(b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

// Image whose pixel (x, y) has red 10x + y, green 100 + x, blue 200 - y (mod 256).
ColorGrayImage Pattern(int w, int h) {
  ColorGrayImage img;
  EXPECT_TRUE(img.Create(w, h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int rgb[] = {10 * x + y, 100 + x, 200 - y};
      for (int c = 0; c < 3; ++c) img.channels[c][y][x] = static_cast<uint8_t>(rgb[c]);
    }
  }
  return img;
}

Rgb Px(const ColorGrayImage& img, int x, int y) {
  return {img.channels[0][y][x], img.channels[1][y][x], img.channels[2][y][x]};
}

// Size, then every channel row by row.
std::vector<int> Pixels(const ColorGrayImage& img) {
  std::vector<int> all{img.Width(), img.Height()};
  for (const auto& c : img.channels) {
    for (int y = 0; y < c.Height(); ++y) all.insert(all.end(), c[y], c[y] + c.Width());
  }
  return all;
}

TEST(BmpFileTest, WrittenFileHasTheStandardHeaders) {
  lumet::testing::TempFolder dir;
  BmpFile::WriteImage(dir.File("result/hr.bmp"), Pattern(40, 40), 0, 0, 40, 40);  // the folder is created
  const std::string b = ReadWholeFile(dir.File("result/hr.bmp"));
  EXPECT_EQ(b.size(), 4854u);
  // "BM", file size, reserved, pixel offset 54; info header: 40 bytes, 40 x 40 bottom-up, one plane,
  // 24 bits, uncompressed, 4800 pixel bytes, 300 dpi, no palette; then the first pixel of the bottom
  // row: blue, green, red.
  const char header[] = "BM\xf6\x12\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x28\0\0\0\x28\0\0\0\x01\0\x18\0\0\0\0\0"
                        "\xc0\x12\0\0\x23\x2e\0\0\x23\x2e\0\0\0\0\0\0\0\0\0\0\xa1\x64\x27";
  static_assert(sizeof header == 57 + 1);
  EXPECT_EQ(b.substr(0, 57), std::string(header, 57));
}

TEST(BmpFileTest, WriteThenReadGivesBackThePixelsForEveryPadding) {
  lumet::testing::TempFolder dir;
  const std::string path = dir.File("frame.bmp");
  const size_t strides[] = {0, 4, 8, 12, 12, 16, 20, 24};
  ColorGrayImage back;
  for (int w = 1; w <= 7; ++w) {
    for (int h : {1, 3}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
      BmpFile::WriteImage(path, Pattern(w, h), 0, 0, w, h);
      const std::string b = ReadWholeFile(path);
      ASSERT_EQ(b.size(), 54 + strides[w] * static_cast<size_t>(h));
      for (size_t at = 54; at < b.size(); ++at) {
        EXPECT_TRUE((at - 54) % strides[w] < 3 * static_cast<size_t>(w) || b[at] == '\0') << "padding at " << at;
      }
      BmpFile::ReadFrame(path, back);
      EXPECT_EQ(Pixels(back), Pixels(Pattern(w, h)));
      EXPECT_EQ(back.mask.Width(), w);
    }
  }
  BmpFile::WriteImage(path, Pattern(9, 7), 2, 3, 5, 4);  // a sub-rectangle
  BmpFile::ReadFrame(path, back);
  ASSERT_EQ(std::pair(back.Width(), back.Height()), std::pair(5, 4));
  EXPECT_EQ(Px(back, 0, 0), (Rgb{23, 102, 197}));
  EXPECT_EQ(Px(back, 4, 3), (Rgb{66, 106, 194}));
  // Wider than the old 6666-pixel row buffer.
  BmpFile::DecodeImage(BmpFile::EncodeImage(Pattern(7000, 2), 0, 0, 7000, 2), "wide.bmp", back);
  EXPECT_EQ(Pixels(back), Pixels(Pattern(7000, 2)));
}

TEST(BmpFileTest, RectangleOutsideTheImageIsRefusedNamingTheFile) {
  lumet::testing::TempFolder dir;
  const std::string path = dir.File("a.bmp");
  for (const auto& [x, y, w, h, size] : {std::array{1, 0, 4, 4, 4}, {0, -1, 2, 2, 4}, {0, 0, 0, 4, 4},
                                         {0, 0, 5, 5, 4}, {0, 0, 1, 1, 0}}) {
    SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + " x " + std::to_string(h));
    testing::ExpectError([&] { BmpFile::WriteImage(path, size == 0 ? ColorGrayImage() : Pattern(size, size), x, y, w, h); },
                         {path});
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(BmpFileTest, AcceptedLayoutsGiveTheStoredPixels) {
  const auto eightBit = [](FileLayout& s) {
    s.width = 3, s.bitCount = 8, s.colorsUsed = 3;
    s.palette = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};  // blue, green, red, unused
    s.rows = {{0, 1, 2, 0}, {2, 2, 9, 0}};                       // 9: beyond the palette
  };
  using Expected = std::vector<std::pair<int, Rgb>>;  // pixel x + width * y and its colour
  const Expected bottomUp = {{0 + 2 * 1, {3, 2, 1}}, {1 + 2 * 0, {12, 11, 10}}};
  const Expected palette = {{3, {30, 20, 10}}, {4, {60, 50, 40}}, {5, {90, 80, 70}}, {0, {90, 80, 70}}, {2, {0, 0, 0}}};
  const std::tuple<const char*, std::function<void(FileLayout&)>, Expected> cases[] = {
      {"24-bit bottom-up", [](FileLayout&) {}, bottomUp},
      {"24-bit top-down", [](FileLayout& s) { s.height = -2; }, {{0, {3, 2, 1}}, {1, {6, 5, 4}}, {2, {9, 8, 7}}}},
      {"108-byte info header", [](FileLayout& s) { s.infoSize = 108; }, bottomUp},
      {"124-byte info header", [](FileLayout& s) { s.infoSize = 124; }, bottomUp},
      {"32-bit", [](FileLayout& s) { s.height = 1, s.bitCount = 32, s.rows = {{1, 2, 3, 255, 4, 5, 6, 128}}; },
       {{0, {3, 2, 1}}, {1, {6, 5, 4}}}},
      {"8-bit", eightBit, palette},
      {"8-bit after a 124-byte header", [&](FileLayout& s) { eightBit(s), s.infoSize = 124; }, palette},
      {"8-bit, colour count 0 means 256", [&](FileLayout& s) { eightBit(s), s.colorsUsed = 0, s.palette.resize(1024); },
       palette},
  };
  for (const auto& [what, change, expected] : cases) {
    SCOPED_TRACE(what);
    FileLayout s;
    change(s);
    ColorGrayImage img;
    BmpFile::DecodeImage(BuildFile(s), what, img);
    ASSERT_EQ(img.Width(), s.width);
    ASSERT_EQ(img.Height(), std::abs(s.height));
    for (const auto& [at, rgb] : expected) EXPECT_EQ(Px(img, at % s.width, at / s.width), rgb) << "pixel " << at;
  }
}

TEST(BmpFileTest, MalformedFilesAreRefusedNamingThemAndLeaveTheImageAlone) {
  lumet::testing::TempFolder dir;
  const std::string valid = BuildFile(FileLayout());
  const auto with = [](const std::function<void(FileLayout&)>& change) {
    FileLayout s;
    change(s);
    return BuildFile(s);
  };
  const auto offset = [&](uint32_t bits) {
    std::string b = valid;
    Put(b, 10, bits);
    return b;
  };
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""}, {"PNG", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)}, {"not BM", "PN" + valid.substr(2)},
      {"truncated file header", valid.substr(0, 10)}, {"truncated info header", valid.substr(0, 40)},
      {"truncated pixel array", valid.substr(0, valid.size() - 1)}, {"missing file", ""},
      {"pixel offset inside the headers", offset(20)}, {"pixel offset beyond the file", offset(0xFFFFFFF0u)},
      {"100000 x 100000", with([](FileLayout& s) { s.width = s.height = 100000; })},
      {"40000 wide", with([](FileLayout& s) { s.width = 40000; })},
      {"too many pixels", with([](FileLayout& s) { s.width = 32768, s.height = 8192; })},
      {"width 0", with([](FileLayout& s) { s.width = 0; })}, {"height 0", with([](FileLayout& s) { s.height = 0; })},
      {"negative width", with([](FileLayout& s) { s.width = -2; })},
      {"most negative height", with([](FileLayout& s) { s.height = INT32_MIN; })},
      {"16-bit", with([](FileLayout& s) { s.bitCount = 16; })}, {"1-bit", with([](FileLayout& s) { s.bitCount = 1; })},
      {"RLE8", with([](FileLayout& s) { s.bitCount = 8, s.compression = 1; })},
      {"bit fields", with([](FileLayout& s) { s.bitCount = 32, s.compression = 3; })},
      {"JPEG", with([](FileLayout& s) { s.compression = 4; })},
      {"12-byte core header", with([](FileLayout& s) { s.infoSize = 12; })},
      {"palette beyond the file", with([](FileLayout& s) { s.bitCount = 8, s.height = 1, s.rows = {{1, 2, 3, 4}}; })},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    const std::string path = dir.File(what + std::string(".bmp"));
    if (what != std::string("missing file")) WriteFileAtomically(path, bytes);
    ColorGrayImage img = Pattern(3, 2);
    testing::ExpectError([&] { BmpFile::ReadFrame(path, img); }, {path});
    EXPECT_EQ(Pixels(img), Pixels(Pattern(3, 2)));
  }
}

}  // namespace
}  // namespace lumet
