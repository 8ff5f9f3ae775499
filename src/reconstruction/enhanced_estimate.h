#pragma once

#include <functional>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/enhanced_reconstruction.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// What the enhanced reconstruction needs besides the frames.
struct EnhancedSettings {
  double psfSigma = 0.6;
  double alpha = 0.7;
  double beta = 1.0;  // first trial step of every line search, as a multiple of the quasi-Newton step
  double lambda = 0.003;
  int maxIterations = kEnhancedMaxIterations;
  double tolerance = kEnhancedTolerance;
};

// Refuses (lumet::Error naming the value) an iteration cap outside 1 .. 100000, a
// tolerance that is not a number in [0, 1), and a beta that is not a positive number.
void CheckEnhancedSettings(const EnhancedSettings& settings);

// What a run did: per frame its mean absolute green residual after the first stage and
// the weight it then received (0: rejected), the iterations of all bands together and the
// frames used (weight above 0).
struct EnhancedOutcome {
  std::vector<double> residuals;
  std::vector<double> weights;
  int iterations = 0;
  int framesUsed = 0;
};

// Iterations of the green band run with every frame at weight 1 before the frames are
// weighted by their residuals.
inline constexpr int kWeightingIterations = 8;

// Called with (band, iteration) after every iteration, and with the cropped estimate
// before each band and every 10 iterations. May throw to stop the run.
using EnhancedProgress = std::function<void(int band, int iteration)>;
using EnhancedPicture = std::function<void(const ColorDoubleImage& estimate)>;

// Frames 0 .. K - 1 with their homographies (reference to frame, frame 0 the identity),
// all of frame 0's size, reconstructed on the ROI grid. The estimate covers the grid and
// a margin around it and starts from the shift-and-add median of all frames; green is
// solved first, the frames are then weighted by their green residuals, green goes on and
// red and blue follow with those weights. result is the ROI grid (G x H per channel).
void EnhancedReconstruct(const std::vector<ColorGrayImage>& frames, const std::vector<Matrix>& homographies,
                         const HrGeometry& roiGrid, const EnhancedSettings& settings, ColorDoubleImage& result,
                         EnhancedOutcome& outcome, const EnhancedProgress& progress, const EnhancedPicture& picture);

}  // namespace lumet
