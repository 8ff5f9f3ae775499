#include "evaluation/registration_error.h"

#include <cmath>

#include "imageio/homography_file.h"
#include "numeric/projection.h"

namespace lumet {

RegistrationDistance RegistrationError(const Matrix& trueH, const Matrix& estimatedH, const RoiRect& roi) {
  const double left = roi.left;
  const double top = roi.top;
  const double right = roi.right - 1;
  const double bottom = roi.bottom - 1;
  const double points[5][2] = {
      {0.5 * (left + right), 0.5 * (top + bottom)}, {left, top}, {right, top}, {left, bottom}, {right, bottom}};
  RegistrationDistance result;
  for (const auto& p : points) {
    const ProjectedPoint t = ProjectPoint(trueH, p[0], p[1]);
    const ProjectedPoint e = ProjectPoint(estimatedH, p[0], p[1]);
    const double d = std::hypot(t.u - e.u, t.v - e.v);
    result.mean += d / 5.0;
    // A degenerate estimate (a not-a-number distance) must show in the result, not lose
    // every comparison.
    if (!std::isnan(result.max) && (std::isnan(d) || d > result.max)) result.max = d;
  }
  return result;
}

SequenceRegistrationError CompareHomographyFiles(const std::function<std::string(int)>& truthPath,
                                                 const std::function<std::string(int)>& estimatedPath, int count,
                                                 const RoiRect& roi) {
  SequenceRegistrationError result;
  double sum = 0.0;
  for (int k = 1; k <= count; ++k) {
    const RegistrationDistance d =
        RegistrationError(ReadHomographyFile(truthPath(k)), ReadHomographyFile(estimatedPath(k)), roi);
    sum += d.mean;
    if (!std::isnan(result.largest) && !(d.max <= result.largest)) {
      result.largest = d.max;
      result.largestFrame = k;
    }
  }
  result.mean = sum / count;
  return result;
}

}  // namespace lumet
