#pragma once

#include <QDialog>
#include <QSize>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "params/param_set.h"
#include "workbench/ui_port.h"
#include "workbench/workbench.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QThread;

namespace lumet {

class CImgWnd;
class GuiPort;

// The main dialog: the parameter fields, the four command buttons, the log pane, the two
// viewer windows and the shared engine state.
//
// Every control that has a resource ID carries that ID as its object name ("1001" for
// "Show Reference", "1007" for the "LR files" field, "1003" for the log pane, "1025" for
// the method's drop-down list, "1026" for the start index field ...), so tests and tools
// find them with findChild<QWidget*>("1016"). The controls added for the
// worker thread are named "progress" (progress bar) and "cancel" (Cancel button).
//
// Commands run on a worker thread on a snapshot of the parameter set taken when they start;
// meanwhile the fields, the command buttons and clicks in the viewers are disabled, and
// the engine's calls reach the windows through GuiPort on this thread, in order.
class CLumetDlg : public QDialog {
  Q_OBJECT

 public:
  // FrameReconstruction: the frame the Frames viewer shows, super-resolved from its
  // neighbours (StartFrameCommand); VideoExport: every frame so, into a video (StartVideoExport).
  enum class Command { ShowReference, Registration, Reconstruction, FrameReconstruction, VideoExport };

  // Builds the dialog and runs the start-up: param.txt of the working folder is loaded,
  // shown, adopted (rewriting ./param.txt) and the scale radio buttons set from it.
  explicit CLumetDlg(QWidget* parent = nullptr);
  ~CLumetDlg() override;

  // The parameter set as last adopted (the ROI follows the ROI fields at once).
  const ParamSet& Params() const { return params_; }
  // The values the fields show, read as a command would read them, without adopting them.
  ParamSet FieldValues() const;

  // What the fields show, exactly as typed: what an undo step restores.
  struct FieldState {
    std::map<int, QString> texts;  // by control ID: edit fields and drop-down lists
    double scale = 4.0;  // the radio button checked
    bool operator==(const FieldState&) const = default;
  };
  FieldState Snapshot() const;
  // Shows the texts again (the ROI follows its fields); nothing is adopted.
  void Restore(const FieldState& state);

  // Frame 0's size for the sequence the values name, read once per sequence; none when
  // it cannot be read (the commands then say why).
  std::optional<QSize> FrameSizeOf(const ParamSet& values);
  // Moves the ROI fields' rectangle onto frame 0 when it fits there but reaches off it.
  void KeepRoiOnFrame();

  // Asked before Init params replaces anything, with the list of what changes; without
  // it (or when nothing changes) the reset happens at once.
  std::function<bool(const QString& changes)> confirmReset;
  // Init params' changes, one "label: now → default" line each; empty when none.
  QString ResetChanges() const;
  Workbench& Bench() { return workbench_; }

  // Reads the controls into the parameter set and adopts it. False (with an "Error: "
  // line in the log) when a value is refused or ./param.txt cannot be written.
  bool ReadControls();
  // Shows the values in the fields, adopts them and rewrites ./param.txt; the radio
  // buttons are left alone. False (logged) when the adoption failed.
  // Refusals are logged unless logRefusal is false (start-up logs its own, naming lines).
  bool ApplyParams(const ParamSet& values, bool logRefusal = true);

  // Gives up the template's fixed places for a column of groups that narrows with its
  // container (the main window's dock): form rows wrap, only the height grows.
  void UseFlowingLayout();

  // Starts a command on the worker thread after ReadControls; false when it could not
  // start (a command is running, or the controls were refused).
  bool StartCommand(Command command);
  // Starts FrameReconstruction: frame `reference` (0-based, as the frame slider counts)
  // reconstructed as the reference of frames reference - radius .. reference + radius.
  bool StartFrameCommand(int reference, int radius);
  // Starts VideoExport: every frame of the sequence as the reference of the frames radius
  // around it (the ROI, or the whole frame), written to output (a video or a frame pattern).
  bool StartVideoExport(const std::string& output, int radius, bool wholeFrame);
  // The frame and radius FrameReconstruction started with last.
  int FrameReference() const { return frameReference_; }
  int FrameRadius() const { return frameRadius_; }
  bool CommandRunning() const { return worker_ != nullptr; }
  // Asks the running command to stop; it logs "Cancelled" when it does.
  void CancelCommand();

  // Appends a log text as one line of the log pane (line ends stripped; an empty text adds
  // nothing) and keeps the newest line in view.
  void AppendLog(const std::string& text);
  QString LogText() const;

  // The label of command button index (0 Show Reference .. 3 Reset Parameters), translated;
  // the main window's actions carry the same words.
  static QString CommandText(int index);

  CImgWnd* ViewerWindow(Viewer viewer) const { return viewer == Viewer::Reference ? refViewer : frameViewer; }

  // Makes the viewers the commands ask for; without one they are floating windows of the
  // dialog. The main window puts them in its docks.
  using ViewerFactory = std::function<CImgWnd*(Viewer viewer, const QString& title, const ScreenRect& rect)>;
  void SetViewerFactory(ViewerFactory factory) { viewerFactory_ = std::move(factory); }

  // Called on this thread by GuiPort.
  // The titles are the commands' own; the viewers show them in plain words.
  void CreateViewerWindow(Viewer viewer, const QString& title, const ScreenRect& rect);
  void SetViewerTitle(Viewer viewer, const QString& title);
  void AttachRoiTo(Viewer viewer);
  void ShowProgress(const QString& stage, int step, int total);
  // The progress of a band of the reconstruction, which also titles the reference viewer.
  void ShowBandProgress(const QString& stage, int step, int total, int band, int bandStep);

 public slots:
  void OnShowReference();
  void OnRegistration();
  void OnReconstruction();
  void OnInitParams();
  void OnScaleX3();
  void OnScaleX4();
  void OnVersionInfo();

 signals:
  // A command ended; ok is false when it failed or was cancelled.
  void commandFinished(bool ok);
  // A command was asked for (before its values are read; it may still be refused).
  void commandStarting(Command command);
  // A line went to the log pane.
  void logAppended(const QString& line);
  // The adoption refused the value in field controlId (0: one without a field).
  void valueRefused(int controlId, const QString& message);
  // The user changed a value (typed, chose, clicked or dragged the ROI); key names the
  // control, so that keystrokes in one field make one undo step (0: the ROI placed in a
  // viewer).
  void fieldsEdited(int key);
  // Init params replaced the values (and adopted them).
  void paramsReset();
  // The ROI was moved onto the frame; message says where to.
  void roiKeptInside(const QString& message);

 protected:
  void reject() override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildControls();
  void BuildButtons();
  void BuildFields();
  void BuildScaleAndLog();
  void OnInitDialog();
  bool CheckNumberTexts();
  void ShowMethodFields();
  void ArrangeCommandButtons(int columns);
  void OrderTabsDownTheColumn();
  // Keeps values.roi on frame 0 (moved) or refuses it before anything is written.
  bool CheckRoiOnFrame(ParamSet& values);
  QString RoiMovedMessage(const RoiRect& roi, QSize frame) const;
  void OnUpdateRoiX();
  void OnUpdateRoiY();
  void OnUpdateRoiW();
  void OnUpdateRoiH();
  void OnRoiChanged();
  void OnViewerRoiChanged();
  void SetRoi(int64_t x, int64_t y, int64_t w, int64_t h);
  void RefreshViewers();
  void OnCommandFinished(bool ok);
  void SetBusy(bool busy);
  QLineEdit* Edit(int id) const { return edits_.at(id); }
  void SetField(int id, const QString& text);
  void CheckScale(double scale);  // checks the radio button of 2, 3 or 4 alone

  ParamSet params_;
  Workbench workbench_;
  std::map<int, QLineEdit*> edits_;
  std::map<int, QComboBox*> choices_;  // the Choice rows' drop-down lists
  std::map<int, QCheckBox*> switches_;  // the switches' check boxes (ParamDescription::onOff)
  QRadioButton* x2_ = nullptr;
  QRadioButton* x3_ = nullptr;
  QRadioButton* x4_ = nullptr;
  QPushButton* commandButtons_[4] = {};
  QGridLayout* commandGrid_ = nullptr;  // the flowing layout's command buttons
  int commandColumns_ = 0;
  QPlainTextEdit* log_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;

 public:
  // The viewers, absent until a command first needs them, then kept until the dialog ends.
  CImgWnd* refViewer = nullptr;
  CImgWnd* frameViewer = nullptr;

 private:
  QThread* worker_ = nullptr;
  std::unique_ptr<GuiPort> port_;
  ViewerFactory viewerFactory_;
  bool busy_ = false;
  bool closePending_ = false;
  Command running_ = Command::ShowReference;  // the command started last
  int frameReference_ = 0;
  int frameRadius_ = 1;
  std::string exportOutput_;
  bool exportWholeFrame_ = false;
  // Frame 0's size by "pattern\nstart index".
  std::map<std::string, QSize> frameSizes_;
};

}  // namespace lumet
