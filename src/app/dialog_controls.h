#pragma once

#include <array>

#include "params/param_description.h"

namespace lumet {

// The dialog's control IDs, numbered on from 1001 (1006 is not used). Tests and the field
// marks find a control by its ID as object name (findChild<QWidget*>("1016")).
enum ControlId : int {
  kIdShowReference = 1001,
  kIdRegistration,
  kIdLog,
  kIdReconstruction,
  kIdInitParams,
  kIdLrPattern = 1007,
  kIdOutputBase,
  kIdLrCount,
  kIdPsfSigma,
  kIdScaleX3,
  kIdScaleX4,
  kIdAlpha,
  kIdBeta,
  kIdLambda,
  kIdRoiX,
  kIdRoiY,
  kIdRoiW,
  kIdRoiH,
  kIdFilterSigma,
  kIdRansacFirst,
  kIdRansacSecond,
  kIdSadSize,
  kIdSearchArea,
  kIdMethod,
  kIdStartIndex,
  kIdScaleX2,
};
static_assert(kIdStartIndex == 1026);

// The controls that show a parameter row, in the order of its parts (x, y, w, h for the ROI;
// both RANSAC fields), 0 where there is none: edit fields, a drop-down list for a Choice,
// nothing for the scale (its radio buttons) or a value the dialog does not show.
std::array<int, 4> ControlsOf(const ParamDescription& row);

}  // namespace lumet
