#include "util/error.h"
#include "workbench/workbench.h"

namespace lumet {

// Placeholder until the registration pipeline lands.
void Workbench::Registration(UiPort& ui) {
  ShowReference(ui);
  throw Error("registration is not available in this build yet");
}

}  // namespace lumet
