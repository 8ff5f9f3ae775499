#include "registration/registration_strategy.h"

namespace lumet {

namespace {

// The homography the corner points' search and its refinement give, as it is.
class Points : public RegistrationStrategy {
 public:
  std::string Word() const override { return "points"; }
  std::string Description() const override {
    return "corner points paired by block matching, a homography search over the pairs and its refinement";
  }
  double Finish(const RegistrationReference&, const GrayImage&, int, const RegistrationOptions&,
                FrameRegistration& reg, std::string&) const override {
    return reg.e2;
  }
  std::string StartWithoutSearch() const override { return "the refinement starts from the identity"; }
};

}  // namespace

const RegistrationStrategy& PointsRegistration() {
  static const Points strategy;
  return strategy;
}

}  // namespace lumet
