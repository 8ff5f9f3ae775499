// The synthetic sequence fed through the real reconstruction with its true homographies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "imageio/bmp_file.h"
#include "params/param_set.h"
#include "synth/quality.h"
#include "synth/synth_test_support.h"
#include "synth/synthetic_sequence.h"
#include "workbench/recording_port.h"
#include "workbench/workbench.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

// The commands use names relative to the working folder; this one lasts for a scope.
class WorkIn {
 public:
  explicit WorkIn(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
  ~WorkIn() {
    std::error_code ec;
    fs::current_path(previous_, ec);
  }
  WorkIn(const WorkIn&) = delete;
  WorkIn& operator=(const WorkIn&) = delete;

 private:
  fs::path previous_;
};

ColorGrayImage Read(const std::string& path) {
  ColorGrayImage image;
  BmpFile::ReadFrame(path, image);
  return image;
}

TEST(SynthReconstruction, TrueHomographiesReconstructClearlyAboveTheFirstFrame) {
  // Noise-free frames and exact homographies: what the reconstruction gets beyond one frame
  // is the sub-pixel information of the others, and it must show against the truth. The
  // truth's grid, the homography direction and the PSF all have to agree with the
  // reconstruction's conventions for this to hold.
  testing::SynthTempFolder tmp;
  SynthOptions o;
  o.lrCount = 8;
  o.width = 220;
  o.height = 160;
  o.scale = 3;
  o.noise = 0.0;
  WriteSyntheticSequence(tmp.Path().string(), o);

  const WorkIn inDir(tmp.Path());
  ParamSet params = InitParams();
  ASSERT_EQ(LoadParams("param.txt", params), 17);
  AdoptParams(params);
  for (int k = 1; k < params.lrCount; ++k) {
    fs::create_directories("result");
    fs::copy_file(SynthTruthHomographyPath(".", k), FormatFrameName(params.homographyPattern, k));
  }
  Workbench bench;
  bench.params = params;
  testing::RecordingPort port;
  bench.Reconstruction(port);

  const ColorGrayImage truth = Read(SynthTruthImagePath("."));
  const ColorGrayImage result = Read(params.resultFile);
  const ColorGrayImage first = Read(kFirstFramePath);
  const ColorGrayImage bicubic = BicubicEnlarge(Read(params.referenceFile), params.roi, params.scale);
  const double psnrResult = Psnr(result, truth);
  const double psnrFirst = Psnr(first, truth);
  const double psnrBicubic = Psnr(bicubic, truth);
  EXPECT_GT(psnrResult, psnrFirst + 2.0) << psnrResult << " vs " << psnrFirst;
  EXPECT_GT(psnrResult, psnrBicubic + 1.0) << psnrResult << " vs " << psnrBicubic;
  EXPECT_GT(Ssim(result, truth), Ssim(bicubic, truth) + 0.05);
}

}  // namespace
}  // namespace lumet
