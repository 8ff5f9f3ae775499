#pragma once

#include <cstdint>
#include <string>

namespace lumet {

// Region of interest in reference-frame pixels; right and bottom are exclusive. Users
// see and type it as x,y,w,h (x = left, y = top, w = right - left, h = bottom - top).
struct RoiRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  // Worked out in 64 bits: an unchecked rectangle (any two int32 edges) cannot overflow.
  int64_t Width() const { return static_cast<int64_t>(right) - left; }
  int64_t Height() const { return static_cast<int64_t>(bottom) - top; }
  bool operator==(const RoiRect&) const = default;
};

// The rectangle from x,y,w,h as the user gives them, or false when an edge would fall
// outside int32.
bool RoiFromXywh(int64_t x, int64_t y, int64_t w, int64_t h, RoiRect& roi);

// "x,y,w,h", the way users type a ROI: "160,100,40,40".
std::string RoiText(const RoiRect& roi);

// Refuses (lumet::Error) a ROI with no pixels or one that reaches outside a frame of
// width x height pixels, in one form: "ROI 300,200,40,40: x + w = 340 exceeds the frame
// width 320".
void CheckRoiInsideFrame(const RoiRect& roi, int width, int height);

}  // namespace lumet
