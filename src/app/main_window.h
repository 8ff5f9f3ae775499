#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QByteArray>
#include <functional>
#include <optional>
#include <vector>

#include "app/lumet_dlg.h"
#include "app/run_results.h"
#include "app/working_folder.h"

class QAction;
class QComboBox;
class QDockWidget;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSlider;
class QSpinBox;

namespace lumet {

class ParamHistory;
class ViewerPane;

// The application's window: the dialog's controls in a dock of their own (scrolled when
// narrow), the two viewers as docks taking the rest, a menu bar, a tool bar with the
// commands and a status bar with the outcome of the last command, the zoom and the pixel
// under the pointer, the progress bar and Cancel.
//
// It works in one working folder at a time (the process's current folder, since every name
// in the parameters is relative to it). Opening a folder, a frame file or a video makes a
// fresh dialog there, which reads and rewrites that folder's param.txt, and shows frame 0;
// until a folder is chosen there is no dialog and nothing is read or written.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Chooses the working folder at start-up: the argument (a folder, a frame file or a
  // video), else the current folder if it holds a param.txt or frames and is not the home
  // folder, else the last folder used, else the folder the user picks (AskFolder).
  void Start(const QString& argument = QString());

  // Opens a folder, a frame file or a video as Open Frames… does. False, with the reason in
  // the status bar, when it cannot (or while a command runs).
  bool Open(const QString& path);

  // The dialog of the working folder; nullptr until one is chosen.
  CLumetDlg* Dialog() const { return dialog_; }
  QString WorkingFolder() const { return folder_; }
  ViewerPane* Pane(Viewer viewer) const;
  // The pane the View menu acts on: the last one the pointer entered or that had the focus.
  ViewerPane* ActivePane() const;
  QDockWidget* ControlsDock() const { return controlsDock_; }
  QDockWidget* ViewerDock(Viewer viewer) const { return docks_[viewer == Viewer::Reference ? 0 : 1]; }

  // Shows frame k of the sequence in the frame viewer (the frame slider does this).
  bool ShowFrame(int k);
  // Super-resolves the frame the slider shows from the frames within the Window ± radius
  // of it, with the values shown, on the worker thread; kept as a run when it ends well.
  // False when it could not start.
  bool SuperResolveShownFrame();

  // The reconstructions kept in this folder (this opening's and earlier ones'), oldest first.
  const std::vector<RunResult>& Runs() const { return runs_; }
  // Compares two of them in the reference viewer, the large one: left -1 is the right run's
  // reference frame (frame 0, or the frame it was super-resolved at) on its grid. Runs of different scales or ROIs are resampled onto one grid; the
  // parameters they differ in show above the picture. False when there is no such run.
  bool Compare(int left, int right);
  // What the comparison says above the picture: the parameters that differ, the grid.
  QString ComparisonNote() const;

  // Writes the result shown on the right of the comparison (the last run's unless another
  // was chosen) to path (format from its suffix). False, with an "Error: " line, when there
  // is no result or it cannot be written.
  bool SaveResultTo(const QString& path);
  // What Save Result As… suggests: the method and the run in the name.
  QString SuggestedResultFile() const;

  // Asks the user for a folder when nothing else names one; tests replace it.
  std::function<QString()> askFolder;
  // Whether a folder can hold param.txt and the results; tests replace it. Default: a
  // file can be made there.
  std::function<bool(const QString& folder)> folderWritable;
  // Asked when the folder opened cannot be written to: the folder for param.txt, the
  // homographies and the results (the frames are read where they are), proposed first;
  // empty when the user declines. Tests replace it. Default: a message box and a folder
  // dialog.
  std::function<QString(const QString& readOnly, const QString& proposed)> askResultsFolder;
  // The folder the frames are read from when it differs from the working folder (one
  // that could not be written to); empty otherwise.
  QString FramesFolder() const { return framesFolder_; }
  // Asks before Init params resets the values; tests replace it. Default: a message box.
  std::function<bool(const QString& changes)> confirmReset;

  QAction* OpenAction() const { return openAction_; }
  QAction* SaveResultAction() const { return saveResultAction_; }
  QAction* RunAction() const { return runAction_; }
  QAction* SuperResolveFrameAction() const { return frameRunAction_; }
  QAction* ExportVideoAction() const { return exportVideoAction_; }

  // What Export Video… asks: the output (a video, or a still frame's name whose frames it
  // numbers) and whether each output frame is the whole frame or the ROI. Tests replace it;
  // empty when the user declines. Default: a save dialog, then a question.
  struct VideoExportChoice {
    QString output;
    bool wholeFrame = false;
  };
  std::function<std::optional<VideoExportChoice>()> askVideoExport;
  // Export Video…: every frame of the sequence super-resolved from the frames Window ±
  // around it, in the background with the progress bar and Cancel. False when it cannot start.
  bool ExportVideo();
  QAction* UndoAction() const { return undoAction_; }
  QAction* RedoAction() const { return redoAction_; }

 signals:
  void folderOpened(const QString& folder);
  // A Run (registration, then reconstruction) ended; ok when both did.
  void runFinished(bool ok);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildFileMenu();
  void BuildEditMenu();
  void BuildViewMenu();
  void BuildCommands();
  void BuildDocks();
  void BuildStatusBar();
  QWidget* BuildFrameBar();
  QWidget* BuildCompareBar();
  void ClearComparisons();
  void TitleViewersBefore(CLumetDlg::Command command);
  void RestoreViewersAfterCancel(CLumetDlg::Command command);
  void UpdateFrameRange();
  void KeepRun(const RunResult& run);
  bool RestoreParamFile();
  void PlaceInitially();
  void KeepOnScreen();
  void MakeDialog();
  bool IsWritable(const QString& folder) const;
  QString AskResultsFolder(const QString& readOnly, const QString& proposed);
  std::optional<VideoExportChoice> AskVideoExport();
  bool MoveToResultsFolder(const QString& readOnly, const QString& results, std::optional<FrameFileChoice>& frame);
  void FitDialog(CLumetDlg* dialog);
  void ShowOpenedSequence();
  ViewerPane* MakePane(Viewer viewer, const QString& title);
  void DropPanes();
  void SyncActions();
  void RememberFolder(const QString& opened);
  void FillRecentMenu();
  void ShowError(const QString& text);
  void OnLogLine(const QString& line);
  void OnValueRefused(int controlId, const QString& message);
  void RevalidateMarks();
  void OnCommandStarting(CLumetDlg::Command command);
  void TitleViewersAfter(CLumetDlg::Command command, bool ok);
  void OnCommandFinished(bool ok);
  void RecordRun();
  void FillCompareLists();
  void OnPointer(ViewerPane* pane, QPointF at, bool inside);
  void ShowZoom(ViewerPane* pane);
  void OnSaveRequested(ViewerPane* pane, bool result);
  bool SavePicture(const QImage& picture, const QString& path);
  QString AskSavePath(const QString& title, const QString& suggestion);
  void ClickCommand(int id);
  void StartRun();
  void CancelRunning();
  bool AskReset(const QString& changes);
  static QLabel* MakeHint(const QString& text);

  CLumetDlg* dialog_ = nullptr;
  QString folder_;
  QString framesFolder_;
  QDockWidget* controlsDock_ = nullptr;
  QMainWindow* viewerHost_ = nullptr;  // the viewers' docks
  QScrollArea* controlsScroll_ = nullptr;
  QDockWidget* docks_[2] = {};
  QWidget* areas_[2] = {};  // the docks' widgets: the pane (or a hint) below its bar
  QPointer<ViewerPane> activePane_;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QLabel* pointerLabel_ = nullptr;
  QLabel* zoomLabel_ = nullptr;

  QWidget* frameBar_ = nullptr;
  QSpinBox* frameSpin_ = nullptr;
  QSlider* frameSlider_ = nullptr;
  QLabel* frameCount_ = nullptr;
  QSpinBox* radiusSpin_ = nullptr;
  QWidget* compareBar_ = nullptr;
  QComboBox* compareLeft_ = nullptr;
  QComboBox* compareRight_ = nullptr;
  QComboBox* compareView_ = nullptr;
  QLabel* compareNote_ = nullptr;
  std::vector<RunResult> runs_;
  int shownRun_ = -1;   // the run on the right of the comparison
  int shownLeft_ = -1;  // and what is left of it (-1: frame 0)
  int shownBeforeCommand_ = -1, leftBeforeCommand_ = -1;  // the comparison a cancel brings back
  // param.txt as it was when the command started, put back when the command fails.
  std::optional<QByteArray> paramBefore_;

  ParamHistory* history_ = nullptr;

  // The actions, a declaration per menu: File, Edit, Commands, View.
  QAction *openAction_ = nullptr, *openFolderAction_ = nullptr, *saveResultAction_ = nullptr,
          *exportVideoAction_ = nullptr;
  QAction *undoAction_ = nullptr, *redoAction_ = nullptr;
  QAction *commandActions_[4] = {}, *runAction_ = nullptr, *frameRunAction_ = nullptr, *cancelAction_ = nullptr;
  QAction* zoomActions_[4] = {};
  QMenu* recentMenu_ = nullptr;
  QMenu* viewMenu_ = nullptr;

  bool closePending_ = false;
  bool comparisonSized_ = false;  // the viewers' heights were set for the first comparison
  bool runPending_ = false;     // Run: the reconstruction follows a successful registration
  bool refusalMarked_ = false;  // the error line to come belongs to a field marked already
  bool cancelled_ = false;      // the last command logged "Cancelled"
  bool runCancelled_ = false;   // Esc or Cancel during the Run started last
  CLumetDlg::Command lastCommand_ = CLumetDlg::Command::ShowReference;
};

}  // namespace lumet
