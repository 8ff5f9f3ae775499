// The main window's layout: the controls' dock, the viewer docks with the frame slider and
// the comparison choice, the status bar's read-outs, the runs kept and the window's place.
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QFile>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QScreen>
#include <QShowEvent>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dialog_controls.h"
#include "app/main_window.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "raster/dib_raster.h"
#include "view/raster_image.h"
#include "view/viewer_pane.h"
#include "params/param_file.h"
#include "workbench/frame_source.h"

namespace lumet {

namespace {

// The window opens at this size, or smaller on a small screen.
constexpr int kStartWidth = 1180;
constexpr int kStartHeight = 720;

const char* const kKeyGeometry = "window/geometry";
const char* const kKeyState = "window/state";
const char* const kKeyViewerState = "window/viewers";

int Index(Viewer viewer) { return viewer == Viewer::Reference ? 0 : 1; }

}  // namespace

QLabel* MainWindow::MakeHint(const QString& text) {
  auto* label = new QLabel(text);
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  label->setMargin(16);
  label->setMinimumSize(100, 60);
  label->setStyleSheet(QStringLiteral("color: palette(mid);"));
  return label;
}

void MainWindow::BuildDocks() {
  controlsDock_ = new QDockWidget(tr("Parameters"), this);
  controlsDock_->setObjectName(QStringLiteral("controlsDock"));
  controlsScroll_ = new QScrollArea(controlsDock_);
  controlsScroll_->setObjectName(QStringLiteral("controlsScroll"));
  controlsScroll_->setWidgetResizable(true);
  controlsScroll_->setFrameShape(QFrame::NoFrame);
  QLabel* placeholder = MakeHint(tr("No working folder yet.\n\nChoose one with File > Open Frames… or Open Folder…, "
                                    "or drop a folder, a frame file or a video here."));
  placeholder->setObjectName(QStringLiteral("noFolder"));
  controlsScroll_->setWidget(placeholder);
  controlsDock_->setWidget(controlsScroll_);
  controlsDock_->setMinimumWidth(140);
  addDockWidget(Qt::LeftDockWidgetArea, controlsDock_);

  // The viewers live in a window of their own in the middle: they take what the controls
  // leave, move and float among themselves, and the divider to the controls moves.
  viewerHost_ = new QMainWindow(this);
  viewerHost_->setObjectName(QStringLiteral("viewerHost"));
  viewerHost_->setWindowFlags(Qt::Widget);
  viewerHost_->setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks | QMainWindow::AllowNestedDocks);
  setCentralWidget(viewerHost_);
  const QString titles[2] = {tr("Reference"), tr("Frames")};
  const QString hints[2] = {tr("Frame 0 shows here: click to place the region of interest, drag its edges to "
                               "resize it."),
                            tr("The frames show here; the slider goes through them.")};
  const char* names[2] = {"referenceDock", "frameDock"};
  for (int i = 0; i < 2; ++i) {
    auto* dock = new QDockWidget(titles[i], this);
    dock->setObjectName(QString::fromLatin1(names[i]));
    auto* area = new QWidget(dock);
    area->setObjectName(QString::fromLatin1(names[i]) + QStringLiteral("Area"));
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    if (i == 0) layout->addWidget(BuildCompareBar());
    if (i == 1) layout->addWidget(BuildFrameBar());
    layout->addWidget(MakeHint(hints[i]), 1);
    dock->setWidget(area);
    dock->setMinimumSize(200, 120);
    viewerHost_->addDockWidget(Qt::TopDockWidgetArea, dock, Qt::Vertical);
    docks_[i] = dock;
    areas_[i] = area;
  }
  viewMenu_->addSeparator();
  // Fixed names: the docks' titles follow what the viewers show.
  const QString menuNames[3] = {tr("&Parameters"), tr("&Reference Viewer"), tr("&Frames Viewer")};
  QDockWidget* const all[3] = {controlsDock_, docks_[0], docks_[1]};
  for (int i = 0; i < 3; ++i) {
    QAction* own = all[i]->toggleViewAction();
    QAction* toggle = viewMenu_->addAction(menuNames[i]);
    toggle->setObjectName(QStringLiteral("actionShow") + all[i]->objectName());
    toggle->setCheckable(true);
    toggle->setChecked(own->isChecked());
    connect(toggle, &QAction::triggered, own, &QAction::trigger);
    connect(own, &QAction::toggled, toggle, &QAction::setChecked);
  }
}

QWidget* MainWindow::BuildFrameBar() {
  frameBar_ = new QWidget;
  frameBar_->setObjectName(QStringLiteral("frameBar"));
  auto* row = new QHBoxLayout(frameBar_);
  row->setContentsMargins(4, 2, 4, 2);
  row->addWidget(new QLabel(tr("Frame")));
  frameSpin_ = new QSpinBox;
  frameSpin_->setObjectName(QStringLiteral("frameSpin"));
  frameSpin_->setToolTip(tr("The frame shown in this viewer (0 is the reference)"));
  frameSlider_ = new QSlider(Qt::Horizontal);
  frameSlider_->setObjectName(QStringLiteral("frameSlider"));
  frameSlider_->setToolTip(frameSpin_->toolTip());
  frameSlider_->setMinimumWidth(60);
  frameCount_ = new QLabel;
  row->addWidget(frameSpin_);
  row->addWidget(frameSlider_, 1);
  row->addWidget(frameCount_);
  // The frame shown, super-resolved from the frames within the window around it. The radius
  // is the window's own setting: param.txt does not hold it.
  auto* radiusLabel = new QLabel(tr("Window \u00b1"));
  radiusSpin_ = new QSpinBox;
  radiusSpin_->setObjectName(QStringLiteral("radiusSpin"));
  radiusSpin_->setRange(1, 10);
  radiusSpin_->setValue(2);
  radiusSpin_->setToolTip(tr("Super-resolve This Frame uses the frames this many before and after the frame shown "
                             "(fewer at the ends of the sequence)"));
  radiusLabel->setToolTip(radiusSpin_->toolTip());
  radiusLabel->setBuddy(radiusSpin_);
  // The command's own button, in a word: the frame and the window are beside it.
  auto* superResolve = new QPushButton(tr("Super-resolve"));
  superResolve->setObjectName(QStringLiteral("superResolveFrameButton"));
  superResolve->setAutoDefault(false);
  const auto follow = [superResolve, action = frameRunAction_] {
    superResolve->setEnabled(action->isEnabled());
    superResolve->setToolTip(action->toolTip());
  };
  connect(frameRunAction_, &QAction::changed, superResolve, follow);
  follow();
  connect(superResolve, &QPushButton::clicked, frameRunAction_, &QAction::trigger);
  row->addSpacing(8);
  row->addWidget(radiusLabel);
  row->addWidget(radiusSpin_);
  row->addWidget(superResolve);
  connect(frameSpin_, &QSpinBox::valueChanged, frameSlider_, &QSlider::setValue);
  connect(frameSlider_, &QSlider::valueChanged, frameSpin_, &QSpinBox::setValue);
  connect(frameSpin_, &QSpinBox::valueChanged, this, [this](int k) { ShowFrame(k); });
  return frameBar_;
}

QWidget* MainWindow::BuildCompareBar() {
  compareBar_ = new QWidget;
  compareBar_->setObjectName(QStringLiteral("compareBar"));
  auto* column = new QVBoxLayout(compareBar_);
  column->setContentsMargins(4, 2, 4, 2);
  column->setSpacing(2);
  // Two rows, before over after: each list as wide as its longest name, the view and Flip
  // beside them.
  auto* rows = new QGridLayout;
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setHorizontalSpacing(6);
  rows->setVerticalSpacing(2);
  column->addLayout(rows);
  compareLeft_ = new QComboBox;
  compareLeft_->setObjectName(QStringLiteral("compareLeft"));
  compareLeft_->setToolTip(tr("Before (left of the wipe): frame 0 on the result's grid, or any run kept"));
  compareRight_ = new QComboBox;
  compareRight_->setObjectName(QStringLiteral("compareRight"));
  compareRight_->setToolTip(tr("After (right of the wipe): any run kept in this folder"));
  auto* beforeLabel = new QLabel(tr("Before"));
  beforeLabel->setBuddy(compareLeft_);
  auto* afterLabel = new QLabel(tr("After"));
  afterLabel->setBuddy(compareRight_);
  rows->addWidget(beforeLabel, 0, 0);
  rows->addWidget(compareLeft_, 0, 1);
  rows->addWidget(afterLabel, 1, 0);
  rows->addWidget(compareRight_, 1, 1);
  for (QComboBox* list : {compareLeft_, compareRight_}) {
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(list, &QComboBox::activated, this,
            [this] { Compare(compareLeft_->currentIndex() - 1, compareRight_->currentIndex()); });
  }
  compareView_ = new QComboBox;
  compareView_->setObjectName(QStringLiteral("compareView"));
  compareView_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  compareView_->addItems({tr("Wipe"), tr("Side by side"), tr("Difference")});
  compareView_->setToolTip(tr("Wipe: drag the line between the two. Side by side: the same part of both. "
                              "Difference: |before \u2212 after| \u00d7 %1 per channel.")
                               .arg(ViewerPane::kDifferenceGain));
  rows->addWidget(compareView_, 0, 2);
  connect(compareView_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (ViewerPane* pane = Pane(Viewer::Reference)) pane->SetCompareView(static_cast<ViewerPane::CompareView>(index));
  });
  auto* flip = new QToolButton;
  flip->setObjectName(QStringLiteral("flipButton"));
  flip->setText(tr("Flip"));
  flip->setToolTip(tr("Hold to see the before picture whole, in place (or click the picture and hold F)"));
  flip->setFocusPolicy(Qt::NoFocus);
  rows->addWidget(flip, 1, 2, Qt::AlignLeft);
  rows->setColumnStretch(3, 1);
  connect(flip, &QToolButton::pressed, this, [this] {
    if (ViewerPane* pane = Pane(Viewer::Reference)) pane->SetFlipped(true);
  });
  connect(flip, &QToolButton::released, this, [this] {
    if (ViewerPane* pane = Pane(Viewer::Reference)) pane->SetFlipped(false);
  });
  // Whole sentences, wrapped: nothing said here is cut off.
  compareNote_ = new QLabel;
  compareNote_->setObjectName(QStringLiteral("compareNote"));
  compareNote_->setWordWrap(true);
  compareNote_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  compareNote_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  compareNote_->installEventFilter(this);  // its height follows its width (eventFilter)
  column->addWidget(compareNote_);
  FillCompareLists();
  return compareBar_;
}

void MainWindow::BuildStatusBar() {
  statusBar()->setObjectName(QStringLiteral("statusBar"));
  pointerLabel_ = new QLabel;
  pointerLabel_->setObjectName(QStringLiteral("pointerInfo"));
  pointerLabel_->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("x 0000, y 0000: 255, 255, 255")));
  zoomLabel_ = new QLabel;
  zoomLabel_->setObjectName(QStringLiteral("zoomInfo"));
  zoomLabel_->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("Zoom 1000 %")));
  statusBar()->addPermanentWidget(pointerLabel_);
  statusBar()->addPermanentWidget(zoomLabel_);
  pointerLabel_->hide();  // shown while the pointer is over a picture
}

void MainWindow::PlaceInitially() {
  const QRect screen = QApplication::primaryScreen() != nullptr ? QApplication::primaryScreen()->availableGeometry()
                                                                 : QRect(0, 0, kStartWidth, kStartHeight);
  resize(std::min(kStartWidth, screen.width() * 9 / 10), std::min(kStartHeight, screen.height() * 9 / 10));
  QSettings settings;
  restoreGeometry(settings.value(kKeyGeometry).toByteArray());
  restoreState(settings.value(kKeyState).toByteArray());
  viewerHost_->restoreState(settings.value(kKeyViewerState).toByteArray());
  KeepOnScreen();
}

void MainWindow::KeepOnScreen() {
  // A size saved on a larger screen, or a place on a screen no longer there, is brought
  // onto the screen the window is (mostly) on, else the primary one.
  QScreen* on = QApplication::screenAt(frameGeometry().center());
  if (on == nullptr) on = QApplication::primaryScreen();
  if (on == nullptr) return;
  const QRect available = on->availableGeometry();
  const QSize extra = frameGeometry().size() - size();
  const QSize fitted(std::min(width(), available.width() - extra.width()),
                     std::min(height(), available.height() - extra.height()));
  if (fitted != size()) resize(fitted.expandedTo(minimumSizeHint()));
  QRect frame = frameGeometry();
  frame.moveLeft(std::clamp(frame.left(), available.left(), std::max(available.left(), available.right() - frame.width() + 1)));
  frame.moveTop(std::clamp(frame.top(), available.top(), std::max(available.top(), available.bottom() - frame.height() + 1)));
  if (frame.topLeft() != frameGeometry().topLeft()) move(frame.topLeft());
}

void MainWindow::FitDialog(CLumetDlg* dialog) {
  // The fields flow in one column that follows the dock's width (CLumetDlg::UseFlowingLayout);
  // the dock is never narrower than that column, so nothing is ever beside its visible part.
  const int chrome = controlsScroll_->verticalScrollBar()->sizeHint().width() + 2 * controlsScroll_->frameWidth() +
                     std::max(0, controlsDock_->width() - controlsScroll_->width()) + 2;
  const int smallest = dialog->minimumSizeHint().width() + chrome;
  controlsDock_->setMinimumWidth(smallest);
  // The controls start as wide as they like to be, but never take more than half the window.
  const int wanted = dialog->sizeHint().width() + chrome + 24;
  resizeDocks({controlsDock_}, {std::max(smallest, std::min(wanted, width() / 2))}, Qt::Horizontal);
}

void MainWindow::ShowOpenedSequence() {
  // Frame 0 at once: in the reference viewer with the ROI, and in the frame viewer.
  const ParamSet values = dialog_->Params();
  ColorGrayImage frame;
  int count = 0;
  try {
    FrameSource source(values.lrPattern, values.startIndex);
    source.Read(0, frame);
    count = std::max(1, source.CountFrames(std::max(values.lrCount, 0) + 1));
  } catch (const std::exception& error) {
    statusBar()->showMessage(tr("Frame 0 cannot be shown: %1").arg(QString::fromStdString(error.what())));
    return;
  }
  DibRaster picture(0);
  ImageToRaster(frame, picture);
  dialog_->CreateViewerWindow(Viewer::Reference, QStringLiteral("frame"), ScreenRect{0, 0, 300, 300});
  dialog_->CreateViewerWindow(Viewer::Frame, QStringLiteral("LR frames"), ScreenRect{300, 0, 600, 300});
  ViewerPane* ref = Pane(Viewer::Reference);
  ref->FitTo(picture.Width(), picture.Height());
  ref->SetMode(kModeRoiSelection);
  dialog_->AttachRoiTo(Viewer::Reference);
  ref->SetImage(picture);
  const QSignalBlocker blockSpin(frameSpin_), blockSlider(frameSlider_);
  frameSpin_->setRange(0, count - 1);
  frameSlider_->setRange(0, count - 1);
  frameSpin_->setValue(0);
  frameSlider_->setValue(0);
  frameCount_->setText(tr("of %1").arg(count - 1));
  ShowFrame(0);
}

bool MainWindow::ShowFrame(int k) {
  ViewerPane* pane = Pane(Viewer::Frame);
  if (pane == nullptr || dialog_ == nullptr || dialog_->CommandRunning()) return false;
  const ParamSet& values = dialog_->Params();
  ColorGrayImage frame;
  QString name;
  try {
    FrameSource source(values.lrPattern, values.startIndex);
    source.Read(k, frame);
    name = QString::fromStdString(source.Name(k));
  } catch (const std::exception& error) {
    statusBar()->showMessage(QStringLiteral("Error: ") + QString::fromStdString(error.what()));
    return false;
  }
  DibRaster picture(0);
  ImageToRaster(frame, picture);
  pane->SetSplitPictures(QImage(), QImage(), QString(), QString());
  // As a new frame viewer: the ROI shows once the registration attaches it. It is placed
  // on frame 0 alone; on another frame it shows where it lies but does not move.
  pane->SetMode(kModeRoiSelection);
  pane->SetRoiLocked(k != 0);
  pane->SetImage(picture);
  pane->setWindowTitle(tr("Frame %1: %2").arg(k).arg(name));
  if (frameSpin_->value() != k) frameSpin_->setValue(k);
  SyncActions();
  return true;
}

ViewerPane* MainWindow::MakePane(Viewer viewer, const QString& title) {
  QDockWidget* dock = docks_[Index(viewer)];
  QWidget* area = areas_[Index(viewer)];
  auto* pane = new ViewerPane(area, title);
  auto* layout = static_cast<QVBoxLayout*>(area->layout());
  QLayoutItem* hint = layout->takeAt(layout->count() - 1);
  delete hint->widget();
  delete hint;
  layout->addWidget(pane, 1);
  dock->setWindowTitle(title);
  connect(pane, &ViewerPane::activated, this, [this, pane] {
    activePane_ = pane;
    ShowZoom(pane);
    SyncActions();
  });
  connect(pane, &ViewerPane::saveRequested, this, [this, pane](bool result) { OnSaveRequested(pane, result); });
  connect(pane, &ViewerPane::pointerMoved, this, [this, pane](QPointF at, bool inside) { OnPointer(pane, at, inside); });
  connect(pane, &ViewerPane::viewChanged, this, [this, pane] { ShowZoom(pane); });
  connect(pane, &ViewerPane::roiLockedPressed, this, [this] {
    statusBar()->showMessage(tr("The region of interest is placed on frame 0: move it in the Reference viewer, "
                                "or show frame 0 here"));
  });
  // The dialog keeps the pane once this returns; the View menu can act on it from then on.
  QMetaObject::invokeMethod(this, &MainWindow::SyncActions, Qt::QueuedConnection);
  return pane;
}

void MainWindow::DropPanes() {
  const QString titles[2] = {tr("Reference"), tr("Frames")};
  for (int i = 0; i < 2; ++i) {
    if (areas_[i] == nullptr) continue;
    auto* layout = static_cast<QVBoxLayout*>(areas_[i]->layout());
    auto* pane = qobject_cast<ViewerPane*>(layout->itemAt(layout->count() - 1)->widget());
    if (pane == nullptr) continue;
    layout->removeWidget(pane);
    delete pane;
    layout->addWidget(MakeHint(tr("No picture yet.")), 1);
    docks_[i]->setWindowTitle(titles[i]);
  }
  activePane_ = nullptr;
}

void MainWindow::RecordRun() {
  ViewerPane* frame = Pane(Viewer::Frame);
  if (frame == nullptr || frame->CompareImage().Empty()) return;
  RunResult run;
  run.values = dialog_->Bench().params;
  if (lastCommand_ == CLumetDlg::Command::FrameReconstruction) {
    run.reference = dialog_->FrameReference();
    run.radius = dialog_->FrameRadius();
  }
  // Numbers go on from the runs kept in the folder, this opening's and earlier ones'.
  run.number = NextRunNumber(run.values);
  for (const RunResult& kept : runs_) run.number = std::max(run.number, kept.number + 1);
  run.result = RasterToQImage(frame->CompareImage());
  run.before = AlignedFrame(run.values, run.reference);
  KeepRun(run);
  runs_.push_back(std::move(run));
  FillCompareLists();
  // The frame viewer goes back to the frames; the comparison is the large viewer's, and the
  // first one of an opening gives it two thirds of the height.
  ShowFrame(frameSpin_->value());
  if (!comparisonSized_ && !docks_[0]->isFloating() && !docks_[1]->isFloating()) {
    comparisonSized_ = true;
    const int both = docks_[0]->height() + docks_[1]->height();
    viewerHost_->resizeDocks({docks_[0], docks_[1]}, {both * 2 / 3, both - both * 2 / 3}, Qt::Vertical);
  }
  Compare(-1, static_cast<int>(runs_.size()) - 1);
}

void MainWindow::KeepRun(const RunResult& run) {
  // Beside the engine's own result (which stays as it wrote it), under the run's name.
  const QString picture = run.SuggestedFile(), params = run.ParamFile();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  try {
    if (!run.result.save(&buffer, "PNG")) throw Error(picture.toStdString() + ": the result cannot be encoded");
    WriteFileAtomically(picture.toStdString(), std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    const QByteArray text = run.ParamFileText();
    WriteFileAtomically(params.toStdString(), std::string_view(text.constData(), static_cast<size_t>(text.size())));
  } catch (const Error& error) {
    ShowError(QString::fromStdString(error.what()));
    return;
  }
  const auto named = [](const QString& file) { return QDir::toNativeSeparators(QStringLiteral("./") + file).toStdString(); };
  dialog_->AppendLog("Wrote " + named(picture) + ", " + named(params));
}

void MainWindow::FillCompareLists() {
  if (compareLeft_ == nullptr) return;
  const QSignalBlocker blockLeft(compareLeft_), blockRight(compareRight_);
  compareLeft_->clear();
  compareRight_->clear();
  compareLeft_->addItem(tr("Frame %1 (before)").arg(runs_.empty() ? 0 : runs_.back().reference));
  for (const RunResult& run : runs_) {
    compareLeft_->addItem(run.Label());
    compareRight_->addItem(run.Label());
  }
  compareBar_->setVisible(!runs_.empty());
  compareNote_->clear();
}

bool MainWindow::Compare(int left, int right) {
  ViewerPane* pane = Pane(Viewer::Reference);
  const int count = static_cast<int>(runs_.size());
  if (pane == nullptr || right < 0 || right >= count || left < -1 || left >= count) return false;
  const RunResult& after = runs_[static_cast<size_t>(right)];
  const auto shortName = [](const RunResult& run) { return tr("Run %1 (%2)").arg(run.number).arg(run.Method()); };
  QImage before, shown = after.result;
  QStringList note;
  if (left < 0) {
    before = after.before;
    if (before.isNull()) {
      note << tr("Frame %1 cannot be read now: the wipe shows %2 on both sides.").arg(after.reference).arg(shortName(after));
      before = after.result;
    }
  } else {
    const RunResult& a = runs_[static_cast<size_t>(left)];
    const ComparisonPair pair = CommonGrid(a, after);
    before = pair.before;
    shown = pair.after;
    QStringList differ = ParamDifferences(a.values, after.values);
    if (a.reference != after.reference || a.radius != after.radius) {
      differ.prepend(tr("reference: %1 \u2192 %2").arg(a.FrameText(), after.FrameText()));
    }
    note << (differ.isEmpty() ? tr("%1 and %2 have the same parameters.").arg(shortName(a), shortName(after))
                              : tr("%1 \u2192 %2 differ in %3.").arg(shortName(a), shortName(after), differ.join(QStringLiteral("; "))));
    if (pair.resampled) {
      const QString grid = tr("Both resampled onto the \u00d7%1 grid of ROI %2,%3 %4\u00d7%5")
                               .arg(pair.scale)
                               .arg(pair.area.left)
                               .arg(pair.area.top)
                               .arg(pair.area.Width())
                               .arg(pair.area.Height());
      note << (a.values.roi == after.values.roi ? grid + u'.'
                                                 : tr("%1, which holds both ROIs; where one does not reach, its side is "
                                                      "empty.").arg(grid));
    }
  }
  // The runs' own "before" is the frame the run on the right was made with.
  compareLeft_->setItemText(0, tr("Frame %1 (before)").arg(after.reference));
  pane->SetSplitPictures(before, shown, left < 0 ? tr("Before: frame %1").arg(after.reference) : shortName(runs_[static_cast<size_t>(left)]),
                         shortName(after));
  pane->SetMode(kModeComparison);
  pane->SetCompareView(static_cast<ViewerPane::CompareView>(std::max(0, compareView_->currentIndex())));
  shownRun_ = right;
  shownLeft_ = left;
  compareLeft_->setCurrentIndex(left + 1);
  compareRight_->setCurrentIndex(right);
  compareNote_->setText(note.join(u' '));
  compareNote_->setVisible(!note.isEmpty());
  pane->setWindowTitle(tr("Compare: %1 | %2").arg(left < 0 ? tr("frame %1 on the result's grid").arg(after.reference) : runs_[static_cast<size_t>(left)].Label(),
                                                  after.Label()));
  SyncActions();
  return true;
}

QString MainWindow::ComparisonNote() const { return compareNote_ == nullptr ? QString() : compareNote_->text(); }

void MainWindow::ClearComparisons() {
  // What a command shows next is its own: no split of earlier pictures stays over it.
  for (Viewer viewer : {Viewer::Reference, Viewer::Frame}) {
    ViewerPane* pane = Pane(viewer);
    if (pane == nullptr) continue;
    pane->SetFlipped(false);
    pane->SetSplitPictures(QImage(), QImage(), QString(), QString());
    if (pane->Mode() == kModeComparison) pane->SetMode(viewer == Viewer::Frame ? kModeRoiSelection : kModeDisplay);
  }
  if (compareNote_ != nullptr) {
    compareNote_->clear();
    compareNote_->hide();
  }
}

void MainWindow::TitleViewersBefore(CLumetDlg::Command command) {
  ViewerPane* ref = Pane(Viewer::Reference);
  ViewerPane* frame = Pane(Viewer::Frame);
  switch (command) {
    case CLumetDlg::Command::ShowReference:
      if (ref != nullptr) ref->setWindowTitle(tr("Frame 0: click or drag to place the region of interest"));
      break;
    case CLumetDlg::Command::Registration:
      if (ref != nullptr) ref->setWindowTitle(tr("Frame 0: the frames are registered against it"));
      if (frame != nullptr) frame->setWindowTitle(tr("Frames being registered"));
      break;
    case CLumetDlg::Command::Reconstruction:
      if (ref != nullptr) ref->setWindowTitle(tr("Reconstructing…"));
      if (frame != nullptr) frame->setWindowTitle(tr("Frame 0 enlarged (before)"));
      break;
    case CLumetDlg::Command::FrameReconstruction:
      if (ref != nullptr) ref->setWindowTitle(tr("Reconstructing frame %1…").arg(dialog_->FrameReference()));
      if (frame != nullptr) frame->setWindowTitle(tr("Frame %1 enlarged (before)").arg(dialog_->FrameReference()));
      break;
    case CLumetDlg::Command::VideoExport:
      // The viewers keep what they show: the export's frames go to its file, its lines to the log.
      break;
  }
}

void MainWindow::RestoreViewersAfterCancel(CLumetDlg::Command command) {
  // Nothing half-done stays: the frame viewer shows its frame again without marks, the
  // reference frame 0 without the registration's, or the comparison shown before.
  ViewerPane* ref = Pane(Viewer::Reference);
  if (ref == nullptr) return;
  ShowFrame(frameSpin_->value());
  if (command == CLumetDlg::Command::Reconstruction || command == CLumetDlg::Command::FrameReconstruction) {
    if (shownBeforeCommand_ >= 0 && shownBeforeCommand_ < static_cast<int>(runs_.size())) {
      Compare(leftBeforeCommand_, shownBeforeCommand_);
    } else {
      ref->setWindowTitle(tr("Reconstruction cancelled: what it had reached"));
    }
    return;
  }
  if (ref->HasPicture()) {
    const DibRaster picture = ref->Image();
    ref->SetImage(picture);  // a new picture drops the marks
  }
  ref->setWindowTitle(ref->Mode() == kModeRoiSelection ? tr("Frame 0: click or drag to place the region of interest")
                                                       : tr("Frame 0"));
}

void MainWindow::UpdateFrameRange() {
  // The slider spans the frames the fields name: frame 0 and the frames after it.
  if (dialog_ == nullptr || frameSpin_ == nullptr) return;
  const ParamSet values = dialog_->FieldValues();
  int count = 0;
  try {
    FrameSource source(values.lrPattern, values.startIndex);
    count = std::max(1, source.CountFrames(std::max(values.lrCount, 0) + 1));
  } catch (const std::exception&) {
    return;  // the commands say why the frames cannot be read
  }
  if (frameSpin_->maximum() == count - 1) return;
  const bool beyond = frameSpin_->value() > count - 1;
  {
    const QSignalBlocker blockSpin(frameSpin_), blockSlider(frameSlider_);
    frameSpin_->setRange(0, count - 1);
    frameSlider_->setRange(0, count - 1);
    frameSlider_->setValue(frameSpin_->value());
  }
  frameCount_->setText(tr("of %1").arg(count - 1));
  if (beyond) ShowFrame(frameSpin_->value());
}

bool MainWindow::RestoreParamFile() {
  // A failed command adopted the fields first and rewrote param.txt: it goes back.
  if (!paramBefore_) return false;
  const QByteArray before = *std::exchange(paramBefore_, std::nullopt);
  QFile file(QString::fromLatin1(kParamFileName));
  if (file.open(QIODevice::ReadOnly) && file.readAll() == before) return true;
  file.close();
  try {
    WriteFileAtomically(kParamSavePath, std::string_view(before.constData(), static_cast<size_t>(before.size())));
  } catch (const Error& error) {
    ShowError(QString::fromStdString(error.what()));
    return false;
  }
  return true;
}

void MainWindow::TitleViewersAfter(CLumetDlg::Command command, bool ok) {
  ViewerPane* ref = Pane(Viewer::Reference);
  if (ref == nullptr) return;
  const bool frameCommand = command == CLumetDlg::Command::FrameReconstruction;
  if (command != CLumetDlg::Command::Reconstruction && !frameCommand) {
    if (ref->Mode() == kModeRoiSelection) ref->setWindowTitle(tr("Frame 0: click or drag to place the region of interest"));
    ViewerPane* frame = Pane(Viewer::Frame);
    if (frame != nullptr && command == CLumetDlg::Command::Registration) {
      frame->setWindowTitle(ok ? tr("Frames: registered against frame 0") : tr("Frames: registration stopped"));
    }
    return;
  }
  if (!ok && !cancelled_) {
    ref->setWindowTitle(tr("Result: reconstruction stopped"));
    if (ViewerPane* frame = Pane(Viewer::Frame); frame != nullptr && frame->Mode() != kModeComparison) {
      frame->setWindowTitle(frameCommand ? tr("Frame %1 enlarged (before): reconstruction stopped").arg(dialog_->FrameReference())
                                         : tr("Frame 0 enlarged (before): reconstruction stopped"));
    }
  }
}

void MainWindow::OnPointer(ViewerPane* pane, QPointF at, bool inside) {
  if (inside && activePane_ != pane) {
    // The View menu acts on the pane under the pointer.
    activePane_ = pane;
    ShowZoom(pane);
  }
  QPoint pixel;
  QRgb colour = 0;
  if (!inside || !pane->PixelUnder(at, pixel, colour)) {
    // Off the pictures the read-out makes way for the status messages.
    pointerLabel_->clear();
    pointerLabel_->hide();
    return;
  }
  pointerLabel_->show();
  pointerLabel_->setText(tr("x %1, y %2: %3, %4, %5")
                             .arg(pixel.x())
                             .arg(pixel.y())
                             .arg(qRed(colour))
                             .arg(qGreen(colour))
                             .arg(qBlue(colour)));
  pointerLabel_->setToolTip(tr("Picture pixel under the pointer and its red, green and blue values"));
}

void MainWindow::ShowZoom(ViewerPane* pane) {
  zoomLabel_->setText(tr("Zoom %1 %").arg(std::lround(pane->Zoom() * 100)));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // However the window shrinks, the pictures keep at least half of it; the user may still
  // narrow the controls further, or hide them.
  if (controlsDock_ != nullptr && controlsDock_->isVisible() && !controlsDock_->isFloating() &&
      controlsDock_->width() > width() / 2) {
    resizeDocks({controlsDock_}, {width() / 2}, Qt::Horizontal);
  }
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The platform may place the window only now; a restored place is checked again.
  if (!event->spontaneous()) KeepOnScreen();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A running command is cancelled and waited for; the window closes when it has ended.
  if (dialog_ != nullptr && dialog_->CommandRunning()) {
    closePending_ = true;
    runPending_ = false;
    dialog_->CancelCommand();
    event->ignore();
    return;
  }
  QSettings settings;
  settings.setValue(kKeyGeometry, saveGeometry());
  settings.setValue(kKeyState, saveState());
  settings.setValue(kKeyViewerState, viewerHost_->saveState());
  event->accept();
}

}  // namespace lumet
