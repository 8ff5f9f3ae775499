#pragma once

#include <cstddef>

#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "reconstruction/hr_geometry.h"
#include "reconstruction/reconstruction_options.h"
#include "reconstruction/seed_estimate.h"

namespace lumet {

// A reconstruction method: from frames 0 .. K - 1 of one scene, their homographies and
// their errors against frame 0, the HR estimate of the ROI. Whoever runs one (the
// reconstruction command) gathers this input the same way for every method, asks it for
// the estimate, and shows and writes the result; the method reports through the observer.

// Everything a method reconstructs from.
struct ReconstructionInput {
  std::vector<ColorGrayImage> frames;  // frames 0 .. K - 1, all of frame 0's size
  std::vector<Matrix> homographies;    // reference positions to frame k's (frame 0: the identity)
  std::vector<double> frameErrors;     // FrameMae of each frame warped onto the grid against frame 0
  HrGeometry grid;                     // the ROI's HR grid (options.Grid())
  const SeedEstimate* seed = nullptr;  // an estimate to start from (a video's previous frame), if any
};

// A warning about one frame: what happened (the same words for every frame it happens
// to), what differs for this frame (may be empty), and what the user can do.
struct ReconstructionWarning {
  int frame = 0;
  std::string kind;
  std::string detail;
  std::string remedy;
};

// What a reconstruction did, as values, for whoever sums it up (the demo's report): the
// same facts its log lines give, so that nobody reads them back from the log.
struct ReconstructionOutcome {
  Method method = Method::Classic;
  int framesGiven = 0;  // frames 0 .. framesGiven - 1 were handed to the method
  int framesUsed = 0;   // those that took part in the estimate
  // The classic selection, where it ran: the threshold and its place (counted from 0)
  // among the frames' errors sorted ascending.
  bool selected = false;
  int thresholdIndex = 0;
  double threshold = 0.0;
  // Iterations of the estimate: the enhanced method's over its bands (and tiles), as its
  // log line counts them; the classic method's steps per band.
  int iterations = 0;
  // The PSF sigma the enhanced method solved with (narrower than stated when the frames
  // are sharper), where the method chooses one.
  bool choosesPsf = false;
  double psfSigma = 0.0;
  // With it the lambda solved with, stronger than stated where the narrower PSF took a
  // stronger prior.
  double lambda = 0.0;
  // The warnings about frames, in the order given.
  std::vector<ReconstructionWarning> warnings;
  // The estimate was not kept and the result is frame 0 enlarged; reason says why.
  bool fellBack = false;
  std::string fallbackReason;
};

// The remedy of a warning that a method solved through another PSF than stated: give the
// camera's blur, or keep what was chosen (with the lambda, where it was strengthened too).
std::string PsfChoiceRemedy(double psfSigma, double lambda, bool lambdaChanged);

// The log line that sums an outcome up, without its line end: the classic selection's
// "Threshold(k/N) = v", the enhanced method's "Enhanced = I iterations, U/N frames".
std::string OutcomeSummaryLine(const ReconstructionOutcome& outcome);

// What a method tells the user while it runs. Any call may throw (lumet::Cancelled) to stop it.
class ReconstructionObserver {
 public:
  virtual ~ReconstructionObserver() = default;
  // One line of the log, "\r\n" at its end.
  virtual void Log(const std::string& line) = 0;
  // A warning about frame k: what happened (the same words for every frame it happens to),
  // what differs for this frame (may be empty), and what the user can do. By default one
  // log line "Warning: frame k: kind (detail); remedy".
  virtual void Warn(int frame, const std::string& kind, const std::string& detail, const std::string& remedy) {
    Log("Warning: frame " + std::to_string(frame) + ": " + kind + (detail.empty() ? "" : " (" + detail + ")") + "; " +
        remedy + "\r\n");
  }
  // Step `done` of `total`, being step `step` of colour band `band`.
  virtual void Progress(int done, int total, int band, int step) = 0;
  // False when nobody watches the work in progress: a method then makes no pictures of it.
  virtual bool WantsPictures() const = 0;
  virtual void Picture(const ColorDoubleImage& estimate) = 0;
  // True when the observer takes the estimate band by band (Band) instead of whole: a
  // method that can then holds one band's working images at a time and leaves the
  // estimate empty. Band takes band b's final values (G x H); it may free or keep them.
  virtual bool TakesBands() const { return false; }
  virtual void Band(int band, DoubleImage& xb) { (void)band, (void)xb; }
  // What the method did, once it is done.
  virtual void Outcome(const ReconstructionOutcome& outcome) { (void)outcome; }
};

// A number of a method's own, declared by the method: the parameter table adds a row for
// it (command-line option, window field, Python keyword, a "name value" line in param.txt
// when it differs from its default), and ReconstructionOptions::values carries it by name.
struct MethodParam {
  const char* name;         // "iterations": the name in param.txt and the printed set
  const char* flag;         // "--iterations"
  const char* label;        // how messages name it: "iteration cap"
  const char* typeName;     // the shape of the value in the help: "N", "FLOAT"
  const char* help;         // what it means
  const char* defaultText;  // its default as typed: "60"
  bool whole = false;       // a 32-bit whole number (else any finite number in range)
  double minimum = 0.0;     // the range, the lower end excluded when minimumExcluded
  double maximum = 0.0;
  bool minimumExcluded = false;
  // A switch: a whole number 0 or 1, typed and stored as "off" or "on" (defaultText too);
  // a check box in the window, a bool in Python.
  bool onOff = false;

  double DefaultValue() const;
  // Its value in the options, or its default when the options do not hold it.
  double In(const ReconstructionOptions& options) const;
};

class ReconstructionMethod {
 public:
  virtual ~ReconstructionMethod() = default;
  // The word that names it in param.txt, on the command line, in the window and in Python.
  virtual std::string Word() const = 0;
  // Its own parameters, in the order the table lists them (after the common ones).
  virtual std::vector<MethodParam> Params() const { return {}; }
  // How many frames (0 .. FrameCount - 1) it reconstructs from when lrCount frames were asked for.
  virtual int FrameCount(int lrCount) const = 0;
  // The registration strategy its frames are registered with, by its word
  // (RegistrationStrategies(): "points", or "direct", which refines every homography on the
  // pixels after the search).
  virtual std::string RegistrationWord() const { return "points"; }
  // Whether it starts from ReconstructionInput::seed when given one.
  virtual bool TakesSeed() const { return false; }
  // What a progress line says of step `step` of colour band `band`, as Progress reports
  // them: "luma band, iteration 3 of at most 60".
  virtual std::string StepText(int band, int step, const ReconstructionOptions& options) const;
  // Rules of its own on the options, beyond ReconstructionOptions::Check (lumet::OptionError).
  virtual void CheckOptions(const ReconstructionOptions& options) const = 0;
  // The most bytes Reconstruct holds on grid beside its input frames, the estimate
  // included; byBand when the observer takes bands. A method that can work in less (in
  // tiles) gives what it needs within options.memoryLimit, or its least need beyond it.
  virtual size_t WorkingBytes(const ReconstructionOptions& options, const HrGeometry& grid, bool byBand) const = 0;
  // The HR grid whose outline, carried onto each frame, bounds the frame pixels Reconstruct
  // reads (with a few pixels more for its interpolations): the ROI's grid, or a larger one
  // for a method that solves beyond it. Frames are handed over holding only those rows.
  virtual HrGeometry GridRead(const ReconstructionOptions& options, const HrGeometry& grid) const {
    (void)options;
    return grid;
  }
  // The estimate on input.grid (G x H per channel, grey levels as doubles; empty when the
  // observer took it band by band). It may release the frames once it no longer needs them.
  virtual void Reconstruct(ReconstructionInput& input, const ReconstructionOptions& options,
                           ReconstructionObserver& observer, ColorDoubleImage& estimate) const = 0;
};

// The registry: every method, in the order registered, classic and enhanced first; method
// value m is ReconstructionMethods()[m]. The parameter table's method words, the command
// line, the window's list and Python follow it. Methods are registered before any work
// starts (the registry is not locked).
const std::vector<const ReconstructionMethod*>& ReconstructionMethods();
// Adds a method (one object for the life of the program) and returns its value; a word
// already taken, or a parameter name another method or the common table uses with another
// meaning, is refused (lumet::Error).
Method RegisterReconstructionMethod(const ReconstructionMethod& method);
// The method of a value (lumet::Error for one no method has).
const ReconstructionMethod& ReconstructionMethodFor(Method method);

// The two built-in methods.
const ReconstructionMethod& ClassicReconstruction();
const ReconstructionMethod& EnhancedReconstructionMethod();

}  // namespace lumet
