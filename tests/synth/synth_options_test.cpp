#include "synth/synth_options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "util/error.h"

namespace lumet {
namespace {

TEST(SynthOptions, DefaultsAreAccepted) {
  const SynthOptions o;
  EXPECT_NO_THROW(o.Check());
  EXPECT_EQ(o.scene, "chart");
  EXPECT_EQ(o.lrCount, 30);
  EXPECT_EQ(o.width, 320);
  EXPECT_EQ(o.height, 240);
  EXPECT_EQ(o.scale, 4);
  EXPECT_EQ(o.psfSigma, 0.6);
  EXPECT_EQ(o.noise, 2.0);
  EXPECT_EQ(o.motion, 3.0);
  EXPECT_EQ(o.seed, 1u);
}

TEST(SynthOptions, ValuesOutOfRangeAreRefusedNamingTheOption) {
  struct Case {
    std::string option;
    std::function<void(SynthOptions&)> change;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {"--scene", [](SynthOptions& o) { o.scene = "stars"; }},
      {"--scene", [](SynthOptions& o) { o.scene = ""; }},
      {"--lr-count", [](SynthOptions& o) { o.lrCount = 0; }},
      {"--lr-count", [](SynthOptions& o) { o.lrCount = kSynthMaxFrames + 1; }},
      {"--size", [](SynthOptions& o) { o.width = 219; }},   // the ROI ends at x 200, plus a margin of 20
      {"--size", [](SynthOptions& o) { o.height = 159; }},  // the ROI ends at y 140
      {"--size", [](SynthOptions& o) { o.width = 1025; }},
      {"--scale", [](SynthOptions& o) { o.scale = 2; }},
      {"--scale", [](SynthOptions& o) { o.scale = 5; }},
      {"--psf-sigma", [](SynthOptions& o) { o.psfSigma = -0.1; }},
      {"--psf-sigma", [](SynthOptions& o) { o.psfSigma = 0.0; }},  // the reconstruction needs it positive
      {"--psf-sigma", [nan](SynthOptions& o) { o.psfSigma = nan; }},
      {"--noise", [](SynthOptions& o) { o.noise = -1.0; }},
      {"--noise", [nan](SynthOptions& o) { o.noise = nan; }},
      {"--motion", [](SynthOptions& o) { o.motion = -0.5; }},
      {"--motion", [](SynthOptions& o) { o.motion = 10.5; }},
  };
  for (const Case& c : cases) {
    SynthOptions o;
    c.change(o);
    SCOPED_TRACE(c.option);
    try {
      o.Check();
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.option), std::string::npos) << e.what();
    }
  }
}

TEST(SynthOptions, LimitsThemselvesAreAccepted) {
  SynthOptions o;
  o.width = 220;
  o.height = 160;
  o.lrCount = kSynthMaxFrames;
  o.scale = 3;
  o.noise = 0.0;
  o.motion = 0.0;
  EXPECT_NO_THROW(o.Check());
  o.lrCount = 1;
  o.motion = 10.0;
  o.scene = "texture";
  EXPECT_NO_THROW(o.Check());
}

}  // namespace
}  // namespace lumet
