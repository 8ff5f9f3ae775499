#pragma once

// The Lumet library: multi-frame super-resolution of a region of interest. A Sequence of
// frames is registered against one of its frames (Register), and the region is
// reconstructed from the registered frames (Reconstruct); VideoSuperResolver does both
// for every frame of a clip, each from a window of its neighbours. Link it with
// find_package(Lumet) and target_link_libraries(... Lumet::lumet), or pkg-config lumet.
#include "lumet/error.h"
#include "lumet/frame.h"
#include "lumet/observer.h"
#include "lumet/registration.h"
#include "lumet/sequence.h"
#include "lumet/settings.h"
#include "lumet/stages.h"
#include "lumet/version.h"
#include "lumet/video.h"
