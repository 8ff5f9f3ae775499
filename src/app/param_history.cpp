#include "app/param_history.h"

#include <QCoreApplication>
#include <QUndoCommand>
#include <QUndoStack>
#include <utility>

#include "app/dialog_controls.h"

namespace lumet {

namespace {

// Init params' steps and ROI placements in a viewer (key 0) never merge with the steps
// around them.
constexpr int kResetKey = -1;
constexpr int kPlacedKey = 0;

class FieldStep : public QUndoCommand {
 public:
  FieldStep(ParamHistory* history, CLumetDlg::FieldState before, CLumetDlg::FieldState after, int key, int epoch,
            const QString& text)
      : QUndoCommand(text),
        history_(history),
        before_(std::move(before)),
        after_(std::move(after)),
        key_(key),
        epoch_(epoch) {}

  // The first redo is the edit the user made already.
  void redo() override {
    if (std::exchange(first_, false)) return;
    history_->Show(after_, key_ == kResetKey);
  }
  void undo() override { history_->Show(before_, key_ == kResetKey); }
  int id() const override { return key_ == kResetKey || key_ == kPlacedKey ? -1 : 1; }
  bool mergeWith(const QUndoCommand* other) override {
    const auto* next = static_cast<const FieldStep*>(other);
    if (next->key_ != key_ || next->epoch_ != epoch_) return false;
    after_ = next->after_;
    return true;
  }

 private:
  ParamHistory* history_;
  CLumetDlg::FieldState before_, after_;
  int key_;
  int epoch_;  // edits on either side of a command are separate steps
  bool first_ = true;
};

QString StepText(int key) {
  switch (key) {
    case kResetKey:
      return QCoreApplication::translate("lumet::ParamHistory", "Init params");
    case kPlacedKey:
      return QCoreApplication::translate("lumet::ParamHistory", "ROI placement");
    case kIdRoiX:
      return QCoreApplication::translate("lumet::ParamHistory", "ROI change");
    case kIdScaleX3:
      return QCoreApplication::translate("lumet::ParamHistory", "scale change");
    default:
      return QCoreApplication::translate("lumet::ParamHistory", "edit");
  }
}

}  // namespace

ParamHistory::ParamHistory(QObject* parent) : QObject(parent), stack_(new QUndoStack(this)) {}

void ParamHistory::Attach(CLumetDlg* dialog) {
  if (dialog_ != nullptr) disconnect(dialog_, nullptr, this, nullptr);
  stack_->clear();
  dialog_ = dialog;
  if (dialog == nullptr) return;
  current_ = dialog->Snapshot();
  connect(dialog, &CLumetDlg::fieldsEdited, this, &ParamHistory::OnEdited);
  connect(dialog, &CLumetDlg::paramsReset, this, &ParamHistory::OnReset);
  // A command rewrites the fields with the values it adopted.
  connect(dialog, &CLumetDlg::commandFinished, this, &ParamHistory::Resync);
}

void ParamHistory::Resync() {
  ++epoch_;
  if (dialog_ != nullptr) current_ = dialog_->Snapshot();
}

void ParamHistory::Show(const CLumetDlg::FieldState& state, bool adopt) {
  if (dialog_ == nullptr || dialog_->CommandRunning()) return;
  showing_ = true;
  dialog_->Restore(state);
  if (adopt) dialog_->ReadControls();
  showing_ = false;
  current_ = dialog_->Snapshot();
}

void ParamHistory::OnEdited(int key) {
  if (showing_ || dialog_ == nullptr) return;
  CLumetDlg::FieldState now = dialog_->Snapshot();
  if (now == current_) return;
  // The four ROI fields are one ROI (the dialog reports every scale button as kIdScaleX3).
  const int merged = key >= kIdRoiX && key <= kIdRoiH ? kIdRoiX : key;
  stack_->push(new FieldStep(this, current_, now, merged, epoch_, StepText(merged)));
  current_ = std::move(now);
}

void ParamHistory::OnReset() {
  if (showing_ || dialog_ == nullptr) return;
  CLumetDlg::FieldState now = dialog_->Snapshot();
  stack_->push(new FieldStep(this, current_, now, kResetKey, epoch_, StepText(kResetKey)));
  current_ = std::move(now);
}

}  // namespace lumet
