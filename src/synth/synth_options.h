#pragma once

#include <cstdint>
#include <string>

#include "params/param_description.h"
#include "reconstruction/reconstruction_options.h"

namespace lumet {

// What the synthetic sequence generator draws and how the simulated camera sees it.
struct SynthOptions {
  std::string scene = "chart";  // "chart" (resolution chart) or "texture" (natural-looking)
  int lrCount = 30;             // N: frames 0 .. N are written, registration finds 1 .. N
  int width = 320;              // frame size in pixels
  int height = 240;
  int scale = 4;          // 2, 3 or 4: the scale of the truth image and of param.txt
  double psfSigma = 0.6;  // Gaussian blur of the camera, in LR pixels
  double noise = 2.0;     // sigma of the Gaussian noise, in grey levels
  double motion = 3.0;    // largest translation between frames, in LR pixels
  uint64_t seed = 1;

  // Throws lumet::Error naming the option (as spelled on the command line) when a value
  // is out of range.
  void Check() const;
};

// Accepted ranges.
inline constexpr int kSynthMaxFrames = 999;      // bounds the work and the disk a typo can cost
inline constexpr int kSynthMaxDimension = 1920;  // HD frames; the scene raster stays within about a GB
inline constexpr int kSynthRoiMargin = 20;       // pixels beyond the ROI the frame must reach
// The PSF sigma also goes to param.txt, so it keeps within what the reconstruction accepts.
inline constexpr double kSynthMaxPsfSigma = ReconstructionOptions::kMaxPsfSigma;
inline constexpr double kSynthMaxNoise = 100.0;
inline constexpr double kSynthMaxMotion = 10.0;

// The region of interest the sequence is laid out for: that of the Init params values.
RoiRect SynthRoi();

}  // namespace lumet
