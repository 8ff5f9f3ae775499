#pragma once

#include <QString>

#include "params/param_set.h"
#include "viewmodel/viewer_model.h"

namespace lumet {

// What a viewer's caption says in the window, in plain words, for the title a command
// gives it (the command line keeps the commands' own titles). `values` are those the
// command runs with (the method and the iteration cap); `registering` is true while the
// registration retitles the frame viewer with each frame's name.
QString PlainViewerTitle(Viewer viewer, const QString& commandTitle, const ParamSet& values, bool registering);

}  // namespace lumet
