// One frame's registration as the registration command runs it, and the checks of its options.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "numeric/projection.h"
#include "numeric/random.h"
#include "registration/frame_registration.h"
#include "registration/homography_search.h"
#include "registration/test_images.h"
#include "support/expect_error.h"
#include "support/test_images.h"
#include "util/option_error.h"

namespace lumet {
namespace {

// The scene moved by (dx, dy): reference point p shows at p + (dx, dy).
GrayImage Moved(double dx, double dy) {
  return testing::MakeGray(160, 120, [&](double x, double y) { return testing::BlobScene(x - dx, y - dy); });
}

RegistrationOptions Options() { return testing::BlobSceneOptions(); }

TEST(FrameRegistrationTest, RecoversAKnownShiftWithinATenthOfAPixel) {
  const GrayImage reference = Moved(0, 0);
  const RegistrationOptions options = Options();
  const RegistrationReference prepared = PrepareReference(reference, options);
  ASSERT_GT(prepared.points.size(), 10u);
  for (const auto& [dx, dy] : {std::array{0.6, -0.4}, std::array{-2.25, 1.5}}) {
    SCOPED_TRACE("shift " + std::to_string(dx) + ", " + std::to_string(dy));
    LcgRandom random;
    const FrameRegistration r = RegisterFrame(prepared, Moved(dx, dy), options, random);
    ASSERT_TRUE(r.sizes.Searchable());
    EXPECT_LT(r.e2, r.e1 + 1e-9);  // the refinement never ends worse than the search
    const ProjectedPoint centre = ProjectPoint(r.h, 80, 60);
    EXPECT_NEAR(centre.u, 80 + dx, 0.1);
    EXPECT_NEAR(centre.v, 60 + dy, 0.1);
  }
}

// The command runs the three steps of many frames at once, handing each search the generator
// where the frame before would leave it: that must be RegisterFrame exactly.
TEST(FrameRegistrationTest, StepsWithTheGeneratorHandedOnEqualRegisterFrame) {
  const GrayImage reference = Moved(0, 0);
  const RegistrationOptions options = Options();
  const RegistrationReference prepared = PrepareReference(reference, options);
  const GrayImage flat = testing::MakeGray(160, 120, [](double, double) { return 128; });
  const std::vector<GrayImage> frames = {Moved(0.5, 0.25), flat, Moved(-1, 0.75)};

  LcgRandom sequential;
  std::vector<FrameRegistration> expected;
  for (const GrayImage& frame : frames) expected.push_back(RegisterFrame(prepared, frame, options, sequential));
  EXPECT_FALSE(expected[1].sizes.Searchable());  // the flat frame draws nothing
  EXPECT_EQ(expected[1].e1, kTooFewPairs);

  LcgRandom handedOn;
  for (size_t k = 0; k < frames.size(); ++k) {
    SCOPED_TRACE("frame " + std::to_string(k));
    FrameRegistration r;
    DetectFramePoints(frames[k], options, r);
    PairFramePoints(prepared, frames[k], options, r);
    const LcgRandom start = handedOn;
    if (r.sizes.Searchable()) SkipSearchDraws(handedOn, kSearchTrials);
    FitFrame(prepared, frames[k], options, start, r);
    EXPECT_EQ(r.e1, expected[k].e1);
    EXPECT_EQ(r.e2, expected[k].e2);
    EXPECT_EQ(r.refinementLog, expected[k].refinementLog);
    for (int i = 1; i <= 3; ++i) {
      for (int j = 1; j <= 3; ++j) EXPECT_EQ(r.h.At1(i, j), expected[k].h.At1(i, j));
    }
  }
  EXPECT_EQ(handedOn.State(), sequential.State());
}

TEST(RegistrationOptionsTest, RefusalsNameTheFieldAndPart) {
  EXPECT_NO_THROW(Options().Check());
  struct Case {
    void (*change)(RegistrationOptions&);
    const char* field;
    int part;
    const char* rest;
  };
  const Case cases[] = {
      {[](RegistrationOptions& o) { o.filterSigma = 0; }, "filterSigma", 0, " is out of range (allowed: above 0, at most 5)"},
      {[](RegistrationOptions& o) { o.filterSigma = NAN; }, "filterSigma", 0, " is out of range"},
      {[](RegistrationOptions& o) { o.ransacSecond = 1001; }, "ransac", 1, ": the pool size 1001 is out of range"},
      {[](RegistrationOptions& o) { o.ransacFirst = 13; }, "ransac", 0, ": the sample size 13 exceeds the pool size 12"},
      {[](RegistrationOptions& o) { o.sadSize = -1; }, "sadSize", 0, " is out of range (allowed: 0 to 1000)"},
      {[](RegistrationOptions& o) { o.searchArea = -1; }, "searchArea", 0, " is out of range (allowed: 0 or more)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rest);
    RegistrationOptions o = Options();
    c.change(o);
    try {
      o.Check();
      ADD_FAILURE() << "accepted";
    } catch (const OptionError& e) {
      EXPECT_STREQ(e.Field(), c.field);
      EXPECT_EQ(e.Part(), c.part);
      EXPECT_EQ(e.Rest().rfind(c.rest, 0), 0u) << e.Rest();
    }
  }
  // A pool beyond the pairs matching can find only selects the fallback: any sample goes.
  RegistrationOptions wide = Options();
  wide.ransacFirst = 40;
  wide.ransacSecond = 31;
  EXPECT_NO_THROW(wide.Check());
}

TEST(RegistrationOptionsTest, TheReferenceMustHoldTheRoiAndTheFilters) {
  RegistrationOptions o = Options();
  EXPECT_NO_THROW(o.CheckReference("f0.bmp", 160, 120));
  testing::ExpectError([&] { o.CheckReference("f0.bmp", 90, 120); }, {"ROI"});
  o.roi = RoiRect{0, 0, 4, 4};
  o.filterSigma = 5;  // a 31 x 31 filter
  testing::ExpectError([&] { o.CheckReference("f0.bmp", 20, 120); },
                       {"the reference frame f0.bmp of 20 x 120 pixels is smaller than the 31 x 31 derivative filter"});
}

}  // namespace
}  // namespace lumet
