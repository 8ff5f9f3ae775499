// Prints how far a result rings past the edges of frame 0 enlarged by cubic convolution, and
// writes that enlargement, for footage without truth:
//
//   lumet-edge-overshoot RESULT.bmp FRAME0 X,Y,W,H SCALE [BICUBIC_OUT.bmp]
//
// RESULT is the reconstruction of the ROI X,Y,W,H of FRAME0 at SCALE.
#include <cstdio>
#include <exception>
#include <string>

#include "evaluation/bicubic_baseline.h"
#include "evaluation/edge_overshoot.h"
#include "imageio/bmp_file.h"
#include "imageio/image_file.h"
#include "util/error.h"

int main(int argc, char** argv) {
  using namespace lumet;
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s RESULT.bmp FRAME0 X,Y,W,H SCALE [BICUBIC_OUT.bmp]\n", argv[0]);
    return 2;
  }
  try {
    ColorGrayImage result;
    ColorGrayImage frame0;
    ReadImageFile(argv[1], result);
    ReadImageFile(argv[2], frame0);
    int x = 0, y = 0, w = 0, h = 0;
    if (std::sscanf(argv[3], "%d,%d,%d,%d", &x, &y, &w, &h) != 4) throw Error("ROI X,Y,W,H expected");
    const double scale = std::stod(argv[4]);
    const ColorGrayImage bicubic = BicubicEnlarge(frame0, RoiRect{x, y, x + w, y + h}, scale);
    if (argc > 5) BmpFile::WriteImage(argv[5], bicubic, 0, 0, bicubic.Width(), bicubic.Height());
    const EdgeOvershoot m = MeasureEdgeOvershoot(result, bicubic, 2 * static_cast<int>(scale));
    std::printf("edge pixels %d  dark mean %.2f p99 %.1f  bright mean %.2f p99 %.1f\n", m.pixels, m.meanDark,
                m.worstDark, m.meanBright, m.worstBright);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return 0;
}
