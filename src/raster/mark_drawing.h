#pragma once

#include <algorithm>
#include <cstdlib>

namespace lumet {

// Pixel-exact outlines and lines as the viewers draw them over a picture, for any surface:
// plot(x, y) is called for every pixel inside the width x height surface (row 0 at the top).

// The outline the platform's rectangle call draws with a one-pixel pen from (left, top) to
// (right, bottom): columns left .. right - 1 and rows top .. bottom - 1. A rectangle given
// with its corners swapped is normalised; an empty one draws nothing.
template <typename Plot>
void PlotRectOutline(int left, int top, int right, int bottom, int width, int height, Plot plot) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  // 64-bit so that a ROI typed with extreme values cannot overflow.
  if (static_cast<long long>(right) - left < 1 || static_cast<long long>(bottom) - top < 1) return;
  auto put = [&](int x, int y) {
    if (x >= 0 && y >= 0 && x < width && y < height) plot(x, y);
  };
  // The loops are clipped to the surface, so a ROI far outside costs nothing.
  const int x0 = std::max(left, 0);
  const int x1 = std::min(right - 1, width - 1);
  const int y0 = std::max(top, 0);
  const int y1 = std::min(bottom - 1, height - 1);
  for (int x = x0; x <= x1; ++x) {
    put(x, top);
    put(x, bottom - 1);
  }
  for (int y = y0; y <= y1; ++y) {
    put(left, y);
    put(right - 1, y);
  }
}

// A line from (x0, y0) to (x1, y1) without its end pixel, as a line-to call draws it.
template <typename Plot>
void PlotLine(int x0, int y0, int x1, int y1, int width, int height, Plot plot) {
  int x = x0;
  int y = y0;
  const int dx = std::abs(x1 - x0);
  const int dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  while (x != x1 || y != y1) {
    if (x >= 0 && y >= 0 && x < width && y < height) plot(x, y);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

}  // namespace lumet
