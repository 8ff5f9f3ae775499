#include "evaluation/bicubic_baseline.h"

#include <algorithm>
#include <cmath>

#include "numeric/cubic_kernel.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

ColorGrayImage BicubicEnlarge(const ColorGrayImage& frame0, const RoiRect& roi, double scale) {
  const int fw = frame0.Width();
  const int fh = frame0.Height();
  CheckRoiInsideFrame(roi, fw, fh);
  const HrGeometry grid = MakeHrGeometry(roi, scale);
  ColorGrayImage out;
  out.Create(grid.width, grid.height);
  out.mask.Fill(0);
  for (int r = 0; r < grid.height; ++r) {
    const CubicTaps ty = MakeCubicTaps((r + grid.y0) / scale, fh);
    for (int c = 0; c < grid.width; ++c) {
      const CubicTaps tx = MakeCubicTaps((c + grid.x0) / scale, fw);
      for (int ch = 0; ch < 3; ++ch) {
        double v = 0.0;
        for (int b = 0; b < 4; ++b) {
          const uint8_t* row = frame0.channels[ch][ty.index[b]];
          v += ty.weight[b] * (tx.weight[0] * row[tx.index[0]] + tx.weight[1] * row[tx.index[1]] +
                               tx.weight[2] * row[tx.index[2]] + tx.weight[3] * row[tx.index[3]]);
        }
        out.channels[ch][r][c] = static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
      }
    }
  }
  return out;
}

}  // namespace lumet
