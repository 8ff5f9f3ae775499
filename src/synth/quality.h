#pragma once

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "params/param_set.h"

namespace lumet {

// Peak signal-to-noise ratio in dB of two 8-bit colour images of the same size: the mean
// squared difference over all samples of the three channels against 255^2; +infinity for
// identical images. lumet::Error when the sizes differ or the images are empty.
double Psnr(const ColorGrayImage& a, const ColorGrayImage& b);

// Structural similarity of the luminances Y = 0.299 R + 0.587 G + 0.114 B: an 11 x 11
// Gaussian window of sigma 1.5, K1 0.01, K2 0.03, L 255, averaged over every position
// where the window lies inside the images. lumet::Error when the sizes differ or an
// image is smaller than the window.
double Ssim(const ColorGrayImage& a, const ColorGrayImage& b);

// Side of the SSIM window.
inline constexpr int kSsimWindow = 11;

// The ROI of frame 0 enlarged to the HR grid (G x H, origin x0, y0 as the reconstruction
// computes them) by cubic convolution (a = -0.5): HR pixel (c, r) is interpolated at the
// LR position ((c + x0) / s, (r + y0) / s) from the 4 x 4 frame pixels around it, frame
// pixels beyond the ROI included, indices clamped at the frame border; rounded to the
// nearest level and clamped to 0 .. 255. lumet::Error when the ROI is not inside the frame.
ColorGrayImage BicubicEnlarge(const ColorGrayImage& frame0, const RoiRect& roi, double scale);

// How far an estimated homography puts the ROI from where the true one does: the ROI
// centre and its four corner pixels (left/top and right - 1/bottom - 1) projected by both
// with ProjectPoint, distances in LR pixels.
struct RegistrationDistance {
  double mean = 0.0;
  double max = 0.0;
};
RegistrationDistance RegistrationError(const Matrix& trueH, const Matrix& estimatedH, const RoiRect& roi);

}  // namespace lumet
