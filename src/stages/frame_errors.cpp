#include "stages/frame_errors.h"

#include <algorithm>
#include <cmath>

#include "reconstruction/frame_warp.h"
#include "util/parallel.h"

namespace lumet {

std::vector<double> MeasureFrameErrors(const std::vector<ColorGrayImage>& frames,
                                       const std::vector<Matrix>& homographies, const HrGeometry& grid) {
  const int count = static_cast<int>(std::min(frames.size(), homographies.size()));
  std::vector<double> mae(static_cast<size_t>(count), 0.0);
  if (count == 0) return mae;
  DoubleImage green0;
  WarpToHrGrid(frames[0].channels[1], LrFormOnHrInput(homographies[0], grid.scale), grid, green0);
  mae[0] = FrameMae(green0, green0);
  ParallelFor(1, count, 20L * grid.width * grid.height, [&](int lo, int hi) {
    DoubleImage green;
    for (int k = lo; k < hi; ++k) {
      const auto i = static_cast<size_t>(k);
      WarpToHrGrid(frames[i].channels[1], LrFormOnHrInput(homographies[i], grid.scale), grid, green);
      mae[i] = FrameMae(green0, green);
    }
  });
  return mae;
}

std::vector<FrameWarning> FramesWithoutError(const std::vector<double>& errors,
                                             const std::function<std::string(int)>& detail) {
  std::vector<FrameWarning> warnings;
  for (size_t k = 1; k < errors.size(); ++k) {
    if (!std::isnan(errors[k])) continue;
    FrameWarning w;
    w.frame = static_cast<int>(k);
    w.kind = "its homography maps the ROI onto no usable part of the frame, so MAE is nan and the classic selection "
             "stops at the first such frame";
    w.detail = detail(w.frame);
    w.remedy = "check the homography or register the frames again";
    warnings.push_back(w);
  }
  return warnings;
}

}  // namespace lumet
