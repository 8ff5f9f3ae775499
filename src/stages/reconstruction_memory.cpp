#include "stages/reconstruction_memory.h"

#include <algorithm>

#include "util/memory_limit.h"
#include "util/parallel.h"
#include "util/text_format.h"

namespace lumet {

void CheckReconstructionMemory(const ReconstructionMethod& method, ReconstructionOptions& options,
                               const HrGeometry& grid, size_t frameBytes, bool watched, bool byBand, size_t limit) {
  const size_t pixels = static_cast<size_t>(grid.width) * static_cast<size_t>(grid.height);
  const size_t d = sizeof(double);
  const size_t around = kProgramBytes + frameBytes + 6 * pixels;
  const size_t errors = watched ? 4 * d * pixels : d * pixels * (1 + static_cast<size_t>(std::max(1, ThreadCount())));
  options.memoryLimit = limit > around ? limit - around : 0;
  CheckMemoryNeed(Format("The reconstruction of the %d x %d HR grid", grid.width, grid.height),
                  around + std::max(errors, method.WorkingBytes(options, grid, byBand)), limit,
                  "give a larger limit, or a smaller ROI or scale");
}

}  // namespace lumet
