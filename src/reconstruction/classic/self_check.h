#pragma once

#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// A check of the classic result that needs no truth: how well it predicts the frames it was
// made from, through their homographies, the PSF and the decimation, against how well frame
// 0 enlarged by cubic convolution predicts them. The classic method averages every selected
// frame in; when they do not show the same scene as frame 0 (something moved, the brightness
// flickers), its result can be worse than frame 0 enlarged, and then it predicts frame 0
// worse than frame 0 enlarged does, which holds frame 0's own samples.
//
// The check works on the green channel, over a centred part of the ROI of at most
// kSelfCheckSide LR pixels square (what it holds does not grow with the ROI), built before the
// frames are released; Measure takes the result's green band on the ROI grid.
inline constexpr int kSelfCheckSide = 64;

class ClassicSelfCheck {
 public:
  ClassicSelfCheck(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                   const HrGeometry& grid, double psfSigma);
  ~ClassicSelfCheck();
  ClassicSelfCheck(const ClassicSelfCheck&) = delete;
  ClassicSelfCheck& operator=(const ClassicSelfCheck&) = delete;

  struct Result {
    bool measured = false;  // false: the part of the ROI holds no observation of frame 0
    double resultError = 0.0;   // mean absolute error of frame 0's pixels predicted from the result
    double bicubicError = 0.0;  // the same from frame 0 enlarged
    // The result's error is clearly above that of frame 0 enlarged (self_check.cpp says how far).
    bool LikelyWorse() const;
  };
  // green: the result's green band, grid.width x grid.height, row-major.
  Result Measure(const DoubleImage& green) const;

 private:
  struct Parts;
  Parts* parts_;
};

}  // namespace lumet
