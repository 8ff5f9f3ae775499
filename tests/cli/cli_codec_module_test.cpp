#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/cli_runner.h"
#include "imageio/codec_interface.h"
#include "imageio/image_file.h"

namespace lumet {
namespace {

using namespace lumet::testing;  // NOLINT(google-build-using-namespace): the test helpers
namespace fs = std::filesystem;

// A copy of lumet-cli in dir/bin with no codec module in dir/lib/lumet runs whole BMP
// jobs, and refuses other formats naming the file and the module it could not load; once
// the module is put beside it, the same command reads them.
TEST(CliCodecModule, BmpJobsNeedNoModuleAndOtherFormatsNameTheOneMissing) {
  TempFolder dir;
  const fs::path root = fs::canonical(dir.Path());
  fs::create_directories(root / "bin");
  const fs::path program = root / "bin" / "lumet-cli";
  fs::copy_file(LUMET_CLI_PATH, program);

  ASSERT_EQ(RunProgram(program, "synth seq --lr-count 3 --size 220x160 --seed 3", root).exitCode, 0);
  const auto job = RunProgram(program, "-C seq run", root);
  ASSERT_EQ(job.exitCode, 0) << job.err;
  EXPECT_TRUE(fs::exists(root / "seq" / "result" / "hr.bmp"));

  ColorGrayImage frame;
  ReadImageFile((root / "seq" / "images" / "lr-0.bmp").string(), frame);
  WriteImageFile((root / "seq" / "frame-0.png").string(), frame, ImageFormat::Png);
  const fs::path module = root / "lib" / "lumet" / codec::kStillModuleFileName;
  const auto refused = RunProgram(program, "-C seq show-reference --lr-pattern ./frame-%d.png", root);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err, "Error: cannot read ./frame-0.png: the PNG, JPEG and TIFF codec module cannot be loaded (" +
                             module.string() + ": cannot open shared object file: No such file or directory)\n");

  // A result format that needs the module is refused before any work: no registration
  // output, no file touched.
  const std::string paramsBefore = ReadText(root / "seq" / "param.txt");
  for (const char* format : {"png", "tiff"}) {
    SCOPED_TRACE(format);
    const auto early = RunProgram(program, std::string("-C seq run --lr-count 2 --format ") + format, root);
    EXPECT_EQ(early.exitCode, 1);
    EXPECT_EQ(early.out, "");
    EXPECT_EQ(early.err, std::string("Error: --format ") + format +
                             ": the PNG, JPEG and TIFF codec module cannot be loaded (" + module.string() +
                             ": cannot open shared object file: No such file or directory)\n");
    EXPECT_EQ(ReadText(root / "seq" / "param.txt"), paramsBefore);
  }
  // OpenEXR is written through the media module.
  const auto exr = RunProgram(program, "-C seq run --lr-count 2 --format exr", root);
  EXPECT_EQ(exr.exitCode, 1);
  EXPECT_EQ(exr.out, "");
  EXPECT_EQ(exr.err.rfind("Error: --format exr: ", 0), 0u) << exr.err;
  EXPECT_NE(exr.err.find(codec::kMediaModuleFileName), std::string::npos) << exr.err;
  EXPECT_EQ(ReadText(root / "seq" / "param.txt"), paramsBefore);

  // A module cut short (an interrupted copy) is refused before it is mapped.
  const fs::path built = fs::path(LUMET_CLI_PATH).parent_path().parent_path() / "lib" / "lumet";
  fs::create_directories(module.parent_path());
  fs::copy_file(built / codec::kStillModuleFileName, module);
  fs::resize_file(module, fs::file_size(module) / 2);
  const auto cut = RunProgram(program, "-C seq show-reference --lr-pattern ./frame-%d.png", root);
  EXPECT_EQ(cut.exitCode, 1);
  EXPECT_NE(cut.err.find(module.string() + ": the file is incomplete"), std::string::npos) << cut.err;

  fs::remove(module);
  fs::copy_file(built / codec::kStillModuleFileName, module);
  const auto shown = RunProgram(program, "-C seq show-reference --lr-pattern ./frame-%d.png", root);
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
}

}  // namespace
}  // namespace lumet
