#pragma once

// GroupWarnings moved to the stages beside FrameWarning; this name stays for its callers.
#include "stages/frame_warning.h"
