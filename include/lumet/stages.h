#pragma once

#include <string>
#include <vector>

#include "lumet/frame.h"
#include "lumet/observer.h"
#include "lumet/registration.h"
#include "lumet/sequence.h"
#include "lumet/settings.h"

#include "lumet/export.h"

namespace lumet {

// Registers `frames` of the sequence (indices before or after the reference, not the
// reference itself) against frame `reference`, in the order given: corner points near the
// ROI, pairs by block matching, a homography search scored over the ROI and its refinement
// (the enhanced method's settings add a direct photometric refinement). The searches draw
// from one generator in that order, so a call repeats exactly. Throws lumet::Error for a
// bad setting or an unreadable frame (naming it), lumet::Cancelled when the observer asks.
LUMET_API Registration Register(const Sequence& sequence, int reference, const std::vector<int>& frames,
                      const Settings& settings, Observer* observer = nullptr);

// What a reconstruction did, besides its estimate.
struct Outcome {
  std::string method;
  std::vector<int> frames;          // the frames given, the reference first
  std::vector<double> frameErrors;  // each one's error against the reference on the HR grid (nan: none)
  int framesUsed = 0;               // how many of them, from the first, went into the estimate
  // The classic method's frame selection: frames are taken up to the first whose error is
  // above the threshold, the error at place thresholdIndex of the sorted errors.
  bool thresholdApplied = false;
  int thresholdIndex = 0;
  double threshold = 0;
  int iterations = 0;               // the classic method's steps per band; the enhanced one's over its bands
  double psfSigma = 0;              // the PSF the estimate was solved with
  double lambda = 0;                // and the regulariser's weight (stronger than asked with a narrower PSF)
  bool fallback = false;            // the estimate was not kept: the result is the reference enlarged
  std::string fallbackReason;
  std::vector<Warning> warnings;    // grouped by kind, in the order the kinds came
};

struct Result {
  Estimate estimate;  // on the ROI's HR grid: roi.width * scale x roi.height * scale
  Outcome outcome;
};

// Reconstructs the ROI from the reference and `frames` (empty: the frames the method takes
// of those registered against the reference, as the command line's run does) through
// their homographies in `registration`.
LUMET_API Result Reconstruct(const Sequence& sequence, const Registration& registration, int reference,
                   const std::vector<int>& frames, const Settings& settings, Observer* observer = nullptr);

// The reconstruction methods' names, the first the default.
LUMET_API std::vector<std::string> Methods();

// One of a method's own parameters (Settings::methodParams).
struct MethodParameter {
  std::string name;     // "iterations"
  std::string help;     // what it means
  bool whole = false;   // a whole number
  double defaultValue = 0;
  double minimum = 0;   // the range, the lower end excluded when minimumExcluded
  double maximum = 0;
  bool minimumExcluded = false;
};

// The parameters a method declares (lumet::Error for a name Methods() does not list).
LUMET_API std::vector<MethodParameter> MethodParameters(const std::string& method);

}  // namespace lumet
