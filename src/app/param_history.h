#pragma once

#include <QObject>
#include <QPointer>

#include "app/lumet_dlg.h"

class QUndoStack;

namespace lumet {

// Undo and redo of the parameter fields: every edit the user makes (typing into a field,
// a choice, the scale, placing the ROI in a viewer) and Init params are steps on one
// stack. Keystrokes in one field in a row merge into one step. Undoing Init params shows
// the values again and adopts them (param.txt is rewritten, as Init params did); other
// steps only change the fields, which the next command reads.
class ParamHistory : public QObject {
  Q_OBJECT

 public:
  explicit ParamHistory(QObject* parent = nullptr);

  QUndoStack* Stack() const { return stack_; }
  // Follows a new dialog (nullptr: none); the steps of the previous one are dropped.
  void Attach(CLumetDlg* dialog);
  // Takes the fields as they are now as the state the next step starts from, after a
  // change that is not a step of its own (a command rewrote the fields).
  void Resync();

  // Shows a recorded state; adopt also reads and adopts the fields.
  void Show(const CLumetDlg::FieldState& state, bool adopt);

 private:
  void OnEdited(int key);
  void OnReset();

  QUndoStack* stack_;
  QPointer<CLumetDlg> dialog_;
  CLumetDlg::FieldState current_;
  bool showing_ = false;
  int epoch_ = 0;  // counts the commands run: steps merge only between two of them
};

}  // namespace lumet
