#include "registration/registration_strategy.h"

#include "util/error.h"

namespace lumet {

namespace {

std::vector<const RegistrationStrategy*>& Registry() {
  static std::vector<const RegistrationStrategy*> strategies = {&PointsRegistration(), &DirectRegistration()};
  return strategies;
}

}  // namespace

const std::vector<const RegistrationStrategy*>& RegistrationStrategies() { return Registry(); }

void RegisterRegistrationStrategy(const RegistrationStrategy& strategy) {
  for (const RegistrationStrategy* s : Registry()) {
    if (s->Word() == strategy.Word()) throw Error("a registration strategy is called " + strategy.Word() + " already");
  }
  Registry().push_back(&strategy);
}

const RegistrationStrategy& RegistrationStrategyFor(const std::string& word) {
  std::string words;
  for (const RegistrationStrategy* s : Registry()) {
    if (s->Word() == word) return *s;
    words += (words.empty() ? "" : ", ") + s->Word();
  }
  throw Error("no registration strategy is called " + word + " (there are " + words + ")");
}

const RegistrationStrategy& StrategyOf(const RegistrationOptions& options) {
  return options.strategy != nullptr ? *options.strategy : PointsRegistration();
}

}  // namespace lumet
