// The classic method's result files for two small synthetic sequences made here, pinned by
// checksum: any change to the numbers the registration or reconstruction produce fails this
// test, whatever the thread count. The checksums are those of the files the command line
// wrote for the same sequences before the engine was restructured.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "params/param_file.h"
#include "params/param_set.h"
#include "support/temp_folder.h"
#include "synth/synth_options.h"
#include "synth/synthetic_sequence.h"
#include "util/parallel.h"
#include "workbench/recording_port.h"
#include "workbench/workbench.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

// FNV-1a, 64 bits: enough to tell any change of a file's bytes.
uint64_t Checksum(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

struct GoldenCase {
  const char* name;
  SynthOptions synth;
  std::function<void(ParamSet&)> adjust;  // the run's parameters beyond param.txt
  std::vector<std::pair<const char*, uint64_t>> files;
};

std::vector<GoldenCase> Cases() {
  std::vector<GoldenCase> cases(2);
  cases[0].name = "chart x4";
  cases[0].synth.scene = "chart";
  cases[0].synth.lrCount = 4;
  cases[0].synth.width = 220;
  cases[0].synth.height = 160;
  cases[0].synth.seed = 3;
  cases[0].adjust = [](ParamSet& p) { p.lrCount = 4; };
  cases[0].files = {
      {"result/hr.bmp", 7394349699135609910ull},
      {"result/first_lr.bmp", 10886632808952653973ull},
      {"result/hr_hom-1.txt", 2293439769294612756ull},
      {"result/hr_hom-2.txt", 13996712753800634538ull},
      {"result/hr_hom-3.txt", 4188614655112700496ull},
      {"result/hr_hom-4.txt", 14583818187265585510ull},
      {"steet_rms.txt", 9489507196414747906ull}};
  cases[1].name = "texture x3, another ROI, PSF and RANSAC";
  cases[1].synth.scene = "texture";
  cases[1].synth.lrCount = 5;
  cases[1].synth.width = 240;
  cases[1].synth.height = 170;
  cases[1].synth.scale = 3;
  cases[1].synth.psfSigma = 0.8;
  cases[1].synth.seed = 9;
  cases[1].adjust = [](ParamSet& p) {
    p.lrCount = 5;
    p.roi = RoiRect{150, 100, 200, 140};
    p.ransacFirst = 12;
    p.ransacSecond = 16;
    p.sadSize = 20;
  };
  cases[1].files = {
      {"result/hr.bmp", 2283508815893692000ull},
      {"result/first_lr.bmp", 9764816472472893737ull},
      {"result/hr_hom-1.txt", 11841692910963024756ull},
      {"result/hr_hom-2.txt", 18308861191580092345ull},
      {"result/hr_hom-3.txt", 6462631739559582670ull},
      {"result/hr_hom-4.txt", 9325458863415996675ull},
      {"result/hr_hom-5.txt", 15169428487342198600ull},
      {"steet_rms.txt", 10039366472542500516ull}};
  return cases;
}

TEST(GoldenTest, ClassicFilesOfTwoSequencesKeepTheirChecksums) {
  const fs::path saved = fs::current_path();
  for (const GoldenCase& c : Cases()) {
    for (const int threads : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
      SetThreadCount(threads);
      const testing::TempFolder folder;
      WriteSyntheticSequence(folder.Path().string(), c.synth);
      fs::current_path(folder.Path());
      ParamSet p = InitParams();
      LoadParams(kParamFileName, p);
      c.adjust(p);
      AdoptParams(p);
      Workbench bench;
      bench.params = p;
      testing::RecordingPort port;
      bench.Registration(port);
      bench.Reconstruction(port);
      for (const auto& [file, expected] : c.files) {
        EXPECT_EQ(Checksum(testing::ReadText(file)), expected) << file;
      }
      fs::current_path(saved);
    }
  }
  SetThreadCount(0);
}

}  // namespace
}  // namespace lumet
