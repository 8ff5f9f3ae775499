// A method of the test's own, registered with one call: the parameter table, the command and
// the library's stages take it as they take the built-in two.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "imageio/bmp_file.h"
#include "library/conversions.h"
#include "library/sequence_source.h"
#include "lumet/stages.h"
#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "params/param_file.h"
#include "reconstruction/reconstruction_method.h"
#include "support/expect_error.h"
#include "support/temp_folder.h"
#include "support/test_images.h"
#include "util/text_format.h"
#include "workbench/recording_port.h"
#include "workbench/workbench.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

// How much the test's method brightens its result: a parameter of its own.
constexpr MethodParam kBrighten{.name = "brighten", .flag = "--brighten", .label = "brightening", .typeName = "FLOAT",
                                .help = "nearest method: grey levels added", .defaultText = "10", .minimum = 0,
                                .maximum = 100};

// Frame 0's nearest LR pixel at each HR pixel, brightened (by 10 unless told otherwise) so
// that it cannot be mistaken for another method's result.
class Nearest : public ReconstructionMethod {
 public:
  std::string Word() const override { return "nearest"; }
  std::vector<MethodParam> Params() const override { return {kBrighten}; }
  int FrameCount(int) const override { return 1; }
  void CheckOptions(const ReconstructionOptions&) const override {}
  size_t WorkingBytes(const ReconstructionOptions&, const HrGeometry& grid, bool) const override {
    return 3 * sizeof(double) * static_cast<size_t>(grid.width) * static_cast<size_t>(grid.height);
  }
  void Reconstruct(ReconstructionInput& input, const ReconstructionOptions& options, ReconstructionObserver& observer,
                   ColorDoubleImage& estimate) const override {
    const HrGeometry& g = input.grid;
    const double brighten = kBrighten.In(options);
    estimate.Create(g.width, g.height);
    for (size_t c = 0; c < 3; ++c) {
      for (int r = 0; r < g.height; ++r) {
        for (int col = 0; col < g.width; ++col) {
          const int x = static_cast<int>(std::lround((col + g.x0) / g.scale));
          const int y = static_cast<int>(std::lround((r + g.y0) / g.scale));
          estimate.channels[c].At(col, r) = input.frames[0].channels[c][y][x] + brighten;
        }
      }
    }
    observer.Progress(1, 1, 0, 1);
  }
};

double Scene(int c, double x, double y) { return 20 + 30 * c + 3 * x + 2 * y; }

TEST(MethodRegistry, AMethodOfItsOwnIsTakenEverywhereAMethodIs) {
  static const Nearest nearest;
  const Method value = RegisterReconstructionMethod(nearest);
  EXPECT_EQ(static_cast<int>(value), 2);
  EXPECT_EQ(&ReconstructionMethodFor(value), &nearest);
  testing::ExpectError([] { RegisterReconstructionMethod(nearest); }, {"called nearest already"});

  // The parameter table: its word is a value of the method row, in its range and its help.
  ParamSet p = InitParams();
  p.method = "nearest";
  CheckParams(p);
  EXPECT_EQ(MethodOf(p), value);
  EXPECT_EQ(MethodName(value), "nearest");
  const ParamDescription& row = ParamRows()[FindParam("method")];
  EXPECT_EQ(ParamRangeText(row), "classic, enhanced or nearest");
  EXPECT_EQ(TypeNameOf(row), "classic|enhanced|nearest");
  p.method = "farthest";
  testing::ExpectError([&] { CheckParams(p); }, {"classic, enhanced or nearest"});

  // Its own parameter: a row of the table after the enhanced method's, with its default in
  // every set, its range checked, and a "name value" line in param.txt once changed.
  const size_t brightenRow = FindParam("brighten");
  ASSERT_EQ(brightenRow, ParamRows().size() - 1);
  EXPECT_EQ(FindParam("linearLight"), brightenRow - 2);
  EXPECT_EQ(FindParam("localMotion"), brightenRow - 1);
  const ParamDescription& brighten = ParamRows()[brightenRow];
  EXPECT_STREQ(brighten.flag, "--brighten");
  EXPECT_EQ(brighten.kind, ParamKind::Double);
  EXPECT_EQ(brighten.line, 0);
  p = InitParams();
  EXPECT_EQ(p.methodValues.at("brighten"), 10.0);
  EXPECT_EQ(FormatParamFile(p).find("brighten"), std::string::npos);
  ASSERT_EQ(SetParamFromText(brighten, "25", p), "");
  EXPECT_NE(FormatParamFile(p).find("\nbrighten 25"), std::string::npos) << FormatParamFile(p);
  p.methodValues["brighten"] = 200;
  testing::ExpectError([&] { CheckParams(p); }, {"brightening 200 is out of range (allowed: at least 0, at most 100)"});
  p.methodValues.erase("brighten");
  p.methodValues["brightness"] = 1;
  testing::ExpectError([&] { CheckParams(p); }, {"no method has a parameter called \"brightness\""});

  // Another method may share the parameter only as declared here.
  struct Dimmer final : Nearest {
    std::string Word() const override { return "dimmer"; }
    std::vector<MethodParam> Params() const override {
      MethodParam other = kBrighten;
      other.maximum = 50;
      return {other};
    }
  };
  static const Dimmer dimmer;
  testing::ExpectError([] { RegisterReconstructionMethod(dimmer); },
                       {"the dimmer method's parameter brighten differs from the nearest method's"});
  EXPECT_EQ(ReconstructionMethods().size(), 3u);

  // The library's stages.
  EXPECT_EQ(lumet::Methods(), (std::vector<std::string>{"classic", "enhanced", "nearest"}));
  auto images = std::make_shared<FrameImages>();
  images->push_back(testing::MakeColor(60, 50, [](int c, int x, int y) { return Scene(c, x, y); }));
  const Sequence sequence = Sequence::FromSource(std::make_shared<Sequence::Source>(std::string(), 0, images));
  Settings settings;
  settings.method = "nearest";
  settings.roi = Rect{10, 8, 20, 16};
  settings.scale = 2;
  ASSERT_EQ(lumet::MethodParameters("nearest").size(), 1u);
  EXPECT_EQ(lumet::MethodParameters("nearest")[0].defaultValue, 10.0);
  EXPECT_EQ(settings.methodParams.at("brighten"), 10.0);
  settings.methodParams["brighten"] = 20;
  const Result result = lumet::Reconstruct(sequence, Registration(), 0, {}, settings);
  EXPECT_EQ(result.outcome.method, "nearest");
  EXPECT_EQ(result.outcome.frames, std::vector<int>{0});
  ASSERT_EQ(result.estimate.width, 40);
  // HR pixel (3, 5) is LR (10 + 1.5, 8 + 2.5), nearest (12, 11) after rounding half away.
  EXPECT_DOUBLE_EQ(result.estimate.band[1][5 * 40 + 3], std::lround(Scene(1, 12, 11)) + 20.0);

  // The reconstruction command writes its result.
  const fs::path saved = fs::current_path();
  testing::TempFolder folder;
  fs::current_path(folder.Path());
  BmpFile::WriteImage("./images/lr-0.bmp", (*images)[0], 0, 0, 60, 50);
  Workbench bench;
  bench.params.method = "nearest";
  bench.params.roi = RoiRect{10, 8, 30, 24};
  bench.params.scale = 2;
  bench.params.lrCount = 1;
  testing::RecordingPort port;
  bench.Reconstruction(port);
  ColorGrayImage written;
  BmpFile::ReadFrame("./result/hr.bmp", written);
  EXPECT_EQ(written.channels[1][5][3], std::lround(Scene(1, 12, 11)) + 10);
  fs::current_path(saved);
}

}  // namespace
}  // namespace lumet
