#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "numeric/roi_rect.h"
#include "reconstruction/hr_geometry.h"

namespace lumet {

// The registration and reconstruction methods. The parameter table names them (its words
// "classic", "enhanced" in this order); everything below it uses these values.
// A reconstruction method: the built-in two, and any registered after them
// (RegisterReconstructionMethod, reconstruction_method.h).
enum class Method { Classic, Enhanced };

// What a reconstruction is told besides its frames. Check() refuses what the method cannot
// run with (lumet::OptionError naming the field); the parameter layer maps its values here.
struct ReconstructionOptions {
  // The PSF kernel is ceil(6 sigma s) + 1 wide (odd, at least 7): sigma 2 gives 49 x 49 at
  // scale 4, about 8 times the work of the standard 17 x 17 per step. A Gaussian blur wider
  // than 2 LR pixels leaves nothing for three or four times the resolution to recover.
  static constexpr double kMaxPsfSigma = 2.0;

  // The scale factors the HR grid and the methods support.
  static bool IsSupportedScale(double s) { return s == 2.0 || s == 3.0 || s == 4.0; }

  Method method = Method::Classic;
  RoiRect roi;
  double scale = 4.0;      // 2, 3 or 4
  double psfSigma = 0.6;   // Gaussian blur of the camera in LR pixels
  double alpha = 0.7;      // regulariser decay over shift distance
  double beta = 1.0;       // gradient scale (enhanced: first trial step, times the quasi-Newton step)
  double lambda = 0.003;   // regulariser weight
  // The method's own parameters by name (ReconstructionMethod::Params); one left out
  // takes its default.
  std::map<std::string, double> values;
  // Bytes a method may hold beside its input frames (the enhanced method solves in tiles
  // to stay within it); not checked here: WorkingBytes tells the caller what a run needs.
  size_t memoryLimit = static_cast<size_t>(-1);

  // The HR grid of the ROI at the scale.
  HrGeometry Grid() const { return MakeHrGeometry(roi, scale); }

  // The scale and PSF sigma in range, the HR grid large enough for the PSF kernel's mirror
  // border and the hole filling's window.
  void CheckCommon() const;
  // CheckCommon, then the method's own rules (beside the methods' registry,
  // reconstruction_method.cpp, which knows them).
  void Check() const;
};

}  // namespace lumet
