#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/roi_rect.h"

namespace lumet {

// A clip of a texture drifting by known sub-pixel shifts, with the truth of every frame:
// frame k shows the scene moved by DriftShift(k), each pixel the mean of the scene over its
// square; truth k is the ROI of frame k on the HR grid of the given scale (HR pixel (c, r)
// at the LR position ((c + x0) / s, (r + y0) / s), the mean over its own square).
struct DriftingClipOptions {
  int width = 160, height = 120;
  int frames = 12;
  int scale = 2;
  RoiRect roi{20, 20, 140, 100};
  std::string scene = "texture";  // a synthetic scene's name ("texture", "chart")
  // The scene seen enlarged: the texture's finest grain then spans about an LR pixel, detail
  // that frames shifted by fractions of a pixel bring back rather than aliasing.
  double zoom = 2.0;
  uint64_t seed = 1;
  // A square of another texture moving on its own across the drifting scene, faster than
  // it and in another direction (MovingObjectBox).
  bool movingObject = false;
  // The camera: a Gaussian blur of this sigma (LR pixels) on top of each pixel's square
  // (0: the square alone), then Gaussian noise of this standard deviation (grey levels).
  // The truth stays the sharp scene.
  double blur = 0.0;
  double noise = 0.0;
};

struct DriftingClip {
  std::vector<ColorGrayImage> frames;
  std::vector<ColorGrayImage> truths;
};

// Where frame k sees the scene's origin, in LR pixels: a slow drift with a wobble, so
// that consecutive shifts differ and their fractions cover the pixel.
std::pair<double, double> DriftShift(int k);

// The pixels of frame k wholly inside the moving object's square.
RoiRect MovingObjectBox(int k);

DriftingClip MakeDriftingClip(const DriftingClipOptions& options);

}  // namespace lumet
