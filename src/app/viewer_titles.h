#pragma once

#include <QString>

#include "params/param_set.h"
#include "viewmodel/viewer_model.h"

namespace lumet {

// What a viewer's caption says in the window, in plain words, for the title a command
// gives it (the command line keeps the commands' own titles); `registering` is true while
// the registration retitles the frame viewer with each frame's name.
QString PlainViewerTitle(Viewer viewer, const QString& commandTitle, bool registering);

// The reference viewer's caption while the reconstruction works on band `band` (0 red,
// 1 green, 2 blue) at step `bandStep` as the method counts it (BandProgress); `values` are
// those the command runs with (the method and the iteration cap).
QString PlainBandProgressTitle(int band, int bandStep, const ParamSet& values);

}  // namespace lumet
