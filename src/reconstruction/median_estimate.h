#pragma once

#include <cstdint>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// Observation count per HR pixel: how many frames supplied a sample there. Wider than
// 8 bits, so that any number of frames can be counted.
class CountImage : public ImagePlane<int32_t> {};

// The value of an HR pixel that no frame supplies.
inline constexpr double kEmptyPixelValue = 128.0;

// Shift-and-add median estimate. Frames 0 .. selected - 1 are visited in order; HR pixel
// (j, i) of frame k takes a sample when (x', y') = ProjectPoint(hrForms[k], j + x0, i + y0)
// has a = floor(x'), b = floor(y') with a mod q = 0, b mod q = 0 (remainder with the sign
// of the dividend) and 0 <= a / q < referenceWidth, 0 <= b / q < referenceHeight; the
// sample of each channel is the bilinear value at (x' * (1/q), y' * (1/q)) of frame k.
// X then holds, per pixel and channel, the upper median of its samples (index floor(n/2)
// of the ascending order), or 128.0 where there are none. count and X are re-created at
// G x H. The samples are gathered row by row, so the memory used beyond X and count grows
// with one row's samples, not with frames x grid. Frames must have the reference frame's
// size.
void MedianShiftAdd(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms, int selected,
                    const HrGeometry& grid, int referenceWidth, int referenceHeight, ColorDoubleImage& x,
                    CountImage& count);

// Channel `band` of MedianShiftAdd alone into xb (the count as there): the same values,
// for a caller that holds one colour band at a time.
void MedianShiftAddBand(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms, int selected,
                        const HrGeometry& grid, int referenceWidth, int referenceHeight, int band, DoubleImage& xb,
                        CountImage& count);

// The same result by the plain method: one layer per sample index, filled frame by frame,
// then sorted per pixel. The oracle of MedianShiftAdd.
void MedianShiftAddDirect(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms,
                          int selected, const HrGeometry& grid, int referenceWidth, int referenceHeight,
                          ColorDoubleImage& x, CountImage& count);

// Fills the empty pixels (count 0) of X in rows and columns 2 .. size - 3 with the
// count-weighted mean of their 5 x 5 window. A window without any sample leaves the pixel
// at its value (128.0); the two outermost rows and columns are left as they are.
void FillHoles(ColorDoubleImage& x, const CountImage& count);
// The same on channelCount single channels (each channel is filled on its own).
void FillHoles(DoubleImage* const* channels, int channelCount, const CountImage& count);

}  // namespace lumet
