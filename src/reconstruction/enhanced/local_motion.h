#pragma once

#include <cstddef>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// Content of a frame that moves on its own (a vehicle, a walker, a hand) is where the frame's
// homography does not take it. Such pixels disagree with frame 0 and count for nothing, so an
// object in motion came out as frame 0 enlarged. Here each frame's pixels that frame 0 shows
// elsewhere are found by block matching against frame 0 around the ROI, and the offset is
// added to where the homography takes them: the frames then see the object as they see the
// scene. What no offset explains (an uncovered background, a turning face) is left to the
// agreement weights.
struct LocalMotion {
  // When anything moved, dx and dy hold the offsets of the rows the frame holds (firstRow ..
  // firstRow + rows - 1), width a row.
  int width = 0;
  int firstRow = 0;
  int rows = 0;
  std::vector<float> dx;  // reference LR pixels, 0 where the homography holds
  std::vector<float> dy;
  size_t moved = 0;  // pixels with an offset

  bool Empty() const { return moved == 0; }
  size_t Index(int u, int v) const {
    return static_cast<size_t>(v - firstRow) * static_cast<size_t>(width) + static_cast<size_t>(u);
  }
  // The offset of frame pixel (u, v), false when it has none.
  bool Offset(int u, int v, double& ox, double& oy) const {
    if (moved == 0 || v < firstRow || v >= firstRow + rows || u < 0 || u >= width) return false;
    const size_t i = Index(u, v);
    if (dx[i] == 0.0f && dy[i] == 0.0f) return false;
    ox = dx[i];
    oy = dy[i];
    return true;
  }
};

// Per frame (frame 0's always empty), the offsets of its pixels that see the grid (grown by
// the search), read in frame 0's and the frame's green channels; noise is frame 0's (grey
// levels). homographies map frame 0's positions to each frame's (ProjectPoint convention).
std::vector<LocalMotion> EstimateLocalMotion(const std::vector<ColorGrayImage>& frames,
                                             const std::vector<Matrix>& homographies, const HrGeometry& grid,
                                             double noise);

}  // namespace lumet
