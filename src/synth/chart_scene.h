#pragma once

#include "synth/synthetic_scene.h"

namespace lumet {

// A resolution chart: Siemens stars, line-pair bars, small text, colour patches, gradients,
// gratings, a zone plate and checkerboards on a background of coloured tiles. The region
// of interest of the Init params values (x 160, y 100, w 40, h 40) holds a bit of every
// kind, from coarse detail to detail finer than one LR pixel.
class ChartScene : public SyntheticScene {
 public:
  Rgb At(double x, double y) const override;
};

}  // namespace lumet
