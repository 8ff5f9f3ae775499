// Homography files: any file is read (or refused with lumet::Error), written back
// unchanged, and the homography read drives the reconstruction's resampling and
// shift-and-add without undefined behaviour, whatever its numbers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "reconstruction/frame_warp.h"
#include "imageio/homography_file.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/median_estimate.h"
#include "registration/homography_refinement.h"
#include "numeric/projection.h"
#include "util/error.h"

namespace {

// A small frame with some structure, the same for every input.
lumet::ColorGrayImage MakeFrame() {
  lumet::ColorGrayImage frame;
  frame.Create(24, 18);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < 18; ++y) {
      for (int x = 0; x < 24; ++x) frame.channels[c].Row(y)[x] = static_cast<uint8_t>((x * 37 + y * 11 + c * 70) & 0xFF);
    }
  }
  frame.mask.Fill(0);
  return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumet;
  Matrix h;
  try {
    h = ReadHomographyFile(fuzz::WriteInput("hr_hom-1.txt", data, size));
  } catch (const Error&) {
    return 0;
  }
  const std::string text = FormatHomographyFile(h);
  try {
    const Matrix again = ReadHomographyFile(
        fuzz::WriteInput("again.txt", reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    if (FormatHomographyFile(again) != text) fuzz::Broken("a written homography reads back differently");
  } catch (const Error&) {
    fuzz::Broken("a written homography file is refused");
  }

  static const ColorGrayImage frame = MakeFrame();
  const double scale = 3.0;
  const HrGeometry grid = MakeHrGeometry(RoiRect{5, 4, 13, 10}, scale);
  std::vector<ColorDoubleImage> layers(2);
  WarpToHrGrid(frame, LrFormOnHrInput(IdentityHomography(), scale), grid, layers[0]);
  WarpToHrGrid(frame, LrFormOnHrInput(h, scale), grid, layers[1]);
  (void)FrameMae(layers[0], layers[1]);
  const std::vector<ColorGrayImage> frames = {frame, frame};
  const std::vector<Matrix> hrForms = {HrForm(IdentityHomography(), scale), HrForm(h, scale)};
  ColorDoubleImage x;
  CountImage count;
  MedianShiftAdd(frames, hrForms, 2, grid, frame.Width(), frame.Height(), x, count);
  FillHoles(x, count);
  return 0;
}
