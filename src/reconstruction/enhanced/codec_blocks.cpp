#include "reconstruction/enhanced/codec_blocks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace lumet {

namespace {

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

PixelBox BlockRegion(const PixelBox& roi, int width, int height) {
  const auto grow = [](int lo, int hi, int size) {
    const int side = std::min(size, std::clamp(hi - lo, kBlockRegionSide, kBlockRegionMaxSide));
    const int start = std::clamp((lo + hi - side) / 2, 0, size - side);
    return std::array<int, 2>{start, start + side};
  };
  const std::array<int, 2> x = grow(roi.x0, roi.x1, width);
  const std::array<int, 2> y = grow(roi.y0, roi.y1, height);
  return {x[0], y[0], x[1], y[1]};
}

void CountSmoothBlocks(const ColorGrayImage& frame, const PixelBox& box, BlockCount& count) {
  static const Basis basis = CosineBasis();
  const auto firstBlock = [](int at) { return (std::max(at, 0) + kCodecBlock - 1) / kCodecBlock * kCodecBlock; };
  for (const GrayImage& plane : frame.channels) {
    const int top = std::max(box.y0, plane.FirstRow());
    const int bottom = std::min(box.y1, plane.FirstRow() + plane.HeldRows());
    const int right = std::min(box.x1, plane.Width());
    for (int by = firstBlock(top); by + kCodecBlock <= bottom; by += kCodecBlock) {
      for (int bx = firstBlock(box.x0); bx + kCodecBlock <= right; bx += kCodecBlock) {
        const double rms = HighFrequencyRms(plane, bx, by, basis);
        if (rms < 0.0) continue;
        ++count.blocks;
        if (rms < kSmoothBlockRms) ++count.smooth;
      }
    }
  }
}

}  // namespace lumet
