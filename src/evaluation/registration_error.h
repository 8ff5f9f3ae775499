#pragma once

#include <functional>
#include <string>

#include "numeric/matrix.h"
#include "numeric/roi_rect.h"

namespace lumet {

// How far an estimated homography puts the ROI from where the true one does: the ROI
// centre and its four corner pixels (left/top and right - 1/bottom - 1) projected by both
// with ProjectPoint, distances in LR pixels.
struct RegistrationDistance {
  double mean = 0.0;
  double max = 0.0;
};
RegistrationDistance RegistrationError(const Matrix& trueH, const Matrix& estimatedH, const RoiRect& roi);

// The registration error of frames 1 .. count: the mean of the frames' mean distances and
// the largest distance with its frame (a not-a-number distance, a failed estimate, is
// kept once it appears).
struct SequenceRegistrationError {
  double mean = 0.0;
  double largest = 0.0;
  int largestFrame = 0;
};
// Reads the homography files truthPath(k) and estimatedPath(k) of every frame k.
SequenceRegistrationError CompareHomographyFiles(const std::function<std::string(int)>& truthPath,
                                                 const std::function<std::string(int)>& estimatedPath, int count,
                                                 const RoiRect& roi);

}  // namespace lumet
