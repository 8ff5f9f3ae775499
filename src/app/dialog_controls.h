#pragma once

#include <array>
#include <string>
#include <vector>

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
  kIdIterations,
  kIdTolerance,
  kIdPsfCheck,
  kIdLocalMotion,
};
static_assert(kIdStartIndex == 1026);
static_assert(kIdTolerance == 1029);

// The controls that show a parameter row, in the order of its parts (x, y, w, h for the ROI;
// both RANSAC fields), 0 where there is none: edit fields, a drop-down list for a Choice,
// a check box for a switch (ParamDescription::onOff), nothing for the scale (its radio
// buttons) or a value the dialog does not show.
std::array<int, 4> ControlsOf(const ParamDescription& row);

// The row a control shows and which of its parts (x, y, w, h of the ROI; the two RANSAC
// sizes); nullptr for a control that shows no row.
const ParamDescription* RowShownBy(int controlId, int* part = nullptr);

// The methods that declare a row as their own setting ("enhanced" for its iteration cap and
// tolerance); none when every method reads it. The dialog shows such fields only with
// one of their methods.
std::vector<std::string> MethodsOfRow(const ParamDescription& row);

}  // namespace lumet
