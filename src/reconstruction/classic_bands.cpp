#include "reconstruction/classic_bands.h"

#include <algorithm>

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

size_t ClassicReconstructionBytes(const HrGeometry& grid, int n, size_t frameBytes, int threads, bool byBand) {
  const size_t pixels = static_cast<size_t>(grid.width) * static_cast<size_t>(grid.height);
  // A mirror-padded image: n - 1 more rows and columns, rows rounded up to 64 bytes.
  const size_t padded = (static_cast<size_t>(grid.width) + static_cast<size_t>(n) + 7) *
                        (static_cast<size_t>(grid.height) + static_cast<size_t>(n));
  const size_t d = sizeof(double);
  const size_t count = sizeof(int32_t) * pixels;
  // The first-frame viewer's picture, and the enlarged first frame beside it unless byBand
  // (which makes the result's grey levels only at the end).
  const size_t pictures = (byBand ? 3 : 6) * pixels;
  const size_t errors = frameBytes + d * pixels * (1 + static_cast<size_t>(std::max(threads, 1)));
  size_t work = 0;
  if (byBand) {
    // The median channel's copy, the count, and the iteration's three padded images.
    work = frameBytes + count + d * pixels + 3 * d * padded;
  } else {
    // The estimate and the median image (three channels each), the count, the iteration's
    // padded images; the frames are freed before the iteration, but the copy of the
    // estimate is made while they are held.
    work = std::max(frameBytes + 2 * 3 * d * pixels + count, 2 * 3 * d * pixels + count + 3 * d * padded);
  }
  return std::max(errors, work) + pictures;
}

}  // namespace lumet
