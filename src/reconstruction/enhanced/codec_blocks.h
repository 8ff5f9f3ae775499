#pragma once

#include <cstddef>

#include "numeric/image_plane.h"
#include "numeric/roi_rect.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// Compressed frames (H.264, JPEG) keep little of their finest detail where it is faint: the
// codec's transform rounds a block's small coefficients to nothing, and its deblocking
// smooths what is left. The share of blocks left that smooth tells compression where the
// noise readings cannot: on texture, frame 0's second differences read its detail as
// noise, as high as the frames' differences from it, whether or not a codec took their
// finest detail (codec_blocks.cpp gives the thresholds and what they were measured on).

// The LR pixels under grid (an ROI's) grown or shrunk, about its centre, to 64 .. 256
// pixels a side, then kept inside a frame of width x height: the region blocks are counted
// over (a smaller one holds too few to tell a share of 0.5 %; a share needs no larger one,
// and a whole HD frame's blocks in nine frames would cost a tenth of a second).
RoiRect BlockRegion(const HrGeometry& grid, int width, int height);

struct BlockCount {
  size_t blocks = 0;
  size_t smooth = 0;
};

// Counts the 4 x 4 blocks of each channel of frame, on the frame's own grid of blocks and
// inside box, that hold no clipped sample (0 or 255: a clipped area is smooth without any
// codec), and those of them that are smooth: the high-frequency coefficients of their
// orthonormal cosine transform (u + v >= 4) below 0.5 grey levels RMS. Reads the 8-bit
// channels and the rows the frame holds.
void CountSmoothBlocks(const ColorGrayImage& frame, const RoiRect& box, BlockCount& count);

// Whether frames with these blocks, which differ from frame 0 by framesNoise grey levels
// (NoiseReading::frames), look compressed: 0.5 % of the blocks or more smooth, and the
// frames differing by 2 grey levels or more.
bool SmoothBlocksLookCompressed(const BlockCount& count, double framesNoise);

}  // namespace lumet
