#pragma once

#include "numeric/image_plane.h"

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

}  // namespace lumet
