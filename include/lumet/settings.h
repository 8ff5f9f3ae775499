#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "lumet/export.h"

namespace lumet {

// The region of interest in pixels of the reference frame.
struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Everything the stages are told. A default-constructed Settings holds the standard values
// (the command line's and the window's defaults); the stages check every value and refuse
// a bad one with lumet::Error naming it.
struct LUMET_API Settings {
  Settings();

  // Registration.
  Rect roi;                 // the region the homographies must fit and the result shows
  double filterSigma = 0;   // sigma of the registration's derivative filters
  int ransacFirst = 0;      // pairs per homography trial
  int ransacSecond = 0;     // the pool of best pairs the trials draw from
  int sadSize = 0;          // half size S of the (2S+1) x (2S+1) matching block
  int searchArea = 0;       // largest displacement between matched points

  // Reconstruction.
  std::string method;       // "classic" or "enhanced" (Methods() lists them)
  double scale = 0;         // 2, 3 or 4
  double psfSigma = 0;      // the camera's Gaussian blur in LR pixels
  double alpha = 0;         // the regulariser's decay
  double beta = 0;          // the descent's step
  double lambda = 0;        // the regulariser's weight
  // The methods' own parameters by name, holding their defaults (MethodParameters lists
  // them: "iterations", the enhanced method's cap per colour band, and "tolerance", the
  // relative change at which a band stops). One left out takes its default; a name no
  // method declares is refused.
  std::map<std::string, double> methodParams;

  // The most bytes a reconstruction may take (0: the default share of the memory the process may have).
  // A larger job is refused before it starts, naming what it needs.
  std::size_t memoryLimit = 0;
  // Threads to compute with (0: every core the process may use). Results are the same for
  // every count.
  int threads = 0;
};

}  // namespace lumet
