#pragma once

#include <QString>
#include <vector>

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

// Marks a field as refused, with the message as its tool tip, until its text changes.
void MarkRefusedField(QLineEdit* field, const QString& message);
bool IsMarkedRefused(const QLineEdit* field);

}  // namespace lumet
