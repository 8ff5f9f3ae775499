#include "imageio/image_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "imageio/bmp_file.h"
#include "imageio/codec_library.h"
#include "imageio/test_video.h"
#include "imageio/video_file.h"
#include "support/temp_folder.h"
#include "util/atomic_file.h"
#include "util/error.h"

// The imaging library's PNG reader loses one message string when libpng jumps out of a
// truncated file; that leak is the library's, not ours. The full stack is needed to see
// where an allocation came from (the standard library has no frame pointers).
extern "C" const char* __lsan_default_suppressions() { return "leak:PNGInput::PngReadCallback\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace lumet {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// A w x h picture whose three channels all differ and cover 0 .. 255 along a row.
ColorGrayImage Pattern(int w, int h, int seed) {
  ColorGrayImage image;
  image.Create(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      image.channels[0].Row(y)[x] = static_cast<uint8_t>((x * 37 + y * 11 + seed) & 0xFF);
      image.channels[1].Row(y)[x] = static_cast<uint8_t>((x * 5 + y * 71 + 3 * seed) & 0xFF);
      image.channels[2].Row(y)[x] = static_cast<uint8_t>((255 - x * 13 + y * y + seed) & 0xFF);
    }
  }
  return image;
}

void ExpectSamePixels(const ColorGrayImage& a, const ColorGrayImage& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (size_t c = 0; c < 3; ++c) {
    for (int y = 0; y < a.Height(); ++y) {
      for (int x = 0; x < a.Width(); ++x) {
        ASSERT_EQ(a.channels[c].Row(y)[x], b.channels[c].Row(y)[x]) << "channel " << c << " at " << x << ", " << y;
      }
    }
  }
}

// Expects f to throw lumet::Error whose message holds every text.
template <typename F>
void ExpectRefused(F f, const std::vector<std::string>& texts) {
  try {
    f();
    ADD_FAILURE() << "not refused";
  } catch (const Error& e) {
    for (const std::string& t : texts) EXPECT_NE(std::string(e.what()).find(t), std::string::npos) << e.what();
  }
}

TEST(ImageFile, EveryWrittenFormatReadsBackTheSamePixels) {
  TempFolder dir;
  const ColorGrayImage image = Pattern(13, 7, 1);  // odd width: BMP rows padded
  for (const ImageFormat format : {ImageFormat::Bmp, ImageFormat::Png, ImageFormat::Tiff}) {
    SCOPED_TRACE(ImageFormatExtension(format));
    const std::string path = dir.File(std::string("a") + ImageFormatExtension(format));
    WriteImageFile(path, image, format);
    ColorGrayImage back;
    ReadImageFile(path, back);
    ExpectSamePixels(image, back);
  }
  // The BMP path is the hardened reader and writer, byte for byte, whatever the case of the name.
  EXPECT_EQ(ReadWholeFile(dir.File("a.bmp")), BmpFile::EncodeImage(image, 0, 0, 13, 7));
  fs::copy_file(dir.File("a.bmp"), dir.File("b.BMP"));
  ColorGrayImage upper;
  ReadImageFile(dir.File("b.BMP"), upper);
  ExpectSamePixels(image, upper);
}

TEST(ImageFile, SixteenBitSamplesRoundToTheNearestEightBitValue) {
  // u -> (u * 255 + 32767) / 65535: the halfway point between k and k + 1 lies between
  // 257k + 128 and 257k + 129.
  const std::vector<std::pair<uint16_t, uint8_t>> table = {
      {0, 0}, {128, 0}, {129, 1}, {257, 1}, {257 * 100 + 128, 100}, {257 * 100 + 129, 101}, {65406, 254},
      {65407, 255}, {65535, 255}};
  TempFolder dir;
  // The estimate writer stores floor(v * 257); v = u + 0.5 over 257 stores u itself.
  ColorDoubleImage estimate;
  estimate.Create(static_cast<int>(table.size()), 1);
  for (size_t i = 0; i < table.size(); ++i) {
    for (size_t c = 0; c < 3; ++c) estimate.channels[c].Row(0)[i] = (table[i].first + 0.5) / 257.0;
  }
  const std::string path = dir.File("deep.tif");
  WriteEstimateTiff(path, estimate);
  ColorGrayImage read;
  ReadImageFile(path, read);
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(table[i].first);
    EXPECT_EQ(To8Bit(table[i].first), table[i].second);
    for (size_t c = 0; c < 3; ++c) EXPECT_EQ(read.channels[c].Row(0)[i], table[i].second);
  }
}

TEST(ImageFile, SixteenBitFilesKeepTheirSamplesInTheDeepPlanes) {
  // Samples 8 bits cannot hold (1, 2, 128, 25701, 30000, 65534 lie between 8-bit levels).
  const std::vector<uint16_t> samples = {0, 1, 2, 128, 129, 257 * 100 + 1, 30000, 65534, 65535};
  const int w = static_cast<int>(samples.size());
  const auto sample = [&](int c, int x, int y) {
    return samples[static_cast<size_t>((x + c + y) % w)];
  };
  // The estimate writer stores floor(v * 257); v = (u + 0.5) / 257 stores u itself.
  ColorDoubleImage estimate;
  estimate.Create(w, 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) estimate.channels[static_cast<size_t>(c)].Row(y)[x] = (sample(c, x, y) + 0.5) / 257.0;
    }
  }
  TempFolder dir;
  for (const ImageFormat format : {ImageFormat::Png, ImageFormat::Tiff}) {
    SCOPED_TRACE(ImageFormatExtension(format));
    const std::string path = dir.File(std::string("deep") + ImageFormatExtension(format));
    WriteEstimate16Bit(path, estimate, format);
    if (format == ImageFormat::Png) {
      EXPECT_EQ(ReadWholeFile(path)[24], 16);  // IHDR's bit depth
    }
    ColorGrayImage read;
    ReadImageFile(path, read);
    ASSERT_NE(read.deep, nullptr);
    for (int c = 0; c < 3; ++c) {
      const FloatImage& deep = read.deep->channels[c];
      ASSERT_EQ(deep.Width(), w);
      ASSERT_EQ(deep.Height(), 2);
      for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < w; ++x) {
          const uint16_t u = sample(c, x, y);
          EXPECT_EQ(deep.Row(y)[x], static_cast<float>(u / 257.0)) << c << " " << x << " " << y;
          EXPECT_EQ(std::lround(deep.Row(y)[x] * 257.0), u);  // back exactly
          EXPECT_EQ(read.channels[static_cast<size_t>(c)].Row(y)[x], To8Bit(u));
        }
      }
    }
  }
  // An 8-bit file has none, and BMP holds no 16-bit result.
  WriteImageFile(dir.File("eight.png"), Pattern(5, 4, 3), ImageFormat::Png);
  ColorGrayImage eight;
  ReadImageFile(dir.File("eight.png"), eight);
  EXPECT_EQ(eight.deep, nullptr);
  ExpectRefused([&] { WriteEstimate16Bit(dir.File("deep.bmp"), estimate, ImageFormat::Bmp); }, {"deep.bmp", "8 bits"});
}

TEST(ImageFile, TheResultDepthFollowsTheFormatAndFrameZero) {
  using D = ResultDepth;
  using I = InputDepth;
  using S = ResultSamples;
  struct Case {
    ImageFormat format;
    ResultDepth depth;
    InputDepth input;
    ResultSamples samples;
  };
  const std::vector<Case> cases = {
      {ImageFormat::Png, D::Auto, I::Bits8, S::Bits8},     {ImageFormat::Png, D::Auto, I::Bits16, S::Bits16},
      {ImageFormat::Png, D::Auto, I::Float, S::Bits16},    {ImageFormat::Png, D::Bits8, I::Float, S::Bits8},
      {ImageFormat::Png, D::Bits16, I::Bits8, S::Bits16},  {ImageFormat::Bmp, D::Auto, I::Float, S::Bits8},
      {ImageFormat::Bmp, D::Bits8, I::Bits16, S::Bits8},   {ImageFormat::Tiff, D::Auto, I::Bits8, S::Bits16},
      {ImageFormat::Tiff, D::Auto, I::Bits16, S::Bits16},  {ImageFormat::Tiff, D::Auto, I::Float, S::Float},
      {ImageFormat::Tiff, D::Bits16, I::Float, S::Bits16}, {ImageFormat::Tiff, D::Float, I::Bits8, S::Float},
      {ImageFormat::Exr, D::Auto, I::Bits8, S::Float},     {ImageFormat::Exr, D::Float, I::Bits16, S::Float},
      {ImageFormat::Exr, D::Auto, I::Float, S::Float},     {ImageFormat::Exr, D::Half, I::Float, S::Half},
      {ImageFormat::Exr, D::Half, I::Bits8, S::Half}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ImageFormatExtension(c.format)) + " " + std::to_string(static_cast<int>(c.depth)) +
                 " from " + std::to_string(static_cast<int>(c.input)));
    EXPECT_EQ(ResultSamplesFor(c.format, c.depth, c.input), c.samples);
  }
  ExpectRefused([] { ResultSamplesFor(ImageFormat::Bmp, D::Bits16, I::Bits16); }, {"BMP", "8 bits"});
  ExpectRefused([] { ResultSamplesFor(ImageFormat::Bmp, D::Float, I::Float); }, {"BMP", "exr for float"});
  ExpectRefused([] { ResultSamplesFor(ImageFormat::Tiff, D::Bits8, I::Bits8); }, {"TIFF", "16 bits"});
  ExpectRefused([] { ResultSamplesFor(ImageFormat::Png, D::Float, I::Float); }, {"PNG", "exr for float"});
  ExpectRefused([] { ResultSamplesFor(ImageFormat::Exr, D::Bits16, I::Float); }, {"OpenEXR", "floats"});
  ExpectRefused([] { ResultSamplesFor(ImageFormat::Exr, D::Bits8, I::Bits8); }, {"OpenEXR", "floats"});
  for (const ImageFormat format : {ImageFormat::Bmp, ImageFormat::Png, ImageFormat::Tiff}) {
    ExpectRefused([&] { ResultSamplesFor(format, D::Half, I::Float); }, {"no half floats", "exr for half"});
  }
  EXPECT_EQ(ParseResultDepth("auto"), ResultDepth::Auto);
  EXPECT_EQ(ParseResultDepth("8"), ResultDepth::Bits8);
  EXPECT_EQ(ParseResultDepth("16"), ResultDepth::Bits16);
  EXPECT_EQ(ParseResultDepth("float"), ResultDepth::Float);
  EXPECT_EQ(ParseResultDepth("half"), ResultDepth::Half);
  ExpectRefused([] { ParseResultDepth("12"); }, {"'12'", "auto, 8, 16, half, float"});
  EXPECT_EQ(ParseImageFormat("EXR"), ImageFormat::Exr);
  EXPECT_STREQ(ImageFormatExtension(ImageFormat::Exr), ".exr");
}

// Floating-point samples of a w x 2 picture: the nominal range's ends, values between its
// 8-bit levels, values below 0 and HDR values far above 1.
std::vector<float> FloatSamples(int w) {
  const std::vector<float> values = {0.0f, 1.0f, 0.5f, 0.25f / 255.0f, 100.7f / 255.0f, -0.25f, 1.5f, 17.0f, 1e-6f,
                                     0.999f, 3.3e4f, -2.0f};
  std::vector<float> rgb(static_cast<size_t>(w) * 2 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = values[(i * 5) % values.size()] * (1.0f + 0.01f * static_cast<float>(i % 7));
  return rgb;
}

// The deep planes and 8-bit channels of a frame read from floating-point samples rgb.
void ExpectFloatFrame(const ColorGrayImage& read, const std::vector<float>& rgb, int w, int h, float tolerance) {
  ASSERT_NE(read.deep, nullptr);
  EXPECT_TRUE(read.deep->floatSamples);
  ASSERT_EQ(read.Width(), w);
  ASSERT_EQ(read.Height(), h);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const float v = rgb[static_cast<size_t>((y * w + x) * 3 + c)];
        const float deep = read.deep->channels[c].Row(y)[x];
        if (tolerance == 0.0f) {
          ASSERT_EQ(deep, FloatDeepValue(v)) << c << " " << x << " " << y;
          ASSERT_EQ(read.channels[static_cast<size_t>(c)].Row(y)[x], FloatTo8Bit(v));
        } else {
          ASSERT_NEAR(deep, FloatDeepValue(v), tolerance * std::fabs(FloatDeepValue(v)) + 1e-3f) << c << " " << x << " " << y;
        }
      }
    }
  }
}

TEST(ImageFile, FloatFilesReadBackExactlyWithValuesBeyondOneKept) {
  // The 8-bit cut: v * 255 rounded, clamped.
  const std::vector<std::pair<float, uint8_t>> cut = {{-1.0f, 0},   {0.0f, 0},     {0.4f / 255, 0}, {0.6f / 255, 1},
                                                      {0.5f, 128},  {1.0f, 255},   {1.2f, 255},     {254.4f / 255, 254},
                                                      {1e30f, 255}, {-1e30f, 0}};
  for (const auto& [v, a] : cut) EXPECT_EQ(FloatTo8Bit(v), a) << v;
  const int w = 11;
  const std::vector<float> rgb = FloatSamples(w);
  TempFolder dir;
  for (const ImageFormat format : {ImageFormat::Exr, ImageFormat::Tiff}) {
    SCOPED_TRACE(ImageFormatExtension(format));
    const std::string path = dir.File(std::string("float") + ImageFormatExtension(format));
    WriteSamplesFloat(path, w, 2, rgb, format);
    ColorGrayImage read;
    ReadImageFile(path, read);
    ExpectFloatFrame(read, rgb, w, 2, 0.0f);
    // An estimate is written over 255, unquantised: read back to float precision.
    ColorDoubleImage estimate;
    estimate.Create(w, 2);
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < w; ++x) {
          estimate.channels[static_cast<size_t>(c)].Row(y)[x] = read.deep->channels[c].Row(y)[x] + 0.123;
        }
      }
    }
    WriteEstimateFloat(path, estimate, format);
    ColorGrayImage again;
    ReadImageFile(path, again);
    ASSERT_NE(again.deep, nullptr);
    for (int c = 0; c < 3; ++c) {
      for (int x = 0; x < w; ++x) {
        const double e = estimate.channels[static_cast<size_t>(c)].Row(1)[x];
        EXPECT_NEAR(again.deep->channels[c].Row(1)[x], e, 2.5e-7 * std::fabs(e) + 1e-9) << c << " " << x;
      }
    }
  }
  // The 8-bit picture as OpenEXR: each level over 255.
  const ColorGrayImage pattern = Pattern(5, 3, 2);
  WriteImageFile(dir.File("eight.exr"), pattern, ImageFormat::Exr);
  ColorGrayImage eight;
  ReadImageFile(dir.File("eight.exr"), eight);
  ExpectSamePixels(pattern, eight);
  ASSERT_NE(eight.deep, nullptr);
  EXPECT_EQ(eight.deep->channels[1].Row(2)[4], FloatDeepValue(static_cast<float>(pattern.channels[1].Row(2)[4] / 255.0)));
  // Floats go into OpenEXR and TIFF alone, 16 bits into PNG and TIFF alone.
  ExpectRefused([&] { WriteSamplesFloat(dir.File("f.png"), w, 2, rgb, ImageFormat::Png); }, {"f.png", "PNG"});
  ExpectRefused([&] { WriteEstimateFloat(dir.File("f.bmp"), ColorDoubleImage(), ImageFormat::Bmp); }, {"f.bmp", "BMP"});
  ExpectRefused([&] { WriteSamples16Bit(dir.File("s.exr"), 1, 1, {1, 2, 3}, ImageFormat::Exr); }, {"s.exr", "floats"});
}

TEST(ImageFile, HalfFloatOpenExrFramesReadWithinHalfPrecision) {
  // The imaging library writes 16-bit samples u into OpenEXR as half floats u / 65535.
  const int w = 9;
  std::vector<uint16_t> rgb(static_cast<size_t>(w) * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint16_t>((i * 2741 + 13) % 65536);
  TempFolder dir;
  const std::string path = dir.File("half.exr");
  const codec::ModuleTable& media = CodecModule(codec::ModuleKind::kMedia, "test");
  std::string bytes;
  std::string message;
  ASSERT_EQ(media.encodeStill(path.c_str(), w, 1, 16, false, rgb.data(), nullptr, &bytes, &message), codec::Status::kOk) << message;
  WriteFileAtomically(path, bytes);
  ColorGrayImage read;
  ReadImageFile(path, read);
  std::vector<float> nominal(rgb.size());
  for (size_t i = 0; i < rgb.size(); ++i) nominal[i] = static_cast<float>(rgb[i] / 65535.0);
  // A half float holds 11 significant bits: within 2^-11 of the value.
  ExpectFloatFrame(read, nominal, w, 1, 1.0f / 2048);
  int inexact = 0;
  for (int c = 0; c < 3; ++c) {
    for (int x = 0; x < w; ++x) {
      inexact += read.deep->channels[c].Row(0)[x] != FloatDeepValue(nominal[static_cast<size_t>(x * 3 + c)]);
    }
  }
  EXPECT_GT(inexact, 0);  // half floats, not floats
}

// The pixel type of each channel an OpenEXR file's header lists (0 unsigned int, 1 half,
// 2 float), by name; empty when the header cannot be read.
std::vector<std::pair<std::string, int>> ExrChannelTypes(const std::string& file) {
  auto int32 = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= uint32_t{static_cast<uint8_t>(file.at(at + i))} << (8 * i);
    return v;
  };
  if (file.size() < 8 || file.compare(0, 4, "\x76\x2f\x31\x01") != 0) return {};
  size_t at = 8;
  while (at < file.size() && file[at] != '\0') {
    const std::string name = file.c_str() + at;
    const std::string type = file.c_str() + at + name.size() + 1;
    const size_t value = at + name.size() + type.size() + 2 + 4;
    const size_t size = int32(value - 4);
    if (name == "channels" && type == "chlist") {
      std::vector<std::pair<std::string, int>> channels;
      for (size_t c = value; c < value + size && file[c] != '\0';) {
        const std::string channel = file.c_str() + c;
        c += channel.size() + 1;
        channels.emplace_back(channel, static_cast<int>(int32(c)));
        c += 16;  // type, linearity and reserved bytes, sampling
      }
      return channels;
    }
    at = value + size;
  }
  return {};
}

TEST(ImageFile, AnEstimateWrittenAsHalfFloatsIsAHalfOpenExrWithinHalfPrecision) {
  // Values over 255 as the result holds them: small, around the nominal white, HDR.
  const int w = 13;
  const int h = 3;
  ColorDoubleImage estimate;
  estimate.Create(w, h);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        estimate.channels[static_cast<size_t>(c)].Row(y)[x] = 0.37 * std::pow(3.1, x * 0.9 - 2.0) + 17.3 * y + 0.71 * c;
      }
    }
  }
  TempFolder dir;
  WriteEstimateHalf(dir.File("half.exr"), estimate, ImageFormat::Exr);
  WriteEstimateFloat(dir.File("float.exr"), estimate, ImageFormat::Exr);
  const std::vector<std::pair<std::string, int>> half = ExrChannelTypes(testing::ReadText(dir.File("half.exr")));
  const std::vector<std::pair<std::string, int>> full = ExrChannelTypes(testing::ReadText(dir.File("float.exr")));
  ASSERT_EQ(half.size(), 3u);
  for (const auto& [name, type] : half) EXPECT_EQ(type, 1) << name << ": half";
  ASSERT_EQ(full.size(), 3u);
  for (const auto& [name, type] : full) EXPECT_EQ(type, 2) << name << ": float";
  ColorGrayImage read;
  ReadImageFile(dir.File("half.exr"), read);
  ASSERT_NE(read.deep, nullptr);
  ASSERT_TRUE(read.deep->floatSamples);
  int inexact = 0;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const double e = estimate.channels[static_cast<size_t>(c)].Row(y)[x];
        const double back = read.deep->channels[c].Row(y)[x];
        // 11 significant bits: within 2^-11 of the value (and float's rounding of v / 255).
        EXPECT_NEAR(back, e, 1e-3 * e) << c << " " << x << " " << y;
        inexact += std::fabs(back - e) > 1e-6 * e;
      }
    }
  }
  EXPECT_GT(inexact, 0);  // rounded to half floats, not kept as floats
  EXPECT_GT(estimate.channels[0].Row(0)[w - 1], 255.0 * 10);  // HDR values among them
  // Half floats are OpenEXR's alone, as the depth "half" is.
  ExpectRefused([&] { WriteEstimateHalf(dir.File("h.tif"), estimate, ImageFormat::Tiff); }, {"h.tif", ".exr"});
  EXPECT_FALSE(std::filesystem::exists(dir.File("h.tif")));
}

TEST(ImageFile, FloatFramesWithSamplesNotANumberOrInfiniteAreRefusedNamingThePixel) {
  const int w = 4;
  TempFolder dir;
  for (const ImageFormat format : {ImageFormat::Exr, ImageFormat::Tiff}) {
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}) {
      SCOPED_TRACE(std::string(ImageFormatExtension(format)) + (std::isnan(bad) ? " nan" : " inf"));
      std::vector<float> rgb(static_cast<size_t>(w) * 3 * 3, 0.5f);
      rgb[(1 * w + 2) * 3 + 1] = bad;  // x 2, y 1, green
      const std::string path = dir.File(std::string("bad") + ImageFormatExtension(format));
      WriteSamplesFloat(path, w, 3, rgb, format);
      ColorGrayImage image = Pattern(2, 2, 0);
      ExpectRefused([&] { ReadImageFile(path, image); },
                    {path, "x 2, y 1", std::isnan(bad) ? "not a number" : "infinite", "finite"});
      EXPECT_EQ(image.Width(), 2);  // unchanged
    }
  }
}

TEST(ImageFile, TheSixteenBitEstimateDividedBy257IsTheEightBitResult) {
  // The 8-bit result truncates toward zero and clamps to 0 .. 255.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<double, int>> table = {{nan, 0},     {-3.0, 0},      {0.0, 0},     {0.999, 0},
                                                     {1.0, 1},     {127.5, 127},   {254.999, 254}, {255.0, 255},
                                                     {255.9, 255}, {300.0, 255},   {1e300, 255}};
  for (const auto& [v, expected] : table) {
    SCOPED_TRACE(v);
    EXPECT_EQ(EstimateTo16Bit(v) / 257, expected);
  }
  EXPECT_EQ(EstimateTo16Bit(255.0), 65535);
  EXPECT_EQ(EstimateTo16Bit(100.5), 25828);  // floor(100.5 * 257)
}

TEST(ImageFile, UnreadableFilesAreRefusedNamingThemAndTheFormats) {
  TempFolder dir;
  WriteImageFile(dir.File("good.png"), Pattern(40, 30, 2), ImageFormat::Png);
  const std::string bytes = ReadWholeFile(dir.File("good.png"));
  WriteFileAtomically(dir.File("cut.png"), bytes.substr(0, bytes.size() / 2));
  WriteFileAtomically(dir.File("text.png"), "this is not a picture\n");
  WriteFileAtomically(dir.File("text.xyz"), "this is not a picture\n");
  fs::create_directory(dir.File("folder.png"));
  ColorGrayImage image = Pattern(3, 2, 0);
  for (const std::string name : {"cut.png", "text.png", "text.xyz", "missing.png", "folder.png"}) {
    SCOPED_TRACE(name);
    ExpectRefused([&] { ReadImageFile(dir.File(name), image); }, {dir.File(name)});
    EXPECT_EQ(image.Width(), 3);  // left as it was
  }
  ExpectRefused([&] { ReadImageFile(dir.File("text.png"), image); }, {"PNG", "JPEG", "TIFF"});
}

TEST(VideoFile, ALosslessVideoGivesBackItsFramesInOrderAndThenEnds) {
  TempFolder dir;
  std::vector<ColorGrayImage> frames;
  for (int k = 0; k < 5; ++k) frames.push_back(Pattern(18, 10, 40 * k));
  const std::string path = dir.File("clip.mkv");
  testing::WriteLosslessVideo(path, frames);
  EXPECT_TRUE(VideoFile::HasVideoExtension(path));
  EXPECT_FALSE(VideoFile::HasVideoExtension(dir.File("a.png")));

  VideoFile video(path);
  for (int k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(video.NextIndex(), k);
    ColorGrayImage image;
    ASSERT_TRUE(video.ReadNext(&image));
    ExpectSamePixels(frames[static_cast<size_t>(k)], image);
  }
  EXPECT_FALSE(video.ReadNext(nullptr));
  EXPECT_FALSE(video.ReadNext(nullptr));

  WriteFileAtomically(dir.File("text.mkv"), "this is not a video\n");
  for (const std::string name : {"text.mkv", "missing.mkv"}) {
    SCOPED_TRACE(name);
    ExpectRefused([&] { VideoFile v(dir.File(name)); }, {dir.File(name)});
  }
}

}  // namespace
}  // namespace lumet
