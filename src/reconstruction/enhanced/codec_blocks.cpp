#include "reconstruction/enhanced/codec_blocks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace lumet {

namespace {

constexpr int kCodecBlock = 4;
// A block is smooth when its high-frequency coefficients (u + v >= kCodecBlock) have a root
// mean square below this, in grey levels.
constexpr double kSmoothBlockRms = 0.5;
// Frames whose smooth blocks are at least this share of them look compressed: H.264 at rate
// factors of 20 to 28 gives 0.65-1.75 % on noisy photos and 1.6-5.7 % on synthetic scenes,
// the uncompressed frames of a photo 0.25 % without noise and 0-0.15 % with a noise of 0.5
// grey levels and more.
constexpr double kCompressedBlockShare = 0.005;
// Smooth blocks tell compression only where the frames differ from frame 0 by this many
// times kSmoothBlockRms: frames with next to no noise have smooth blocks wherever their
// scene is smooth, and on a flat scene a noise of sigma s leaves a share of them smooth too
// (0.5 % at 1.5 grey levels, 0.1 % at 2); a codec's frames differ by its errors, 2.5-3.5
// grey levels on photos at rate factors of 20 to 28.
constexpr double kBlockNoiseRatio = 4.0;
// The region's least and greatest side (BlockRegion).
constexpr int kBlockRegionSide = 64;
constexpr int kBlockRegionMaxSide = 256;

using Basis = std::array<std::array<double, kCodecBlock>, kCodecBlock>;

// The orthonormal cosine transform's basis: row u is frequency u over the block's samples.
Basis CosineBasis() {
  Basis c{};
  for (int u = 0; u < kCodecBlock; ++u) {
    const double norm = std::sqrt((u == 0 ? 1.0 : 2.0) / kCodecBlock);
    for (int x = 0; x < kCodecBlock; ++x) {
      c[u][x] = norm * std::cos(std::numbers::pi * (2 * x + 1) * u / (2.0 * kCodecBlock));
    }
  }
  return c;
}

// The root mean square of the block's high-frequency coefficients; negative when the block
// holds a clipped sample.
double HighFrequencyRms(const GrayImage& plane, int bx, int by, const Basis& c) {
  double b[kCodecBlock][kCodecBlock];
  for (int i = 0; i < kCodecBlock; ++i) {
    const uint8_t* row = plane.Row(by + i);
    for (int j = 0; j < kCodecBlock; ++j) {
      const uint8_t v = row[bx + j];
      if (v == 0 || v == 255) return -1.0;
      b[i][j] = v;
    }
  }
  // Rows first (frequency v across), then columns (u down).
  double across[kCodecBlock][kCodecBlock];
  for (int i = 0; i < kCodecBlock; ++i) {
    for (int v = 0; v < kCodecBlock; ++v) {
      double s = 0.0;
      for (int j = 0; j < kCodecBlock; ++j) s += c[v][j] * b[i][j];
      across[i][v] = s;
    }
  }
  double sum = 0.0;
  int n = 0;
  for (int u = 0; u < kCodecBlock; ++u) {
    for (int v = kCodecBlock - u; v < kCodecBlock; ++v) {
      double s = 0.0;
      for (int i = 0; i < kCodecBlock; ++i) s += c[u][i] * across[i][v];
      sum += s * s;
      ++n;
    }
  }
  return std::sqrt(sum / n);
}

}  // namespace

RoiRect BlockRegion(const HrGeometry& grid, int width, int height) {
  const RoiRect roi{static_cast<int>(std::floor(grid.x0 / grid.scale)), static_cast<int>(std::floor(grid.y0 / grid.scale)),
                    static_cast<int>(std::ceil((grid.x0 + grid.width) / grid.scale)),
                    static_cast<int>(std::ceil((grid.y0 + grid.height) / grid.scale))};
  const auto grow = [](int lo, int hi, int size) {
    const int side = std::min(size, std::clamp(hi - lo, kBlockRegionSide, kBlockRegionMaxSide));
    const int start = std::clamp((lo + hi - side) / 2, 0, size - side);
    return std::array<int, 2>{start, start + side};
  };
  const std::array<int, 2> x = grow(roi.left, roi.right, width);
  const std::array<int, 2> y = grow(roi.top, roi.bottom, height);
  return {x[0], y[0], x[1], y[1]};
}

bool SmoothBlocksLookCompressed(const BlockCount& count, double framesNoise) {
  return framesNoise >= kBlockNoiseRatio * kSmoothBlockRms && count.smooth > 0 &&
         static_cast<double>(count.smooth) >= kCompressedBlockShare * static_cast<double>(count.blocks);
}

void CountSmoothBlocks(const ColorGrayImage& frame, const RoiRect& box, BlockCount& count) {
  static const Basis basis = CosineBasis();
  const auto firstBlock = [](int at) { return (std::max(at, 0) + kCodecBlock - 1) / kCodecBlock * kCodecBlock; };
  for (const GrayImage& plane : frame.channels) {
    const int top = std::max(box.top, plane.FirstRow());
    const int bottom = std::min(box.bottom, plane.FirstRow() + plane.HeldRows());
    const int right = std::min(box.right, plane.Width());
    for (int by = firstBlock(top); by + kCodecBlock <= bottom; by += kCodecBlock) {
      for (int bx = firstBlock(box.left); bx + kCodecBlock <= right; bx += kCodecBlock) {
        const double rms = HighFrequencyRms(plane, bx, by, basis);
        if (rms < 0.0) continue;
        ++count.blocks;
        if (rms < kSmoothBlockRms) ++count.smooth;
      }
    }
  }
}

}  // namespace lumet
