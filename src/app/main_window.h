#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <functional>

#include "app/lumet_dlg.h"

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace lumet {

class ViewerPane;

// The application's window: the dialog's controls in the middle, the two viewers as docks
// beside them, a menu bar, a tool bar with the four commands and a status bar with the
// progress bar and Cancel.
//
// It works in one working folder at a time (the process's current folder, since every name
// in the parameters is relative to it). Opening a folder, a frame file or a video makes a
// fresh dialog there, which reads and rewrites that folder's param.txt; until a folder is
// chosen there is no dialog and nothing is read or written.
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

  // Writes the reconstruction shown in the comparison to path (format from its suffix).
  // False, with an "Error: " line, when there is no result or it cannot be written.
  bool SaveResultTo(const QString& path);

  // Asks the user for a folder when nothing else names one; tests replace it.
  std::function<QString()> askFolder;

  QAction* OpenAction() const { return openAction_; }
  QAction* SaveResultAction() const { return saveResultAction_; }

 signals:
  void folderOpened(const QString& folder);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildActions();
  void BuildDocks();
  void MakeDialog();
  ViewerPane* MakePane(Viewer viewer, const QString& title);
  void DropPanes();
  void SyncActions();
  void RememberFolder(const QString& opened);
  void FillRecentMenu();
  void ShowError(const QString& text);
  void OnLogLine(const QString& line);
  void OnValueRefused(int controlId, const QString& message);
  void OnCommandStarting();
  void OnCommandFinished(bool ok);
  void OnSaveRequested(ViewerPane* pane, bool result);
  bool SavePicture(const QImage& picture, const QString& path);
  QString AskSavePath(const QString& suggestion);
  void ClickCommand(int id);

  CLumetDlg* dialog_ = nullptr;
  QString folder_;
  QDockWidget* docks_[2] = {};
  QPointer<ViewerPane> activePane_;
  QLabel* placeholder_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;

  QAction* openAction_ = nullptr;
  QAction* openFolderAction_ = nullptr;
  QAction* saveResultAction_ = nullptr;
  QAction* commandActions_[4] = {};
  QAction* zoomActions_[4] = {};
  QMenu* recentMenu_ = nullptr;
  QMenu* viewMenu_ = nullptr;

  bool closePending_ = false;
  bool refusalMarked_ = false;  // the error line to come belongs to a field marked already
};

}  // namespace lumet
