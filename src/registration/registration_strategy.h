#pragma once

#include <memory>
#include <string>
#include <vector>

#include "numeric/image_plane.h"
#include "registration/frame_registration.h"
#include "registration/registration_options.h"

namespace lumet {

// A registration strategy: how a frame's homography against the reference is finished once
// the corner-point steps (frame_registration.h) have given their estimate. Each strategy is
// one folder below registration/ that defines its object; a method asks for one by its word
// (ReconstructionMethod::RegistrationWord) and RegistrationOptions::strategy carries it to
// the registration stage. Adding one touches its folder and one RegisterRegistrationStrategy
// call.
class RegistrationStrategy {
 public:
  virtual ~RegistrationStrategy() = default;
  // The word that names it: "points", "direct".
  virtual std::string Word() const = 0;
  // What it does, in a line for the help and the docs.
  virtual std::string Description() const = 0;
  // What Finish needs of the reference beyond its corner points, built once for every
  // frame (null: nothing).
  virtual std::shared_ptr<const StrategyReference> Prepare(const GrayImage& green,
                                                           const RegistrationOptions& options) const {
    (void)green, (void)options;
    return nullptr;
  }
  // The last step of frame k, after the search and its refinement (reg.h, reg.e1, reg.e2):
  // leaves the final homography in reg.h and returns its RoiMae; lines for the log go to
  // `log`. Runs on the frame's thread and touches nothing but its arguments.
  virtual double Finish(const RegistrationReference& reference, const GrayImage& frame, int k,
                        const RegistrationOptions& options, FrameRegistration& reg, std::string& log) const = 0;
  // How a frame that got no homography search starts, as its warning words it: "the
  // refinement starts from the identity".
  virtual std::string StartWithoutSearch() const = 0;
};

// The registry: every strategy in the order registered, the built-in ones first.
const std::vector<const RegistrationStrategy*>& RegistrationStrategies();
// Adds a strategy (one object for the life of the program); a word already taken is refused
// (lumet::Error). Strategies are registered before any work starts.
void RegisterRegistrationStrategy(const RegistrationStrategy& strategy);
// The strategy of a word (lumet::Error naming the word and the words there are).
const RegistrationStrategy& RegistrationStrategyFor(const std::string& word);

// The options' strategy (PointsRegistration() when they name none).
const RegistrationStrategy& StrategyOf(const RegistrationOptions& options);

// The built-in strategies: the corner points' homography as the refinement leaves it, and
// that homography refined directly on the pixels.
const RegistrationStrategy& PointsRegistration();
const RegistrationStrategy& DirectRegistration();

}  // namespace lumet
