#include "util/error.h"
#include "workbench/workbench.h"

namespace lumet {

// Placeholder until the reconstruction pipeline lands.
void Workbench::Reconstruction(UiPort&) { throw Error("reconstruction is not available in this build yet"); }

}  // namespace lumet
