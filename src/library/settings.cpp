#include "lumet/settings.h"

#include "library/conversions.h"
#include "params/param_description.h"
#include "params/param_set.h"

namespace lumet {

// The standard values are the parameter table's, so the library, the command line and the
// window start from the same ones.
Settings::Settings() { FillSettings(InitParams(), *this); }

}  // namespace lumet
