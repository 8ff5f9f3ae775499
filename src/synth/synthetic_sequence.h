#pragma once

#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "params/param_file.h"
#include "synth/synth_options.h"

namespace lumet {

// A synthetic test sequence with its ground truth, in memory.
struct SyntheticSequence {
  // Frames 0 .. N: the scene warped, blurred, sampled, given noise and quantised.
  std::vector<ColorGrayImage> frames;
  // H_k for k = 0 .. N (H_0 the identity): maps reference-frame positions to frame k's
  // positions through ProjectPoint, each entry exactly as the homography file holds it.
  std::vector<Matrix> homographies;
  // The sharp scene on the HR grid of the ROI: HR pixel (c, r) is the scene averaged over
  // the HR pixel around the LR position ((c + x0) / s, (r + y0) / s).
  ColorGrayImage truth;
  // The Init params values with lrCount N, scale and psfSigma as generated.
  ParamSet params;
};

// Generates the sequence; the same options always give the same pixels. Throws
// lumet::Error (from SynthOptions::Check) for options out of range.
SyntheticSequence MakeSyntheticSequence(const SynthOptions& options);

// The homographies H_0 .. H_N of the sequence alone (what MakeSyntheticSequence puts
// into `homographies`), without rendering anything.
std::vector<Matrix> SyntheticHomographies(const SynthOptions& options);

// Generates the sequence and writes it under dir: images/lr-0.bmp .. images/lr-N.bmp,
// truth/hr.bmp, truth/hom-1.txt .. truth/hom-N.txt and param.txt. The options are checked
// before anything is written. Same options, same bytes.
void WriteSyntheticSequence(const std::string& dir, const SynthOptions& options);

// The file names under a sequence folder.
std::string SynthFramePath(const std::string& dir, int k);
std::string SynthTruthImagePath(const std::string& dir);
std::string SynthTruthHomographyPath(const std::string& dir, int k);
std::string SynthParamPath(const std::string& dir);

}  // namespace lumet
