#pragma once

#include <QString>

namespace lumet {

// The tool tip of a dialog field, made from the parameter table: what the value does, its
// range and its default (the part of it a field shows: x of the ROI, U of RANSAC), and
// the name it has in param.txt and on the command line. Empty for an unknown control.
QString FieldToolTip(int controlId);
// The same for a parameter by its stored name ("scale"), for controls that are not fields.
QString ParamToolTip(const char* name);

}  // namespace lumet
