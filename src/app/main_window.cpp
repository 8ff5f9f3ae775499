#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollArea>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QToolBar>
#include <QUndoStack>
#include <algorithm>
#include <optional>
#include <utility>

#include "app/dialog_controls.h"
#include "app/field_marker.h"
#include "app/param_history.h"
#include "app/version_info_dlg.h"
#include "app/video_export.h"
#include "app/working_folder.h"
#include "params/param_file.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "view/raster_image.h"
#include "view/viewer_pane.h"
#include "workbench/frame_source.h"
#include "workbench/output_files.h"

namespace lumet {

namespace {

constexpr int kMaxRecent = 8;
constexpr int kCommandIds[4] = {1001, 1002, 1004, 1005};

const char* const kKeyLastFolder = "folders/last";
const char* const kKeyRecent = "folders/recent";

QString Native(const QString& path) { return QDir::toNativeSeparators(path); }

// Keeps an action's tool tip its text with its first shortcut, whatever the text becomes.
void ShowShortcutInToolTip(QAction* action) {
  const auto update = [action] {
    if (action->shortcut().isEmpty()) return;
    QString text = action->text();
    text.replace(QStringLiteral("&&"), QChar(1)).remove(u'&').replace(QChar(1), u'&');  // "&&" is a plain "&"
    const QString tip = QStringLiteral("%1 (%2)").arg(text, action->shortcut().toString(QKeySequence::NativeText));
    if (action->toolTip() != tip) action->setToolTip(tip);
  };
  QObject::connect(action, &QAction::changed, action, update);
  update();
}

QString CommandName(CLumetDlg::Command command) {
  switch (command) {
    case CLumetDlg::Command::ShowReference:
      return QCoreApplication::translate("lumet::MainWindow", "Show Reference");
    case CLumetDlg::Command::Registration:
      return QCoreApplication::translate("lumet::MainWindow", "Registration");
    case CLumetDlg::Command::FrameReconstruction:
      return QCoreApplication::translate("lumet::MainWindow", "Frame super-resolution");
    case CLumetDlg::Command::VideoExport:
      return QCoreApplication::translate("lumet::MainWindow", "Video export");
    case CLumetDlg::Command::Reconstruction:
      break;
  }
  return QCoreApplication::translate("lumet::MainWindow", "Reconstruction");
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), history_(new ParamHistory(this)) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("Lumet"));
  setWindowIcon(QApplication::windowIcon());
  setAcceptDrops(true);
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks | QMainWindow::AllowNestedDocks);
  BuildFileMenu();
  BuildEditMenu();
  BuildViewMenu();
  BuildCommands();
  BuildDocks();
  BuildStatusBar();
  PlaceInitially();
  for (QAction* action : findChildren<QAction*>()) ShowShortcutInToolTip(action);
  SyncActions();
}

MainWindow::~MainWindow() {
  // The panes point into the dialog's parameter set; they go first.
  disconnect(history_->Stack(), nullptr, this, nullptr);
  DropPanes();
}

void MainWindow::BuildFileMenu() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  openAction_ = file->addAction(tr("&Open Frames…"), this, [this] {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open Frames"), folder_,
        tr("Frames and videos (*.bmp *.png *.jpg *.jpeg *.tif *.tiff *.mp4 *.m4v *.mov *.avi *.mkv *.webm *.mpg "
           "*.mpeg);;All files (*)"));
    if (!path.isEmpty()) Open(path);
  });
  openAction_->setObjectName(QStringLiteral("actionOpen"));
  openAction_->setShortcuts(QKeySequence::Open);
  openAction_->setStatusTip(tr("Open a frame file or a video; its folder becomes the working folder"));
  openFolderAction_ = file->addAction(tr("Open &Folder…"), this, [this] {
    const QString path = QFileDialog::getExistingDirectory(this, tr("Open Folder"), folder_);
    if (!path.isEmpty()) Open(path);
  });
  openFolderAction_->setObjectName(QStringLiteral("actionOpenFolder"));
  openFolderAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  recentMenu_ = file->addMenu(tr("Open &Recent"));
  recentMenu_->setObjectName(QStringLiteral("menuRecent"));
  connect(recentMenu_, &QMenu::aboutToShow, this, &MainWindow::FillRecentMenu);
  file->addSeparator();
  saveResultAction_ = file->addAction(tr("&Save Result As…"), this, [this] {
    const QString path = AskSavePath(tr("Save Result As"), SuggestedResultFile());
    if (!path.isEmpty()) SaveResultTo(path);
  });
  saveResultAction_->setObjectName(QStringLiteral("actionSaveResult"));
  saveResultAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  saveResultAction_->setStatusTip(tr("Save the result shown on the right of the comparison"));
  exportVideoAction_ = file->addAction(tr("Export &Video…"), this, &MainWindow::ExportVideo);
  exportVideoAction_->setObjectName(QStringLiteral("actionExportVideo"));
  exportVideoAction_->setStatusTip(tr("Super-resolve every frame of the sequence from the frames within "
                                      "Window ± of it, into a video or numbered frames"));
  file->addSeparator();
  QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
  quit->setObjectName(QStringLiteral("actionQuit"));
  quit->setShortcuts(QKeySequence::Quit);
  quit->setMenuRole(QAction::QuitRole);
}

void MainWindow::BuildEditMenu() {
  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  QUndoStack* stack = history_->Stack();
  undoAction_ = edit->addAction(tr("&Undo"), this, [this, stack] {
    const QString text = stack->undoText();
    stack->undo();
    statusBar()->showMessage(tr("Undone: %1").arg(text));
  });
  undoAction_->setObjectName(QStringLiteral("actionUndo"));
  undoAction_->setShortcuts(QKeySequence::Undo);
  redoAction_ = edit->addAction(tr("&Redo"), this, [this, stack] {
    const QString text = stack->redoText();
    stack->redo();
    statusBar()->showMessage(tr("Redone: %1").arg(text));
  });
  redoAction_->setObjectName(QStringLiteral("actionRedo"));
  redoAction_->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  connect(stack, &QUndoStack::indexChanged, this, &MainWindow::SyncActions);
}

void MainWindow::BuildViewMenu() {
  QMenu* view = menuBar()->addMenu(tr("&View"));
  viewMenu_ = view;
  struct ZoomItem {
    const char* name;
    QString text;
    QList<QKeySequence> keys;
    void (ViewerPane::*call)();
  };
  const ZoomItem zoomItems[] = {
      {"actionZoomIn", tr("Zoom &In"), QKeySequence::keyBindings(QKeySequence::ZoomIn) << QKeySequence(Qt::CTRL | Qt::Key_Equal),
       &ViewerPane::ZoomIn},
      {"actionZoomOut", tr("Zoom &Out"), QKeySequence::keyBindings(QKeySequence::ZoomOut), &ViewerPane::ZoomOut},
      {"actionActualSize", tr("&Actual Size (100 %)"), {QKeySequence(Qt::CTRL | Qt::Key_0)}, &ViewerPane::ShowActualSize},
      {"actionFit", tr("&Fit"), {QKeySequence(Qt::CTRL | Qt::Key_9)}, &ViewerPane::FitToPane},
  };
  for (size_t i = 0; i < std::size(zoomItems); ++i) {
    const ZoomItem& item = zoomItems[i];
    QAction* action = view->addAction(item.text, this, [this, call = item.call] {
      if (ViewerPane* pane = ActivePane()) (pane->*call)();
    });
    action->setObjectName(QString::fromLatin1(item.name));
    action->setShortcuts(item.keys);
    zoomActions_[i] = action;
  }
  view->addSeparator();
}

void MainWindow::BuildCommands() {
  QToolBar* tools = addToolBar(tr("Commands"));
  tools->setObjectName(QStringLiteral("commandsToolBar"));
  tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
  QMenu* commands = menuBar()->addMenu(tr("&Commands"));
  const QKeySequence keys[4] = {QKeySequence(Qt::CTRL | Qt::Key_1), QKeySequence(Qt::CTRL | Qt::Key_2),
                                QKeySequence(Qt::CTRL | Qt::Key_3), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)};
  for (int i = 0; i < 4; ++i) {
    QAction* action = new QAction(CLumetDlg::CommandText(i), this);
    action->setObjectName(QStringLiteral("actionCommand%1").arg(kCommandIds[i]));
    action->setShortcut(keys[i]);
    connect(action, &QAction::triggered, this, [this, id = kCommandIds[i]] { ClickCommand(id); });
    if (i == 3) {
      commands->addSeparator();
      tools->addSeparator();
    }
    tools->addAction(action);
    commands->addAction(action);
    commandActions_[i] = action;
    if (i == 2) {
      runAction_ = new QAction(tr("&Run (Register, then Reconstruct)"), this);
      runAction_->setObjectName(QStringLiteral("actionRun"));
      runAction_->setIconText(tr("Run"));
      runAction_->setShortcuts({QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)});
      runAction_->setStatusTip(tr("Register the frames, then reconstruct, with the values shown"));
      connect(runAction_, &QAction::triggered, this, &MainWindow::StartRun);
      tools->addAction(runAction_);
      commands->addAction(runAction_);
      // Any frame as the reference: the one the Frames viewer shows, from the frames around it.
      frameRunAction_ = new QAction(tr("Super-resolve &This Frame"), this);
      frameRunAction_->setObjectName(QStringLiteral("actionSuperResolveFrame"));
      frameRunAction_->setIconText(tr("Run Frame"));
      frameRunAction_->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
      frameRunAction_->setStatusTip(tr("Reconstruct the frame the Frames viewer shows as the reference of the frames "
                                       "within Window \u00b1 of it, with the values shown"));
      connect(frameRunAction_, &QAction::triggered, this, &MainWindow::SuperResolveShownFrame);
      tools->addAction(frameRunAction_);
      commands->addAction(frameRunAction_);
      commands->addAction(exportVideoAction_);
    }
  }
  // Esc reaches the window wherever the focus is (or when nothing has it yet, right after
  // the window opened), and in the viewers' floating docks too.
  cancelAction_ = new QAction(tr("&Cancel the Running Command"), this);
  cancelAction_->setObjectName(QStringLiteral("actionCancel"));
  cancelAction_->setIconText(tr("Cancel"));
  cancelAction_->setShortcut(QKeySequence(Qt::Key_Escape));
  cancelAction_->setShortcutContext(Qt::ApplicationShortcut);
  cancelAction_->setEnabled(false);
  connect(cancelAction_, &QAction::triggered, this, &MainWindow::CancelRunning);
  commands->addSeparator();
  commands->addAction(cancelAction_);
  addAction(cancelAction_);
  viewMenu_->addAction(tools->toggleViewAction());
  // Fit and 100 % as buttons too: they act on the viewer last pointed at.
  QToolBar* zoom = addToolBar(tr("Zoom"));
  zoom->setObjectName(QStringLiteral("zoomToolBar"));
  zoom->setToolButtonStyle(Qt::ToolButtonTextOnly);
  const QString zoomTexts[4] = {tr("Zoom +"), tr("Zoom \u2212"), tr("100 %"), tr("Fit")};
  for (int i : {3, 2, 1, 0}) {
    zoomActions_[i]->setIconText(zoomTexts[i]);
    zoom->addAction(zoomActions_[i]);
  }
  viewMenu_->addAction(zoom->toggleViewAction());

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  QAction* about = help->addAction(tr("&About Lumet…"), this, [this] {
    CVersionInfoDlg dialog(this);
    dialog.exec();
  });
  about->setObjectName(QStringLiteral("actionAbout"));
  about->setShortcuts(QKeySequence::HelpContents);
  about->setMenuRole(QAction::AboutRole);
}

void MainWindow::Start(const QString& argument) {
  QSettings settings;
  const StartChoice choice =
      ChooseStartFolder(argument, QDir::currentPath(), QDir::homePath(), settings.value(kKeyLastFolder).toString());
  if (choice.source != StartSource::Ask) {
    Open(choice.path);
    return;
  }
  const QString chosen = askFolder ? askFolder()
                                   : QFileDialog::getExistingDirectory(this, tr("Choose the working folder"),
                                                                       QDir::homePath());
  if (!chosen.isEmpty()) Open(chosen);
}

bool MainWindow::Open(const QString& path) {
  if (dialog_ != nullptr && dialog_->CommandRunning()) {
    ShowError(tr("A command is running: cancel it or let it end before opening %1").arg(Native(path)));
    return false;
  }
  const QFileInfo info(path);
  if (!info.exists()) {
    ShowError(tr("%1 does not exist").arg(Native(path)));
    return false;
  }
  QString folder;
  std::optional<FrameFileChoice> frame;
  if (info.isDir()) {
    folder = QDir::cleanPath(info.absoluteFilePath());
  } else if (IsVideoName(path)) {
    if (info.fileName().contains(u'%')) {
      ShowError(tr("%1: a video's name cannot hold \"%\"; rename it first").arg(Native(path)));
      return false;
    }
    // Frame k of the sequence is frame k of the video, counted from its first.
    frame = FrameFileChoice{QDir::cleanPath(info.absolutePath()), QStringLiteral("./") + info.fileName(), 0};
    folder = frame->folder;
  } else {
    frame = ParseFrameFile(info.absoluteFilePath());
    if (!frame) {
      ShowError(tr("%1 has no frame number in its name").arg(Native(path)));
      return false;
    }
    folder = frame->folder;
  }
  QString framesFolder;
  if (!IsWritable(folder)) {
    // Nothing is written there: param.txt, the homographies and the results go to a
    // folder the user accepts, which reads the frames where they are.
    const QString proposed = ProposedResultsFolder(folder, QDir::homePath());
    const QString chosen = askResultsFolder ? askResultsFolder(folder, proposed) : AskResultsFolder(folder, proposed);
    if (chosen.isEmpty()) {
      statusBar()->showMessage(tr("%1 cannot be written to; nothing was opened").arg(Native(folder)));
      return false;
    }
    const QString results = QDir::cleanPath(QDir(chosen).absolutePath());
    if (!MoveToResultsFolder(folder, results, frame)) return false;
    framesFolder = folder;
    folder = results;
  }
  if (!QDir::setCurrent(folder)) {
    ShowError(tr("Cannot work in %1").arg(Native(folder)));
    return false;
  }
  folder_ = folder;
  framesFolder_ = framesFolder;
  MakeDialog();  // reads and rewrites param.txt of the folder
  if (frame) {
    ParamSet values = dialog_->Params();
    values.lrPattern = frame->lrPattern.toStdString();
    values.startIndex = frame->startIndex;
    try {
      values.lrCount = AutoLrCount(values);
    } catch (const Error& error) {
      // Too few frames: the count stays, and the log says what was found.
      dialog_->AppendLog(std::string("Error: ") + error.what());
    }
    // The stored ROI onto these frames before it is written with them.
    if (const std::optional<QSize> size = dialog_->FrameSizeOf(values)) {
      values.roi = CImgWnd::KeepInside(values.roi, size->width(), size->height());
    }
    dialog_->ApplyParams(values);
  }
  history_->Attach(dialog_);
  // The runs kept here before: compared like this opening's, numbered on from.
  runs_ = LoadKeptRuns(dialog_->Params());
  FillCompareLists();
  setWindowTitle(Native(folder_));
  RememberFolder(QDir::cleanPath(info.absoluteFilePath()));
  statusBar()->showMessage(framesFolder_.isEmpty()
                               ? tr("Working folder: %1").arg(Native(folder_))
                               : tr("Working folder: %1, reading the frames in %2").arg(Native(folder_), Native(framesFolder_)));
  ShowOpenedSequence();
  emit folderOpened(folder_);
  return true;
}

bool MainWindow::IsWritable(const QString& folder) const {
  if (folderWritable) return folderWritable(folder);
  // The permission bits do not tell (an administrator, a read-only mount): a file is made.
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".lumet-XXXXXX")));
  return probe.open();
}

QString MainWindow::AskResultsFolder(const QString& readOnly, const QString& proposed) {
  QMessageBox box(QMessageBox::Question, tr("Folder Cannot Be Written To"),
                  tr("%1 cannot be written to.").arg(Native(readOnly)), QMessageBox::Cancel, this);
  box.setInformativeText(tr("param.txt, the homographies and the results need a folder of their own; the frames are "
                            "still read from %1.\n\nKeep them in %2?")
                             .arg(Native(readOnly), Native(proposed)));
  QPushButton* use = box.addButton(tr("Use This Folder"), QMessageBox::AcceptRole);
  QPushButton* other = box.addButton(tr("Choose Another\u2026"), QMessageBox::ActionRole);
  box.setDefaultButton(use);
  box.exec();
  if (box.clickedButton() == use) return proposed;
  if (box.clickedButton() == other) {
    return QFileDialog::getExistingDirectory(this, tr("Folder for the Results"), QDir::homePath());
  }
  return QString();
}

bool MainWindow::MoveToResultsFolder(const QString& readOnly, const QString& results,
                                     std::optional<FrameFileChoice>& frame) {
  const QString inside = QDir::cleanPath(QDir(readOnly).absolutePath()) + u'/';
  if (results + u'/' == inside || results.startsWith(inside) || !QDir().mkpath(results) || !IsWritable(results)) {
    statusBar()->showMessage(tr("Error: %1 cannot hold the results either; nothing was opened").arg(Native(results)));
    return false;
  }
  if (frame) {
    frame->lrPattern = PatternFrom(frame->folder, frame->lrPattern);
    frame->folder = results;
  }
  const QString params = QDir(results).filePath(QString::fromLatin1(kParamFileName));
  if (QFileInfo::exists(params)) return true;  // an earlier opening's values
  // The read-only folder's values, the frames named from where they are.
  ParamSet values = InitParams();
  const QString stored = QDir(readOnly).filePath(QString::fromLatin1(kParamFileName));
  try {
    if (QFileInfo(stored).isFile()) LoadParams(stored.toStdString(), values);
    values.lrPattern = PatternFrom(readOnly, QString::fromStdString(values.lrPattern)).toStdString();
    SaveParams(params.toStdString(), values);
  } catch (const std::exception& error) {
    statusBar()->showMessage(tr("Error: %1").arg(QString::fromStdString(error.what())));
    return false;
  }
  return true;
}

void MainWindow::MakeDialog() {
  DropPanes();
  comparisonSized_ = false;
  runs_.clear();
  shownRun_ = -1;
  FillCompareLists();
  delete progress_;
  delete cancel_;
  auto* dialog = new CLumetDlg(this);
  dialog->setWindowFlags(Qt::Widget);
  dialog->SetViewerFactory(
      [this](Viewer viewer, const QString& title, const ScreenRect&) -> CImgWnd* { return MakePane(viewer, title); });
  dialog->confirmReset = [this](const QString& changes) { return AskReset(changes); };
  // The progress bar and Cancel move to the status bar; the fields keep their layout.
  progress_ = dialog->findChild<QProgressBar*>(QStringLiteral("progress"));
  cancel_ = dialog->findChild<QPushButton*>(QStringLiteral("cancel"));
  progress_->setMinimumWidth(160);
  progress_->setMaximumWidth(320);
  statusBar()->addPermanentWidget(progress_);
  statusBar()->addPermanentWidget(cancel_);
  dialog->UseFlowingLayout();

  connect(dialog, &CLumetDlg::logAppended, this, &MainWindow::OnLogLine);
  connect(dialog, &CLumetDlg::valueRefused, this, &MainWindow::OnValueRefused);
  connect(dialog, &CLumetDlg::commandStarting, this, &MainWindow::OnCommandStarting);
  connect(dialog, &CLumetDlg::commandFinished, this, &MainWindow::OnCommandFinished);
  connect(dialog, &CLumetDlg::roiKeptInside, this, [this](const QString& message) { statusBar()->showMessage(message); });
  connect(dialog, &CLumetDlg::fieldsEdited, this, [this](int key) {
    if (key == kIdLrCount || key == kIdLrPattern || key == kIdStartIndex) UpdateFrameRange();
  });
  if (QWidget* log = dialog->findChild<QWidget*>(QString::number(kIdLog))) {
    log->setToolTip(
        tr("<p><b>Register Frames</b>: <tt>MAE(k) = a-&gt;b</tt> is frame k's mean absolute difference from frame 0 "
           "in green (0 to 255) inside the region of interest, after the homography search (a) and after its "
           "refinement (b); lower is better.</p>"
           "<p><b>Reconstruct</b>: <tt>MAE(k) = e</tt> is frame k's mean absolute green difference from frame 0 on "
           "the high-resolution grid. <tt>Threshold(k/N) = v</tt>: v is the error at place k (counted from 0) of "
           "the N errors sorted ascending; frames are used in order up to the first whose error is above v.</p>"));
  }
  connect(dialog, &CLumetDlg::paramsReset, this, [this] {
    statusBar()->showMessage(tr("Parameters reset to their defaults: Edit > Undo (Ctrl+Z) brings them back"));
  });
  for (int i = 0; i < 4; ++i) {
    if (QPushButton* button = dialog->findChild<QPushButton*>(QString::number(kCommandIds[i]))) {
      button->installEventFilter(this);
      button->setToolTip(QStringLiteral("%1 (%2)").arg(button->toolTip(),
                                                       commandActions_[i]->shortcut().toString(QKeySequence::NativeText)));
    }
  }
  for (QLineEdit* field : dialog->findChildren<QLineEdit*>()) {
    field->installEventFilter(this);  // Ctrl+Z is the window's undo, not the field's
    connect(field, &QLineEdit::textChanged, this, &MainWindow::RevalidateMarks);
  }
  cancel_->installEventFilter(this);
  connect(cancel_, &QPushButton::clicked, this, [this] { runCancelled_ = true; });
  dialog->installEventFilter(this);
  dialog_ = dialog;
  controlsScroll_->setWidget(dialog);  // the previous dialog or the placeholder goes
  dialog->show();
  FitDialog(dialog);
  // What the start-up refused (a stored value out of range) is marked too.
  refusalMarked_ = false;
  for (const QString& line : dialog->LogText().split(u'\n')) OnLogLine(line);
  SyncActions();
}

ViewerPane* MainWindow::Pane(Viewer viewer) const {
  return dialog_ == nullptr ? nullptr : qobject_cast<ViewerPane*>(dialog_->ViewerWindow(viewer));
}

ViewerPane* MainWindow::ActivePane() const {
  if (activePane_ != nullptr) return activePane_;
  ViewerPane* frame = Pane(Viewer::Frame);
  if (frame != nullptr && frame->HasPicture()) return frame;
  return Pane(Viewer::Reference);
}

void MainWindow::SyncActions() {
  // Cancel is enabled exactly while a command runs (from before its thread starts).
  const bool running = dialog_ != nullptr && (dialog_->CommandRunning() || (cancel_ != nullptr && cancel_->isEnabled()));
  for (int i = 0; i < 4; ++i) {
    QPushButton* button =
        dialog_ == nullptr ? nullptr : dialog_->findChild<QPushButton*>(QString::number(kCommandIds[i]));
    commandActions_[i]->setEnabled(button != nullptr && button->isEnabled());
  }
  runAction_->setEnabled(dialog_ != nullptr && !running);
  frameRunAction_->setEnabled(dialog_ != nullptr && !running && Pane(Viewer::Frame) != nullptr);
  exportVideoAction_->setEnabled(dialog_ != nullptr && !running && Pane(Viewer::Frame) != nullptr);
  cancelAction_->setEnabled(running);
  openAction_->setEnabled(!running);
  openFolderAction_->setEnabled(!running);
  recentMenu_->setEnabled(!running);
  saveResultAction_->setEnabled(!running && (!runs_.empty() || (Pane(Viewer::Frame) != nullptr && Pane(Viewer::Frame)->HasResult())));
  if (compareBar_ != nullptr) compareBar_->setEnabled(!running);
  const bool pane = ActivePane() != nullptr;
  for (QAction* action : zoomActions_) action->setEnabled(pane);
  QUndoStack* stack = history_->Stack();
  undoAction_->setEnabled(!running && stack->canUndo());
  redoAction_->setEnabled(!running && stack->canRedo());
  undoAction_->setText(stack->canUndo() ? tr("&Undo %1").arg(stack->undoText()) : tr("&Undo"));
  redoAction_->setText(stack->canRedo() ? tr("&Redo %1").arg(stack->redoText()) : tr("&Redo"));
  if (frameBar_ != nullptr) frameBar_->setEnabled(!running && Pane(Viewer::Frame) != nullptr);
}

void MainWindow::ClickCommand(int id) {
  if (dialog_ == nullptr) return;
  if (QPushButton* button = dialog_->findChild<QPushButton*>(QString::number(id))) button->click();
}

void MainWindow::CancelRunning() {
  if (dialog_ == nullptr || !dialog_->CommandRunning()) return;
  // A Run stops too, even when its registration ends before it hears the request.
  runCancelled_ = true;
  dialog_->CancelCommand();
}

void MainWindow::StartRun() {
  if (dialog_ == nullptr || dialog_->CommandRunning()) return;
  runPending_ = true;
  runCancelled_ = false;
  if (!dialog_->StartCommand(CLumetDlg::Command::Registration)) {
    runPending_ = false;
    emit runFinished(false);
  }
}

bool MainWindow::SuperResolveShownFrame() {
  if (dialog_ == nullptr || dialog_->CommandRunning() || Pane(Viewer::Frame) == nullptr) return false;
  return dialog_->StartFrameCommand(frameSpin_->value(), radiusSpin_->value());
}

std::optional<MainWindow::VideoExportChoice> MainWindow::AskVideoExport() {
  if (askVideoExport) return askVideoExport();
  const QString chosen = QFileDialog::getSaveFileName(
      this, tr("Export Video"), QStringLiteral("result/sr.mkv"),
      tr("Lossless video (*.mkv);;H.264 video (*.mp4);;Numbered PNG frames (*.png);;Numbered BMP frames (*.bmp)"));
  if (chosen.isEmpty()) return std::nullopt;
  const RoiRect roi = dialog_->Params().roi;
  QMessageBox box(QMessageBox::Question, tr("Export Video"), tr("What should each output frame show?"),
                  QMessageBox::Cancel, this);
  QPushButton* region = box.addButton(tr("The ROI (%1, %2, %3 × %4)")
                                          .arg(roi.left).arg(roi.top).arg(roi.Width()).arg(roi.Height()),
                                      QMessageBox::AcceptRole);
  QPushButton* whole = box.addButton(tr("The Whole Frame"), QMessageBox::AcceptRole);
  box.setDefaultButton(region);
  box.exec();
  if (box.clickedButton() != region && box.clickedButton() != whole) return std::nullopt;
  return VideoExportChoice{chosen, box.clickedButton() == whole};
}

bool MainWindow::ExportVideo() {
  if (dialog_ == nullptr || dialog_->CommandRunning() || Pane(Viewer::Frame) == nullptr) return false;
  const std::optional<VideoExportChoice> choice = AskVideoExport();
  if (!choice) return false;
  // Names relative to the working folder stay so: the commands run in it.
  QString output = QDir(folder_).relativeFilePath(QFileInfo(choice->output).absoluteFilePath());
  if (output.startsWith(QStringLiteral(".."))) output = QFileInfo(choice->output).absoluteFilePath();
  return dialog_->StartVideoExport(VideoExportOutput(output.toStdString()), radiusSpin_->value(), choice->wholeFrame);
}

bool MainWindow::AskReset(const QString& changes) {
  if (confirmReset) return confirmReset(changes);
  QMessageBox box(QMessageBox::Question, tr("Reset Parameters"),
                  tr("Put every parameter back to its default? This changes:"), QMessageBox::Cancel, this);
  box.setInformativeText(changes + tr("\n\nEdit > Undo (Ctrl+Z) brings the values back."));
  QPushButton* reset = box.addButton(tr("Reset"), QMessageBox::AcceptRole);
  box.setDefaultButton(QMessageBox::Cancel);
  box.exec();
  activateWindow();  // the keys (Ctrl+Z) come back to the window
  return box.clickedButton() == reset;
}

void MainWindow::RememberFolder(const QString& opened) {
  QSettings settings;
  settings.setValue(kKeyLastFolder, folder_);
  QStringList recent = settings.value(kKeyRecent).toStringList();
  recent.removeAll(opened);
  recent.prepend(opened);
  while (recent.size() > kMaxRecent) recent.removeLast();
  settings.setValue(kKeyRecent, recent);
}

void MainWindow::FillRecentMenu() {
  recentMenu_->clear();
  const QStringList recent = QSettings().value(kKeyRecent).toStringList();
  for (const QString& path : recent) {
    if (!QFileInfo::exists(path)) continue;
    recentMenu_->addAction(Native(path), this, [this, path] { Open(path); });
  }
  if (recentMenu_->isEmpty()) recentMenu_->addAction(tr("(none)"))->setEnabled(false);
  recentMenu_->addSeparator();
  recentMenu_->addAction(tr("Clear Menu"), this, [] { QSettings().remove(kKeyRecent); });
}

void MainWindow::ShowError(const QString& text) {
  if (dialog_ != nullptr) {
    dialog_->AppendLog("Error: " + text.toStdString());  // OnLogLine puts it in the status bar
  } else {
    statusBar()->showMessage(QStringLiteral("Error: ") + text);
  }
}

void MainWindow::OnValueRefused(int controlId, const QString& message) {
  if (controlId == 0) return;
  MarkRefusedField(dialog_->findChild<QLineEdit*>(QString::number(controlId)), message);
  refusalMarked_ = true;
}

void MainWindow::RevalidateMarks() {
  if (dialog_ == nullptr) return;
  std::optional<QSize> frame;
  const ParamSet values = dialog_->FieldValues();
  if (const auto known = dialog_->FrameSizeOf(values)) frame = known;
  for (QLineEdit* field : dialog_->findChildren<QLineEdit*>()) {
    // A text that is not an acceptable number keeps the mark its typing gave it.
    if (IsMarkedRefused(field) && field->hasAcceptableInput() && FieldValueValid(field->objectName().toInt(), values, frame)) ClearRefusedMark(field);
  }
}

void MainWindow::OnLogLine(const QString& line) {
  static const QString kError = QStringLiteral("Error: ");
  if (line.startsWith(QStringLiteral("Warning:"))) statusBar()->showMessage(line);
  if (line == QStringLiteral("Cancelled")) {
    cancelled_ = true;
    statusBar()->showMessage(tr("Cancelled"));
  }
  if (!line.startsWith(kError)) return;
  statusBar()->showMessage(line);
  // A refused parameter has marked its own field; other errors are traced by what they name.
  if (std::exchange(refusalMarked_, false)) return;
  const QString message = line.mid(kError.size());
  const QString pattern = QString::fromStdString(dialog_->Params().lrPattern);
  for (int id : FieldsNamedBy(message, pattern)) {
    MarkRefusedField(dialog_->findChild<QLineEdit*>(QString::number(id)), message);
  }
}

void MainWindow::OnCommandStarting(CLumetDlg::Command command) {
  // The command's thread has not started: the list is this thread's to clear.
  dialog_->Bench().filesWritten.clear();
  lastCommand_ = command;
  cancelled_ = false;
  paramBefore_.reset();
  if (QFile file(QString::fromLatin1(kParamFileName)); file.open(QIODevice::ReadOnly)) paramBefore_ = file.readAll();
  // The pictures and titles of the last command give way to this one's.
  shownBeforeCommand_ = shownRun_;
  leftBeforeCommand_ = shownLeft_;
  ClearComparisons();
  // What the command shows in the frame viewer may be any frame: its ROI stays put until
  // frame 0 is shown there again.
  if (ViewerPane* frame = Pane(Viewer::Frame)) frame->SetRoiLocked(true);
  TitleViewersBefore(command);
  statusBar()->showMessage(tr("%1…").arg(CommandName(command)));
}

void MainWindow::OnCommandFinished(bool ok) {
  // The command's thread has ended: it wrote param.txt when it adopted the fields, then
  // the files it lists (also when it failed or was cancelled half-way).
  // A command that failed leaves param.txt as it found it (a cancelled one ran on values
  // that were accepted, and keeps them).
  const bool restored = !ok && !cancelled_ && RestoreParamFile();
  paramBefore_.reset();
  std::vector<std::string> written;
  if (!restored) written.push_back(kParamSavePath);
  const std::vector<std::string>& files = dialog_->Bench().filesWritten;
  written.insert(written.end(), files.begin(), files.end());
  const QString summary = written.empty() ? QString() : QString::fromStdString(SummarizeFiles(written));
  if (!written.empty()) dialog_->AppendLog("Wrote " + summary.toStdString());
  if (ok) {
    // The values the command ran on are good: no field stays marked.
    for (QLineEdit* field : dialog_->findChildren<QLineEdit*>()) ClearRefusedMark(field);
    const size_t before = runs_.size();
    if (lastCommand_ == CLumetDlg::Command::Reconstruction || lastCommand_ == CLumetDlg::Command::FrameReconstruction) {
      RecordRun();
    }
    if (runs_.size() > before) {
      statusBar()->showMessage(tr("%1 done: Run %2, kept as %3. Wrote %4")
                                   .arg(CommandName(lastCommand_))
                                   .arg(runs_.back().number)
                                   .arg(Native(runs_.back().SuggestedFile()), summary));
    } else {
      statusBar()->showMessage(tr("%1 done. Wrote %2").arg(CommandName(lastCommand_), summary));
    }
  } else if (cancelled_) {
    statusBar()->showMessage(tr("%1 cancelled").arg(CommandName(lastCommand_)));
  }
  if (cancelled_) {
    RestoreViewersAfterCancel(lastCommand_);
  } else {
    TitleViewersAfter(lastCommand_, ok);
  }
  UpdateFrameRange();
  const bool chain = std::exchange(runPending_, false);
  if (chain && ok && lastCommand_ == CLumetDlg::Command::Registration && !closePending_ && !runCancelled_) {
    runPending_ = true;
    QMetaObject::invokeMethod(this, [this] {
      if (dialog_ == nullptr || !dialog_->StartCommand(CLumetDlg::Command::Reconstruction)) {
        runPending_ = false;
        emit runFinished(false);
      }
    }, Qt::QueuedConnection);
  } else if (chain) {
    emit runFinished(ok && lastCommand_ == CLumetDlg::Command::Reconstruction);
  }
  SyncActions();
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

QString MainWindow::AskSavePath(const QString& title, const QString& suggestion) {
  return QFileDialog::getSaveFileName(this, title, QDir(folder_).filePath(suggestion),
                                      tr("PNG (*.png);;BMP (*.bmp);;JPEG (*.jpg *.jpeg);;TIFF (*.tif *.tiff)"));
}

QString MainWindow::SuggestedResultFile() const {
  if (shownRun_ >= 0 && shownRun_ < static_cast<int>(runs_.size())) return runs_[static_cast<size_t>(shownRun_)].SuggestedFile();
  return QStringLiteral("result/hr.png");
}

bool MainWindow::SaveResultTo(const QString& path) {
  if (shownRun_ >= 0 && shownRun_ < static_cast<int>(runs_.size())) {
    return SavePicture(runs_[static_cast<size_t>(shownRun_)].result, path);
  }
  ViewerPane* frame = Pane(Viewer::Frame);
  if (frame == nullptr || !frame->HasResult() || frame->CompareImage().Empty()) {
    ShowError(tr("There is no result to save yet: run Reconstruction first"));
    return false;
  }
  return SavePicture(RasterToQImage(frame->CompareImage()), path);
}

void MainWindow::OnSaveRequested(ViewerPane* pane, bool result) {
  const QString path = result ? AskSavePath(tr("Save Result As"), SuggestedResultFile())
                              : AskSavePath(tr("Save Picture As"), QStringLiteral("picture.png"));
  if (path.isEmpty()) return;
  if (result) {
    SaveResultTo(path);
  } else {
    SavePicture(RasterToQImage(pane->Image()), path);
  }
}

bool MainWindow::SavePicture(const QImage& picture, const QString& path) {
  QString target = path;
  if (QFileInfo(target).suffix().isEmpty()) target += QStringLiteral(".png");
  const QByteArray format = QFileInfo(target).suffix().toLower().toLatin1();
  if (!QImageWriter::supportedImageFormats().contains(format == "jpg" ? QByteArray("jpeg") : format)) {
    ShowError(tr("%1: the picture format \"%2\" is not known").arg(Native(target), QString::fromLatin1(format)));
    return false;
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(picture)) {
    ShowError(tr("%1: %2").arg(Native(target), writer.errorString()));
    return false;
  }
  try {
    WriteFileAtomically(target.toStdString(), std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  } catch (const Error& error) {
    ShowError(QString::fromStdString(error.what()));
    return false;
  }
  if (dialog_ != nullptr) dialog_->AppendLog("Wrote " + Native(target).toStdString());
  statusBar()->showMessage(tr("Saved %1").arg(Native(target)));
  return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.first().isLocalFile() && QFileInfo::exists(urls.first().toLocalFile()) &&
      !(dialog_ != nullptr && dialog_->CommandRunning())) {
    event->acceptProposedAction();
  }
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  Open(urls.first().toLocalFile());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  const bool key = event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress;
  if (key && qobject_cast<QLineEdit*>(watched) != nullptr) {
    // The fields' own undo would bypass the window's steps: the keys are Edit's.
    const auto* press = static_cast<QKeyEvent*>(event);
    const bool redo = press->matches(QKeySequence::Redo) ||
                      press->keyCombination() == QKeyCombination(Qt::CTRL | Qt::SHIFT, Qt::Key_Z);
    if (redo || press->matches(QKeySequence::Undo)) {
      QAction* action = redo ? redoAction_ : undoAction_;
      if (event->type() == QEvent::KeyPress && action->isEnabled()) action->trigger();
      return true;
    }
  }
  if (dialog_ != nullptr && watched == dialog_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    // Inside the window Esc cancels a running command; it no longer ends the program.
    CancelRunning();
    return true;
  }
  if (event->type() == QEvent::EnabledChange) SyncActions();
  if (watched == compareNote_ && event->type() == QEvent::Resize) {
    // A wrapped note as tall as its lines at its width: nothing it says is cut off.
    const int wanted = compareNote_->heightForWidth(compareNote_->width());
    if (wanted > 0 && compareNote_->minimumHeight() != wanted) compareNote_->setMinimumHeight(wanted);
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace lumet
