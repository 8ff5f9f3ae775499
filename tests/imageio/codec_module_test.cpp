#include "imageio/codec_interface.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <new>
#include <stdexcept>
#include <string>

#include "codecs/codec_failure.h"
#include "imageio/bmp_file.h"
#include "imageio/codec_library.h"
#include "imageio/homography_file.h"
#include "imageio/image_file.h"
#include "imageio/video_file.h"
#include "numeric/matrix.h"
#include "support/temp_folder.h"
#include "util/error.h"

namespace lumet {
namespace {

using testing::TempFolder;

// Whether this process has mapped a codec module (RTLD_NOLOAD never maps it).
bool ModuleLoaded(codec::ModuleKind kind) {
  void* handle = dlopen(CodecModulePath(kind).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

ColorGrayImage Gradient(int w, int h) {
  ColorGrayImage image;
  image.Create(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) image.channels[static_cast<size_t>(c)].Row(y)[x] = static_cast<uint8_t>(x * 9 + y * 5 + c * 60);
    }
  }
  return image;
}

// The work of a job on BMP frames (and the refusals that need no decoder), in a fresh
// process: the module must stay unmapped throughout.
TEST(CodecModule, BmpFramesHomographiesAndBmpResultsNeverLoadIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // std::exit runs no destructors: the folder goes with the function before it.
  const auto check = [] {
    TempFolder dir;
    const ColorGrayImage picture = Gradient(12, 7);
    WriteImageFile(dir.File("frame.bmp"), picture, ImageFormat::Bmp);
    ColorGrayImage read;
    ReadImageFile(dir.File("frame.bmp"), read);
    BmpFile::WriteImage(dir.File("roi.bmp"), read, 2, 1, 5, 4);
    BmpFile::ReadFrame(dir.File("roi.bmp"), read);
    Matrix h(3, 3, 0.0);
    h[0][0] = h[1][1] = h[2][2] = 1.0;
    h[0][2] = 0.25;
    WriteHomographyFile(dir.File("hom-1.txt"), h);
    ReadHomographyFile(dir.File("hom-1.txt"));
    const bool video = VideoFile::HasVideoExtension("clip.mkv") && !VideoFile::HasVideoExtension("frame.png");
    bool refused = true;
    for (const char* missing : {"missing.png", "missing.tif"}) {
      try {
        ReadImageFile(dir.File(missing), read);
        refused = false;
      } catch (const Error&) {
      }
    }
    try {
      VideoFile clip(dir.File("missing.mkv"));
      refused = false;
    } catch (const Error&) {
    }
    return video && refused && read.Width() == 5 && !ModuleLoaded(codec::ModuleKind::kStill) &&
           !ModuleLoaded(codec::ModuleKind::kMedia);
  };
  EXPECT_EXIT(std::exit(check() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// PNG, JPEG and TIFF frames and results need only the small still module; the imaging
// library's module (hundreds of libraries) stays unmapped. In a fresh process.
TEST(CodecModule, PngJpegAndTiffLoadOnlyTheStillModuleFromBesideTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // std::exit runs no destructors: the folder goes with the function before it.
  const auto check = [] {
    TempFolder dir;
    const ColorGrayImage picture = Gradient(9, 6);
    WriteImageFile(dir.File("frame.png"), picture, ImageFormat::Png);
    WriteImageFile(dir.File("frame.tif"), picture, ImageFormat::Tiff);
    ColorGrayImage png;
    ColorGrayImage tiff;
    ReadImageFile(dir.File("frame.png"), png);
    ReadImageFile(dir.File("frame.tif"), tiff);
    // 32-bit float TIFF too, beyond the nominal white.
    WriteSamplesFloat(dir.File("float.tif"), 1, 1, {0.5f, 2.0f, -1.0f}, ImageFormat::Tiff);
    ColorGrayImage floats;
    ReadImageFile(dir.File("float.tif"), floats);
    const bool same = png.Width() == 9 && tiff.Width() == 9 &&
                      std::equal(png.channels[1].Row(5), png.channels[1].Row(5) + 9, picture.channels[1].Row(5)) &&
                      std::equal(tiff.channels[2].Row(3), tiff.channels[2].Row(3) + 9, picture.channels[2].Row(3)) &&
                      floats.deep != nullptr && floats.deep->channels[1].Row(0)[0] == 510.0f;
    return same && ModuleLoaded(codec::ModuleKind::kStill) && !ModuleLoaded(codec::ModuleKind::kMedia);
  };
  EXPECT_EXIT(std::exit(check() ? 0 : 1), ::testing::ExitedWithCode(0), "");
  // <build>/bin/test_imageio finds <build>/lib/lumet/, as an installed program finds
  // <prefix>/lib/lumet/.
  for (const auto& [kind, name] : {std::pair{codec::ModuleKind::kStill, codec::kStillModuleFileName},
                                   std::pair{codec::ModuleKind::kMedia, codec::kMediaModuleFileName}}) {
    const std::string tail = std::string("/lib/lumet/") + name;
    const std::string path = CodecModulePath(kind);
    ASSERT_GT(path.size(), tail.size());
    EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
  }
}

// What the module throws inside comes out on the program's side as the same kind of
// failure with the same text; nothing unwinds through the boundary itself.
TEST(CodecModule, FailuresCrossTheBoundaryAsStatusesAndBecomeTheExceptionsTheyStandFor) {
  enum class Kind { kError, kOutOfMemory, kInternal };
  struct Case {
    const char* name;
    void (*raise)();
    codec::Status status;
    Kind kind;
    const char* text;
  };
  const Case cases[] = {
      {"whole message", [] { codec::Fail("cannot write x.png: no writer for this format"); }, codec::Status::kFailed,
       Kind::kError, "cannot write x.png: no writer for this format"},
      {"unreadable reason", [] { codec::FailUnreadable("not a PNG file"); }, codec::Status::kUnreadable, Kind::kError,
       "not a PNG file"},
      {"out of memory", [] { throw std::bad_alloc(); }, codec::Status::kOutOfMemory, Kind::kOutOfMemory, ""},
      {"library exception", [] { throw std::out_of_range("index 7"); }, codec::Status::kInternal, Kind::kInternal,
       "index 7"},
      {"anything else", [] { throw 42; }, codec::Status::kInternal, Kind::kInternal,
       "unknown exception in the codec module"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string message;
    const codec::Status status = codec::Guard(&message, [&] {
      c.raise();
      return codec::Status::kOk;
    });
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(message, c.text);
    try {
      ThrowCodecFailure(status, message);
    } catch (const Error& e) {
      EXPECT_EQ(c.kind, Kind::kError);
      EXPECT_EQ(std::string(e.what()), c.text);
    } catch (const std::bad_alloc&) {
      EXPECT_EQ(c.kind, Kind::kOutOfMemory);
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(c.kind, Kind::kInternal);
      EXPECT_EQ(std::string(e.what()), c.text);
    }
  }
  std::string message;
  EXPECT_EQ(codec::Guard(&message, [] { return codec::Status::kEnd; }), codec::Status::kEnd);
  EXPECT_TRUE(message.empty());
}

}  // namespace
}  // namespace lumet
