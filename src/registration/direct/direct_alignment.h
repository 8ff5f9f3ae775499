#pragma once

#include <memory>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "numeric/roi_rect.h"

namespace lumet {

// Direct photometric alignment of a frame with the reference frame: the homography's eight
// parameters are refined by inverse-compositional Gauss-Newton steps on the grey values of
// the ROI and a margin around it, coarse to fine, with Huber weights (scale from the
// median absolute error) so that moving objects and the frame border do not pull it.
// Positions follow GrayImage::Sample: pixel centres at integers.

// Pixels of reference frame around the ROI that take part, each side.
inline constexpr int kAlignMargin = 8;
// Gauss-Newton iterations per pyramid level, and the corner movement (level pixels)
// below which a level stops.
inline constexpr int kAlignIterations = 40;
inline constexpr double kAlignStop = 1.0e-4;
// Huber threshold in robust standard deviations.
inline constexpr double kHuberThreshold = 1.345;

struct AlignmentResult {
  bool diverged = false;     // the refinement ended worse than it started; h is unchanged
  double startError = 0.0;   // mean absolute error over the region at the start
  double error = 0.0;        // the same after refinement (of the refused attempt when diverged)
  int iterations = 0;        // Gauss-Newton steps over all levels
};

// A frame smoothed and reduced for the alignment of a ROI (its levels follow from the ROI and
// the frame's size): built once, read by any number of alignments, on any threads.
class AlignmentPyramid {
 public:
  AlignmentPyramid(const GrayImage& frame, const RoiRect& roi);
  int Width() const { return width_; }
  int Height() const { return height_; }
  struct Levels;
  const Levels& Get() const { return *levels_; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::shared_ptr<const Levels> levels_;
};

// Refines h (reference positions to frame positions, ProjectPoint convention, h33 = 1)
// in place. A result that is worse than the start, not finite, or leaves less than half
// of the region inside the frame is refused: h keeps its start and `diverged` is set.
// The ROI must lie inside the reference frame and both frames have the same size
// (lumet::Error otherwise).
AlignmentResult AlignDirect(const GrayImage& reference, const GrayImage& frame, Matrix& h, const RoiRect& roi);
// The same from the two frames' pyramids for this ROI.
AlignmentResult AlignDirect(const AlignmentPyramid& reference, const AlignmentPyramid& frame, Matrix& h,
                            const RoiRect& roi);

// The translation within +-radius pixels (found on a coarse level, then to the pixel) that
// best matches the frame with the reference over the ROI and its margin, by mean absolute
// difference: a start for AlignDirect where no other estimate exists. Returns the pure
// translation homography.
Matrix CoarseTranslationSearch(const GrayImage& reference, const GrayImage& frame, const RoiRect& roi, int radius);
Matrix CoarseTranslationSearch(const AlignmentPyramid& reference, const AlignmentPyramid& frame, const RoiRect& roi,
                               int radius);

}  // namespace lumet
