#pragma once

#include <QSize>
#include <QString>
#include <optional>
#include <vector>

#include "params/param_set.h"

class QLineEdit;

namespace lumet {

// The dialog fields (their control IDs) an error message is about: the value named first
// in the message wins ("the ROI ... inside the reference frame ..." is about the ROI).
// A file name made from the LR pattern counts as naming the "LR files" field. Empty when
// the message names no field.
std::vector<int> FieldsNamedBy(const QString& message, const QString& lrPattern);

class ParamError;

// The field of a refused value: the row's control for the part at fault (x, y, w, h for the
// ROI's left, top, right, bottom), 0 when the value has no field (the scale).
int ControlOf(const ParamError& error);

// Marks a field as refused, with the message as its tool tip, until its text changes or
// ClearRefusedMark.
void MarkRefusedField(QLineEdit* field, const QString& message);
bool IsMarkedRefused(const QLineEdit* field);
// Takes the mark off (its tool tip and look come back); nothing when it has none.
void ClearRefusedMark(QLineEdit* field);

// Whether the value of the field controlId passes the checks on its own: its row taken
// from values, every other row at its default; the ROI also against a frame of that size.
// A field that is not a parameter's is valid.
bool FieldValueValid(int controlId, const ParamSet& values, const std::optional<QSize>& frame);

}  // namespace lumet
