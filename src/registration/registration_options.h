#pragma once

#include <string>

#include "numeric/roi_rect.h"

namespace lumet {

class RegistrationStrategy;

// What the registration of a frame against frame 0 is told: the ROI the homography must fit
// and the sizes of its steps. Check() refuses what the algorithm cannot run with
// (lumet::OptionError naming the field); the parameter layer maps its values onto these.
struct RegistrationOptions {
  // The derivative filters are ceil(6 sigma) + 1 wide: 31 x 31 at sigma 5.
  static constexpr double kMaxFilterSigma = 5.0;
  // The SAD block (2S+1)^2 times 255 stays below 2^31 for S <= 1000.
  static constexpr int kMaxSadSize = 1000;
  // RANSAC sizes beyond the pairs matching ever finds (kMaxPairs) only select the fallback
  // to the pairs found.
  static constexpr int kMaxRansacSize = 1000;

  RoiRect roi;
  double filterSigma = 1.5;  // the LR frames' derivative filters; frame 0's use it rounded to float
  int ransacFirst = 20;      // pairs per homography trial (the sample)
  int ransacSecond = 25;     // the pool of best pairs the trials draw from
  int sadSize = 32;          // half size S of the (2S+1) x (2S+1) matching block
  int searchArea = 40;       // largest displacement between matched points
  // How each frame's homography is finished after the search (null: the points strategy,
  // StrategyOf); the method reconstructing the frames chooses it.
  const RegistrationStrategy* strategy = nullptr;

  // Ranges of the values alone, and the RANSAC sample within its pool.
  void Check() const;
  // Against frame 0 (named `referenceName` in messages) of width x height: the ROI inside
  // it, the derivative filters of both precisions no larger than it.
  void CheckReference(const std::string& referenceName, int width, int height) const;
};

}  // namespace lumet
