#pragma once

#include <cstddef>

#include "numeric/image_plane.h"

namespace lumet {

// Compressed frames (H.264, JPEG) keep little of their finest detail where it is faint: the
// codec's transform rounds a block's small coefficients to nothing, and its deblocking
// smooths what is left. A camera's own noise of two grey levels or more seldom leaves a
// block that smooth. The share of such blocks tells compression where the noise readings cannot:
// on texture, frame 0's second differences read its detail as noise, as high as the
// frames' differences from it, whether or not a codec took their finest detail.
inline constexpr int kCodecBlock = 4;
// A block is smooth when its high-frequency coefficients (u + v >= kCodecBlock of the
// orthonormal 4 x 4 cosine transform) have a root mean square below this, in grey levels.
inline constexpr double kSmoothBlockRms = 0.5;
// Frames whose smooth blocks are at least this share of them look compressed: H.264 at rate
// factors of 20 to 28 gives 0.65-1.75 % on noisy photos and 1.6-5.7 % on synthetic scenes,
// the uncompressed frames of a photo 0.25 % without noise and 0-0.15 % with a noise of 0.5
// grey levels and more.
inline constexpr double kCompressedBlockShare = 0.005;
// Smooth blocks tell compression only where the frames differ from frame 0 by this many
// times kSmoothBlockRms (NoiseReading::frames): frames with next to no noise have smooth
// blocks wherever their scene is smooth, and on a flat scene a noise of sigma s leaves a
// share of them smooth too (0.5 % at 1.5 grey levels, 0.1 % at 2); a codec's frames differ
// by its errors, 2.5-3.5 grey levels on photos at rate factors of 20 to 28.
inline constexpr double kBlockNoiseRatio = 4.0;
// The blocks are counted over at least this many LR pixels square around the ROI (fewer
// when the frame is smaller): a small ROI holds too few of them to tell a share of 0.5 %.
inline constexpr int kBlockRegionSide = 64;
// And over at most this many, about the ROI's centre: a share needs no more, and a whole
// HD frame's blocks in nine frames would take a tenth of a second per frame of a video.
inline constexpr int kBlockRegionMaxSide = 256;

// A rectangle of frame pixels, right and bottom exclusive.
struct PixelBox {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;
};

// The box of ROI pixels (x0, y0) .. (x1, y1) grown or shrunk, about its centre, to
// kBlockRegionSide .. kBlockRegionMaxSide a side, then kept inside a frame of width x height.
PixelBox BlockRegion(const PixelBox& roi, int width, int height);

struct BlockCount {
  size_t blocks = 0;
  size_t smooth = 0;
};

// Counts the 4 x 4 blocks of each channel of frame, on the frame's own grid of blocks and
// inside box, that hold no clipped sample (0 or 255: a clipped area is smooth without any
// codec), and those of them that are smooth (kSmoothBlockRms). Reads the 8-bit channels and
// the rows the frame holds.
void CountSmoothBlocks(const ColorGrayImage& frame, const PixelBox& box, BlockCount& count);

}  // namespace lumet
