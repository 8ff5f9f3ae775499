#include "registration/direct/direct_alignment.h"
#include "registration/direct/direct_refinement.h"
#include "registration/registration_strategy.h"

namespace lumet {

namespace {

// The reference's pyramid over the ROI, which every frame's refinement reads.
struct DirectReference : StrategyReference {
  DirectReference(const GrayImage& green, const RoiRect& roi) : pyramid(green, roi) {}
  AlignmentPyramid pyramid;
};

// The corner points' homography refined directly on the pixels (RefineDirectly).
class Direct : public RegistrationStrategy {
 public:
  std::string Word() const override { return "direct"; }
  std::string Description() const override {
    return "the corner points' homography refined directly on the pixels, all eight entries, with a direct "
           "translation search as a second start where no homography search ran";
  }
  std::shared_ptr<const StrategyReference> Prepare(const GrayImage& green,
                                                   const RegistrationOptions& options) const override {
    return std::make_shared<const DirectReference>(green, options.roi);
  }
  double Finish(const RegistrationReference& reference, const GrayImage& frame, int k,
                const RegistrationOptions& options, FrameRegistration& reg, std::string& log) const override {
    if (const auto* prepared = dynamic_cast<const DirectReference*>(reference.prepared.get())) {
      return RefineDirectly(*reference.green, prepared->pyramid, frame, reg.h, reg.e1, reg.e2, k, options, log);
    }
    return RefineDirectly(*reference.green, frame, reg.h, reg.e1, reg.e2, k, options, log);
  }
  std::string StartWithoutSearch() const override {
    return "the direct refinement starts from the better of the refined identity and a direct translation search";
  }
};

}  // namespace

const RegistrationStrategy& DirectRegistration() {
  static const Direct strategy;
  return strategy;
}

}  // namespace lumet
