#include "numeric/roi_rect.h"

#include <limits>

#include "util/error.h"

namespace lumet {

namespace {

bool FitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

}  // namespace

bool RoiFromXywh(int64_t x, int64_t y, int64_t w, int64_t h, RoiRect& roi) {
  // |x|, |w| < 2^31 each, so the sums cannot overflow 64 bits.
  if (!FitsInt32(x) || !FitsInt32(y) || !FitsInt32(w) || !FitsInt32(h) || !FitsInt32(x + w) || !FitsInt32(y + h)) {
    return false;
  }
  roi = RoiRect{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(x + w),
                static_cast<int32_t>(y + h)};
  return true;
}

std::string RoiText(const RoiRect& roi) {
  return std::to_string(roi.left) + "," + std::to_string(roi.top) + "," + std::to_string(roi.Width()) + "," +
         std::to_string(roi.Height());
}

void CheckRoiInsideFrame(const RoiRect& roi, int width, int height) {
  const std::string head = "ROI " + RoiText(roi) + ": ";
  const std::string frame = std::to_string(width) + " x " + std::to_string(height);
  if (roi.Width() <= 0) throw Error(head + "w = " + std::to_string(roi.Width()) + " leaves no pixels");
  if (roi.Height() <= 0) throw Error(head + "h = " + std::to_string(roi.Height()) + " leaves no pixels");
  if (roi.left < 0) throw Error(head + "x = " + std::to_string(roi.left) + " lies left of the " + frame + " frame");
  if (roi.top < 0) throw Error(head + "y = " + std::to_string(roi.top) + " lies above the " + frame + " frame");
  if (roi.right > width) {
    throw Error(head + "x + w = " + std::to_string(roi.right) + " exceeds the frame width " + std::to_string(width));
  }
  if (roi.bottom > height) {
    throw Error(head + "y + h = " + std::to_string(roi.bottom) + " exceeds the frame height " + std::to_string(height));
  }
}

}  // namespace lumet
