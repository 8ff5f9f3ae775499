#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QDir>
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
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <optional>
#include <utility>

#include "app/dialog_units.h"
#include "app/field_marker.h"
#include "app/version_info_dlg.h"
#include "app/working_folder.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "view/raster_image.h"
#include "view/viewer_pane.h"
#include "workbench/frame_source.h"
#include "workbench/output_files.h"

namespace lumet {

namespace {

constexpr int kMaxRecent = 8;
// The dialog's field area without the progress row, which moves to the status bar.
constexpr int kEmbeddedWidth = 327;
constexpr int kEmbeddedHeight = 298;
constexpr int kCommandIds[4] = {1001, 1002, 1004, 1005};
constexpr int kButtonsRight = 117;  // dialog units: 4 short of the "Reconstruction Setting" box
constexpr int kLogMargin = 7;

const char* const kKeyGeometry = "window/geometry";
const char* const kKeyState = "window/state";
const char* const kKeyLastFolder = "folders/last";
const char* const kKeyRecent = "folders/recent";

QString Native(const QString& path) { return QDir::toNativeSeparators(path); }

QLabel* MakeHint(const QString& text) {
  auto* label = new QLabel(text);
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  label->setMargin(16);
  label->setStyleSheet(QStringLiteral("color: palette(mid);"));
  return label;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("Lumet"));
  setWindowIcon(QApplication::windowIcon());
  setAcceptDrops(true);
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks | QMainWindow::AllowNestedDocks);
  BuildActions();
  BuildDocks();
  placeholder_ = MakeHint(tr("No working folder yet.\n\nChoose one with File > Open Frames… or Open Folder…, "
                             "or drop a folder, a frame file or a video here."));
  placeholder_->setObjectName(QStringLiteral("noFolder"));
  setCentralWidget(placeholder_);
  statusBar()->setObjectName(QStringLiteral("statusBar"));
  resize(1180, 720);
  QSettings settings;
  restoreGeometry(settings.value(kKeyGeometry).toByteArray());
  restoreState(settings.value(kKeyState).toByteArray());
  SyncActions();
}

MainWindow::~MainWindow() {
  // The panes point into the dialog's parameter set; they go first.
  DropPanes();
}

void MainWindow::BuildActions() {
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
    const QString path = AskSavePath(QStringLiteral("result/hr.png"));
    if (!path.isEmpty()) SaveResultTo(path);
  });
  saveResultAction_->setObjectName(QStringLiteral("actionSaveResult"));
  saveResultAction_->setShortcuts(QKeySequence::SaveAs);
  file->addSeparator();
  QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
  quit->setObjectName(QStringLiteral("actionQuit"));
  quit->setShortcuts(QKeySequence::Quit);
  quit->setMenuRole(QAction::QuitRole);

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
      {"actionActualSize", tr("&Actual Size (1:1)"), {QKeySequence(Qt::CTRL | Qt::Key_0)}, &ViewerPane::ShowActualSize},
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

  QToolBar* tools = addToolBar(tr("Commands"));
  tools->setObjectName(QStringLiteral("commandsToolBar"));
  tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
  QMenu* commands = menuBar()->addMenu(tr("&Commands"));
  const QString commandTexts[4] = {tr("Show Reference"), tr("Registration LR Frames"), tr("Reconstruction"),
                                   tr("Init params")};
  for (int i = 0; i < 4; ++i) {
    QAction* action = new QAction(commandTexts[i], this);
    action->setObjectName(QStringLiteral("actionCommand%1").arg(kCommandIds[i]));
    connect(action, &QAction::triggered, this, [this, id = kCommandIds[i]] { ClickCommand(id); });
    tools->addAction(action);
    commands->addAction(action);
    commandActions_[i] = action;
  }
  view->addAction(tools->toggleViewAction());

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  QAction* about = help->addAction(tr("&About Lumet…"), this, [this] {
    CVersionInfoDlg dialog(this);
    dialog.exec();
  });
  about->setObjectName(QStringLiteral("actionAbout"));
  about->setShortcuts(QKeySequence::HelpContents);
  about->setMenuRole(QAction::AboutRole);
}

void MainWindow::BuildDocks() {
  const QString titles[2] = {tr("Reference"), tr("Frames")};
  const QString hints[2] = {tr("Show Reference shows frame 0 here: click to place the ROI, drag its edges to "
                               "resize it."),
                            tr("Registration shows the frames here; Reconstruction ends with a before/after "
                               "comparison.")};
  const char* names[2] = {"referenceDock", "frameDock"};
  for (int i = 0; i < 2; ++i) {
    auto* dock = new QDockWidget(titles[i], this);
    dock->setObjectName(QString::fromLatin1(names[i]));
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    dock->setWidget(MakeHint(hints[i]));
    dock->setMinimumSize(200, 150);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    docks_[i] = dock;
  }
  // Menu entries to bring a dock back after it was floated away.
  for (QDockWidget* dock : docks_) viewMenu_->addAction(dock->toggleViewAction());
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
  if (!QDir::setCurrent(folder)) {
    ShowError(tr("Cannot work in %1").arg(Native(folder)));
    return false;
  }
  folder_ = folder;
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
    dialog_->ApplyParams(values);
  }
  setWindowTitle(Native(folder_));
  RememberFolder(QDir::cleanPath(info.absoluteFilePath()));
  statusBar()->showMessage(tr("Working folder: %1").arg(Native(folder_)));
  emit folderOpened(folder_);
  return true;
}

void MainWindow::MakeDialog() {
  DropPanes();
  delete progress_;
  delete cancel_;
  auto* dialog = new CLumetDlg(this);
  dialog->setWindowFlags(Qt::Widget);
  dialog->SetViewerFactory(
      [this](Viewer viewer, const QString& title, const ScreenRect&) -> CImgWnd* { return MakePane(viewer, title); });
  // The progress bar and Cancel move to the status bar; the fields keep their layout.
  progress_ = dialog->findChild<QProgressBar*>(QStringLiteral("progress"));
  cancel_ = dialog->findChild<QPushButton*>(QStringLiteral("cancel"));
  progress_->setMinimumWidth(200);
  progress_->setMaximumWidth(320);
  statusBar()->addPermanentWidget(progress_);
  statusBar()->addPermanentWidget(cancel_);
  const DialogUnits du(dialog->font());
  // The fields keep their places; the log pane takes the height the window gives.
  dialog->setFixedWidth(du.X(kEmbeddedWidth));
  dialog->setMinimumHeight(du.Y(kEmbeddedHeight));
  dialog->setMaximumHeight(QWIDGETSIZE_MAX);
  dialog->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  // The command buttons grow to their texts where the font is wider than the template's,
  // up to the group box beside them.
  for (int id : kCommandIds) {
    if (QPushButton* button = dialog->findChild<QPushButton*>(QString::number(id))) {
      const int room = du.X(kButtonsRight) - button->x();
      button->resize(std::clamp(button->sizeHint().width(), button->width(), room), button->height());
    }
  }

  connect(dialog, &CLumetDlg::logAppended, this, &MainWindow::OnLogLine);
  connect(dialog, &CLumetDlg::valueRefused, this, &MainWindow::OnValueRefused);
  connect(dialog, &CLumetDlg::commandStarting, this, &MainWindow::OnCommandStarting);
  connect(dialog, &CLumetDlg::commandFinished, this, &MainWindow::OnCommandFinished);
  for (int id : kCommandIds) {
    if (QPushButton* button = dialog->findChild<QPushButton*>(QString::number(id))) button->installEventFilter(this);
  }
  cancel_->installEventFilter(this);
  dialog->installEventFilter(this);
  dialog_ = dialog;
  setCentralWidget(dialog);  // the previous dialog or the placeholder goes
  placeholder_ = nullptr;
  dialog->show();
  // What the start-up refused (a stored value out of range) is marked too.
  refusalMarked_ = false;
  for (const QString& line : dialog->LogText().split(u'\n')) OnLogLine(line);
  SyncActions();
}

ViewerPane* MainWindow::MakePane(Viewer viewer, const QString& title) {
  QDockWidget* dock = docks_[viewer == Viewer::Reference ? 0 : 1];
  auto* pane = new ViewerPane(dock, title);
  QWidget* hint = dock->widget();
  dock->setWidget(pane);
  delete hint;
  dock->setWindowTitle(title);
  connect(pane, &ViewerPane::activated, this, [this, pane] {
    activePane_ = pane;
    SyncActions();
  });
  connect(pane, &ViewerPane::saveRequested, this, [this, pane](bool result) { OnSaveRequested(pane, result); });
  // The dialog keeps the pane once this returns; the View menu can act on it from then on.
  QMetaObject::invokeMethod(this, &MainWindow::SyncActions, Qt::QueuedConnection);
  return pane;
}

void MainWindow::DropPanes() {
  const QString titles[2] = {tr("Reference"), tr("Frames")};
  for (int i = 0; i < 2; ++i) {
    if (docks_[i] == nullptr) continue;
    if (auto* pane = qobject_cast<ViewerPane*>(docks_[i]->widget())) {
      docks_[i]->setWidget(MakeHint(tr("No picture yet.")));
      delete pane;
      docks_[i]->setWindowTitle(titles[i]);
    }
  }
  activePane_ = nullptr;
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
  openAction_->setEnabled(!running);
  openFolderAction_->setEnabled(!running);
  recentMenu_->setEnabled(!running);
  ViewerPane* frame = Pane(Viewer::Frame);
  saveResultAction_->setEnabled(!running && frame != nullptr && frame->HasResult());
  const bool pane = ActivePane() != nullptr;
  for (QAction* action : zoomActions_) action->setEnabled(pane);
}

void MainWindow::ClickCommand(int id) {
  if (dialog_ == nullptr) return;
  if (QPushButton* button = dialog_->findChild<QPushButton*>(QString::number(id))) button->click();
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

void MainWindow::OnLogLine(const QString& line) {
  static const QString kError = QStringLiteral("Error: ");
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

void MainWindow::OnCommandStarting() {
  // The command's thread has not started: the list is this thread's to clear.
  dialog_->Bench().filesWritten.clear();
  statusBar()->clearMessage();
}

void MainWindow::OnCommandFinished(bool ok) {
  // The command's thread has ended: it wrote param.txt when it adopted the fields, then
  // the files it lists (also when it failed or was cancelled half-way).
  std::vector<std::string> written{kParamSavePath};
  const std::vector<std::string>& files = dialog_->Bench().filesWritten;
  written.insert(written.end(), files.begin(), files.end());
  const QString summary = QString::fromStdString(SummarizeFiles(written));
  dialog_->AppendLog("Wrote " + summary.toStdString());
  if (ok) statusBar()->showMessage(tr("Done. Wrote %1").arg(summary));
  SyncActions();
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

QString MainWindow::AskSavePath(const QString& suggestion) {
  return QFileDialog::getSaveFileName(this, tr("Save Picture As"), QDir(folder_).filePath(suggestion),
                                      tr("PNG (*.png);;BMP (*.bmp);;JPEG (*.jpg *.jpeg);;TIFF (*.tif *.tiff)"));
}

bool MainWindow::SaveResultTo(const QString& path) {
  ViewerPane* frame = Pane(Viewer::Frame);
  if (frame == nullptr || !frame->HasResult()) {
    ShowError(tr("There is no result to save yet: run Reconstruction first"));
    return false;
  }
  return SavePicture(RasterToQImage(frame->CompareImage()), path);
}

void MainWindow::OnSaveRequested(ViewerPane* pane, bool result) {
  const QString path = AskSavePath(result ? QStringLiteral("result/hr.png") : QStringLiteral("picture.png"));
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

void MainWindow::closeEvent(QCloseEvent* event) {
  // A running command is cancelled and waited for; the window closes when it has ended.
  if (dialog_ != nullptr && dialog_->CommandRunning()) {
    closePending_ = true;
    dialog_->CancelCommand();
    event->ignore();
    return;
  }
  QSettings settings;
  settings.setValue(kKeyGeometry, saveGeometry());
  settings.setValue(kKeyState, saveState());
  event->accept();
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
  if (dialog_ != nullptr && watched == dialog_ && event->type() == QEvent::Resize) {
    if (auto* log = dialog_->findChild<QWidget*>(QStringLiteral("1003"))) {
      const int bottom = dialog_->height() - DialogUnits(dialog_->font()).Y(kLogMargin);
      log->resize(log->width(), std::max(bottom - log->y(), log->minimumSizeHint().height()));
    }
  }
  if (dialog_ != nullptr && watched == dialog_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    // Inside the window Esc cancels a running command; it no longer ends the program.
    if (dialog_->CommandRunning()) dialog_->CancelCommand();
    return true;
  }
  if (event->type() == QEvent::EnabledChange) SyncActions();
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace lumet
