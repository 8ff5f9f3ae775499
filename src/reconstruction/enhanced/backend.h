#pragma once

#include <string>
#include <vector>

#include "reconstruction/enhanced/forward_model.h"

namespace lumet {

// The enhanced method's inner evaluation, the work of every iteration: the forward model,
// its adjoint, and the objective with its gradient. The solver (solver.h, minimiser.h) asks
// a backend for these and does everything else itself, so that another implementation (a
// GPU's, say) replaces this part alone. Every backend computes the same functions; the CPU
// backend is the one whose results the method's output is defined by, and the tests hold
// every backend to a plain reference within a stated tolerance.

// Smoothing of the two absolute values, in grey levels: sqrt(r^2 + eps^2) - eps. The data
// term turns from quadratic to linear at about one and a half times the noise of a
// typical sequence (sigma 2), which measured best; the prior stays close to total variation.
inline constexpr double kDataSmoothing = 3.0;
// The noise sigma kDataSmoothing was measured at; the data term's smoothing follows the
// noise the frames show in proportion.
inline constexpr double kTypicalNoise = 2.0;
inline constexpr double kPriorSmoothing = 1.0;
// The user's lambda is multiplied by this and by the observations per HR pixel (measured
// on chart and texture sequences: 3x the plain lambda gained 0.1 / 2.3 dB over 1x, 10x
// lost on the chart).
inline constexpr double kPriorGain = 1.8;

// Weights of the objective's terms.
struct EnhancedWeights {
  double alpha = 0.7;
  double lambda = 0.003;
  // Per frame of the model: 0 leaves the frame out.
  std::vector<double> frame;
  // Per observation (empty: all 1), multiplying its frame's weight.
  std::vector<float> observation;
  // Frames held out (weight 0) whose prediction error is measured (empty: none).
  std::vector<char> heldOut;
  // Smoothing of the data term's absolute value (grey levels).
  double dataSmoothing = kDataSmoothing;
};

// The single-precision backend's planes: the estimate rounded, blurred, the residuals'
// derivatives spread and blurred back, and the PSF taps.
struct SingleScratch {
  PlaneF x;
  PlaneF blurred;
  PlaneF scatter;
  PlaneF rows;
  PlaneF gradient;
  std::vector<float> taps;
  std::vector<float> predicted;
};

// Scratch planes reused by every evaluation.
struct ObjectiveScratch {
  Plane blurred;
  Plane scatter;
  // The blur's pass across the rows.
  Plane rows;
  std::vector<double> predicted;
  SingleScratch single;
  // Of the last evaluation: the observation-weighted mean absolute error of the held-out
  // frames' observations (not a number without any).
  double heldOutError = 0.0;
  // The observation weight that mean is over.
  double heldOutWeight = 0.0;
};

class EnhancedBackend {
 public:
  virtual ~EnhancedBackend() = default;
  // The name it is chosen by (LUMET_BACKEND, EnhancedSettings::backend).
  virtual std::string Name() const = 0;
  // scratch.predicted[o] = (PSF * x) sampled at observation o (ObservationModel::Forward).
  virtual void Forward(const ObservationModel& model, const Plane& x, ObjectiveScratch& scratch) const = 0;
  // out = the adjoint of Forward applied to r (re-created at the model's grid).
  virtual void Adjoint(const ObservationModel& model, const std::vector<double>& r, Plane& out,
                       ObjectiveScratch& scratch) const = 0;
  // The objective of channel c at x and its gradient (re-created at x's size):
  // sum over frames of weight * sum over observations of rho(prediction - value)
  // + lambda * sum over the shifts (1,0), (0,1) [weight alpha] and (2,0), (1,1), (0,2)
  // [weight alpha^2] of rho(x(p) - x(p + shift)) over every p with p + shift inside,
  // where rho(r) = sqrt(r^2 + eps^2) - eps (weights.dataSmoothing, kPriorSmoothing).
  // Sets scratch.heldOutError and heldOutWeight from the held-out frames.
  virtual double Objective(const ObservationModel& model, int c, const EnhancedWeights& weights, const Plane& x,
                           Plane& gradient, ObjectiveScratch& scratch) const = 0;
};

// The environment variable that chooses the backend when the settings name none.
inline constexpr const char* kBackendVariable = "LUMET_BACKEND";
// The built-in backends' names (CpuEnhancedBackend, SingleCpuEnhancedBackend).
inline constexpr const char* kDoubleBackend = "cpu";
inline constexpr const char* kSingleBackend = "cpu-single";
// The backend of every run that names none and finds the variable unset or empty.
inline constexpr const char* kDefaultBackend = kSingleBackend;

// The backend called name; an empty name means the one LUMET_BACKEND names, else
// kDefaultBackend.
// A name that is not built in is looked for as a loadable module, the file
// liblumet-backend-NAME.so in <program folder>/../lib/lumet/ (where the codec modules are;
// SetBackendModuleFolder chooses another), mapped once and kept for the life of the
// program. Its one entry point is
//   extern "C" const lumet::EnhancedBackend* lumet_enhanced_backend(int version);
// called with kBackendModuleVersion (null: built for another version). The module comes
// from the same build as the program (same compiler, same headers); no exception may leave
// it. lumet::Error when there is neither, naming the backends built in and the file looked for.
const EnhancedBackend& EnhancedBackendNamed(const std::string& name);
inline constexpr int kBackendModuleVersion = 2;
inline constexpr const char* kBackendEntryPoint = "lumet_enhanced_backend";

// Where backend modules are looked for instead of <program folder>/../lib/lumet/ (the
// Python module, whose program is the interpreter, names the folder of the codec modules).
void SetBackendModuleFolder(const std::string& folder);

// The names of the backends built into the program, the default first.
std::vector<std::string> BuiltInBackendNames();

// The built-in backends: the engine's own loops (ObservationModel::Forward and Adjoint, the
// objective on the thread pool) in double ("cpu"), and with the objective's inner evaluation
// in single precision ("cpu-single", the default: the same results to within 0.03 dB on all
// but one of 108 held-back sequences, which stopped at another iteration and gained 0.17 dB;
// its iteration a tenth to a fifth faster).
const EnhancedBackend& CpuEnhancedBackend();
const EnhancedBackend& SingleCpuEnhancedBackend();

// Mean absolute residual of each frame's observations of channel c at x (not a number for
// a frame without observations), each residual times scale[o] when scale is given.
std::vector<double> FrameResiduals(const EnhancedBackend& backend, const ObservationModel& model, int c,
                                   const Plane& x, ObjectiveScratch& scratch,
                                   const std::vector<double>* scale = nullptr);

// The engine's prior of the objective (EnhancedBackend::Objective's second sum, times
// weights.lambda) at x; adds its gradient into gradient (x's size) and returns its energy.
double EnhancedPrior(const EnhancedWeights& weights, const Plane& x, Plane& gradient);

}  // namespace lumet
