#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/classic/robust_btv.h"

namespace lumet {

// Takes band b's final estimate (G x H); it may free or take the image.
using BandDone = std::function<void(int band, DoubleImage& xb)>;

// The classic estimate one colour band at a time: for band b = 0, 1, 2 the median of that
// channel (MedianShiftAddBand), its holes filled, a copy kept as the median image, and its
// robust iteration (RobustBtvBand); done(b, xb) takes the result before the next band
// starts. The values are those of MedianShiftAdd, FillHoles and RobustBtvIterate on all
// three channels at once, since every step treats each channel on its own; only one
// channel's working images exist at a time. Channel b of every frame is freed once band
// b's median is formed.
void ReconstructClassicByBand(std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms, int selected,
                              const HrGeometry& grid, int referenceWidth, int referenceHeight,
                              const FloatMatrix& kernel, int n, double alpha, double beta, double lambda,
                              const BtvProgress& progress, const BandDone& done);

// Peak bytes of the classic method on grid with an n x n PSF beside its input frames:
// ReconstructClassicByBand (byBand: the count, one band's median image and the iteration's
// three padded images) or the three channels at once (the estimate, the median image and
// the count, then the padded images beside them once the frames are freed).
size_t ClassicWorkingBytes(const HrGeometry& grid, int n, bool byBand);

}  // namespace lumet
