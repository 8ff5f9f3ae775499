#include "reconstruction/classic/bands.h"

#include <algorithm>
#include <cstdint>

#include "reconstruction/median_estimate.h"
#include "util/memory_tuning.h"

namespace lumet {

void ReconstructClassicByBand(std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& hrForms, int selected,
                              const HrGeometry& grid, int referenceWidth, int referenceHeight,
                              const FloatMatrix& kernel, int n, double alpha, double beta, double lambda,
                              const BtvProgress& progress, const BandDone& done) {
  CountImage count;
  for (int band = 0; band < kBtvBands; ++band) {
    DoubleImage xb;
    // The count is the same for every band (it depends on the positions alone).
    MedianShiftAddBand(frames, hrForms, selected, grid, referenceWidth, referenceHeight, band, xb, count);
    for (ColorGrayImage& frame : frames) frame.channels[static_cast<size_t>(band)].Free();
    ReturnFreedMemory();  // the frames' channels are small blocks the heap would keep
    DoubleImage zb = xb;
    DoubleImage* fill[1] = {&xb};
    FillHoles(fill, 1, count);
    RobustBtvBand(xb, zb, count, kernel, n, alpha, beta, lambda, band, progress);
    zb.Free();
    done(band, xb);
  }
}

size_t ClassicWorkingBytes(const HrGeometry& grid, int n, bool byBand) {
  const size_t pixels = static_cast<size_t>(grid.width) * static_cast<size_t>(grid.height);
  // A mirror-padded image: n - 1 more rows and columns, rows rounded up to 64 bytes.
  const size_t padded = (static_cast<size_t>(grid.width) + static_cast<size_t>(n) + 7) *
                        (static_cast<size_t>(grid.height) + static_cast<size_t>(n));
  const size_t d = sizeof(double);
  const size_t count = sizeof(int32_t) * pixels;
  const size_t steps = 2 * d * padded + BtvStepExtraBytes(grid.width, grid.height, n);
  if (byBand) return count + d * pixels + steps;
  return 2 * 3 * d * pixels + count + steps;
}

}  // namespace lumet
