#pragma once

#include "lumet/frame.h"
#include "lumet/registration.h"
#include "lumet/settings.h"
#include "numeric/image_plane.h"
#include "numeric/matrix.h"
#include "params/param_set.h"

namespace lumet {

// Between the library's plain types and the engine's.
// lumet::Error naming the frame when its samples do not make width x height pixels.
void CheckFrame(const Frame& frame, const std::string& name);
ColorGrayImage ToColorImage(const Frame& frame, const std::string& name);
Frame ToFrame(const ColorGrayImage& image);
Estimate ToEstimate(const ColorDoubleImage& estimate);
ColorDoubleImage ToDoubleImage(const Estimate& estimate);
// The estimate cut to 8 bits as the result files hold it (ToFrame's image).
ColorGrayImage ToColorImage(const Estimate& estimate);

// The settings of a parameter set (a checked one: its ROI fits in int).
void FillSettings(const ParamSet& params, Settings& settings);
// The parameter set of the settings, checked (lumet::Error naming the value by its label).
ParamSet ToParamSet(const Settings& settings);

// A homography in the units ProjectPoint takes, as its file would hold it.
Matrix ToMatrix(const PixelHomography& h);
PixelHomography ToPixelHomography(const Matrix& h);

// The codec modules are looked for beside the library (its folder's lumet/), once.
void UseModulesBesideLibrary();

}  // namespace lumet
