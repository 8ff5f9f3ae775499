#pragma once

// lumet::Error and lumet::Cancelled are the library's public exceptions; the engine throws
// the very same types, so a failure reaches a C++ caller of the library as it is.
#include "lumet/error.h"
