#include "lumet/version.h"

namespace lumet {

const char* Version() { return LUMET_VERSION; }

}  // namespace lumet
