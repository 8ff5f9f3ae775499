#include "numeric/roi_rect.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "util/error.h"

namespace lumet {
namespace {

TEST(RoiRectTest, TheInsideCheckDescribesTheRoiAsTypedInOneForm) {
  const std::pair<RoiRect, const char*> cases[] = {
      {{300, 200, 340, 240}, "ROI 300,200,40,40: x + w = 340 exceeds the frame width 320"},
      {{10, 200, 50, 260}, "ROI 10,200,40,60: y + h = 260 exceeds the frame height 240"},
      {{-5, 10, 35, 50}, "ROI -5,10,40,40: x = -5 lies left of the 320 x 240 frame"},
      {{5, -1, 45, 39}, "ROI 5,-1,40,40: y = -1 lies above the 320 x 240 frame"},
      {{10, 20, 10, 60}, "ROI 10,20,0,40: w = 0 leaves no pixels"},
      {{10, 20, 30, 15}, "ROI 10,20,20,-5: h = -5 leaves no pixels"},
      // Extreme edges: the width is worked out without overflow.
      {{INT32_MIN, 0, INT32_MAX, 10}, "ROI -2147483648,0,4294967295,10: x = -2147483648 lies left"},
      {{0, 0, 320, 240}, nullptr},
  };
  for (const auto& [roi, message] : cases) {
    if (message == nullptr) {
      EXPECT_NO_THROW(CheckRoiInsideFrame(roi, 320, 240));
      continue;
    }
    try {
      CheckRoiInsideFrame(roi, 320, 240);
      ADD_FAILURE() << message;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
    }
  }
  RoiRect roi;
  EXPECT_FALSE(RoiFromXywh(INT32_MAX, 0, 1, 1, roi));
  EXPECT_FALSE(RoiFromXywh(0, INT32_MIN, 1, -1, roi));
  ASSERT_TRUE(RoiFromXywh(-10, 20, 30, 40, roi));
  EXPECT_EQ(roi, (RoiRect{-10, 20, 20, 60}));
}

}  // namespace
}  // namespace lumet
