#include "reconstruction/gray_conversion.h"

#include <cmath>

namespace lumet {

void ConvertToGray(const DoubleImage& source, GrayImage& target, int offset, double gain) {
  const int w = source.Width();
  const int h = source.Height();
  target.Create(w, h);
  for (int r = 0; r < h; ++r) {
    const double* in = source.Row(r);
    uint8_t* out = target.Row(r);
    for (int c = 0; c < w; ++c) {
      const double value = static_cast<double>(offset) + std::trunc(gain * in[c]);
      if (!(value > 0.0)) {
        out[c] = 0;
      } else if (value > 255.0) {
        out[c] = 255;
      } else {
        out[c] = static_cast<uint8_t>(value);
      }
    }
  }
}

void ConvertToGray(const ColorDoubleImage& source, ColorGrayImage& target) {
  for (size_t c = 0; c < 3; ++c) ConvertToGray(source.channels[c], target.channels[c], 0, 1.0);
}

void EnlargeByReplication(const ColorGrayImage& frame, const RoiRect& roi, const HrGeometry& grid,
                          ColorGrayImage& target) {
  for (size_t ch = 0; ch < 3; ++ch) {
    const GrayImage& source = frame.channels[ch];
    GrayImage& out = target.channels[ch];
    out.Create(grid.width, grid.height);
    for (int r = 0; r < grid.height; ++r) {
      const uint8_t* in = source.Row(roi.top + static_cast<int>(std::floor(r / grid.scale)));
      uint8_t* row = out.Row(r);
      for (int c = 0; c < grid.width; ++c) row[c] = in[roi.left + static_cast<int>(std::floor(c / grid.scale))];
    }
  }
}

}  // namespace lumet
