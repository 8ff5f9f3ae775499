// The window as a new user meets it: the comparison on screen after a run, the ROI kept on
// the frame, marks and status messages, Init params with its question and undo, frame 0
// at once with a frame slider, the read-outs, plain words, runs kept for A/B, and the
// before picture on the result's grid.
#include <QComboBox>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QUndoStack>

#include "app/dialog_controls.h"
#include "app/field_help.h"
#include "app/field_marker.h"
#include "app/gui_port.h"
#include "app/param_history.h"
#include "app/run_results.h"
#include "app/viewer_titles.h"
#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "params/param_file.h"
#include "view/raster_image.h"
#include "window_test_support.h"

using namespace lumet;
using namespace lumet::apptest;

namespace {

// A click on a picture pixel of a pane.
void ClickPixel(ViewerPane& pane, QPointF pixel) {
  const QPointF at = pane.PictureToWidget(pixel + QPointF(0.5, 0.5));
  SendMouse(pane, QEvent::MouseButtonPress, at);
  SendMouse(pane, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

QImage FrameFile(int k) { return QImage(QStringLiteral("images/lr-%1.bmp").arg(k)).convertToFormat(QImage::Format_RGB32); }

bool RoiInside(const RoiRect& r, int width, int height) {
  return r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= height && r.right > r.left && r.bottom > r.top;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QSettings().clear(); }

  // The split must be on screen as soon as the reconstruction ends: read back what the
  // window's backing store holds, without asking for a fresh render.
  void ComparisonIsOnScreenWhenTheRunEnds() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QVERIFY(RunCommand(w.window, 1002));
    QVERIFY(RunCommand(w.window, 1004));
    QTest::qWait(100);  // the repaints that were asked for; nothing forces one
    ViewerPane& pane = w.Ref();  // the large viewer
    QCOMPARE(pane.Mode(), kModeComparison);
    const QImage screen = OnScreen(pane);
    const QImage result = QImage(QStringLiteral("result/hr.bmp")).convertToFormat(QImage::Format_RGB32);
    const RunResult& run = w.window.Runs().back();
    QCOMPARE(run.result, result);
    // Right of the split: the result; left: frame 0 on the result's grid. Pixel centres
    // away from the split line and its labels, where the two pictures differ.
    int checkedLeft = 0, checkedRight = 0;
    for (int y = result.height() / 2; y < result.height(); y += 3) {
      for (int x = 2; x < result.width() - 2; x += 3) {
        const QPointF at = pane.PictureToWidget(QPointF(x + 0.5, y + 0.5));
        if (std::abs(at.x() - pane.SplitX()) < 14) continue;
        const QRgb shown = PixelAt(screen, at);
        const QRgb expected = (at.x() < pane.SplitX() ? run.before : result).pixel(x, y);
        if (at.x() < pane.SplitX() && run.before.pixel(x, y) != result.pixel(x, y)) ++checkedLeft;
        if (at.x() > pane.SplitX() && run.before.pixel(x, y) != result.pixel(x, y)) ++checkedRight;
        QVERIFY2(shown == expected, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
      }
    }
    QVERIFY(checkedLeft > 20 && checkedRight > 20);
    QVERIFY(w.window.ViewerDock(Viewer::Reference)->windowTitle().startsWith(QStringLiteral("Compare: ")));
    // The frame viewer is back on its frame, without a split of its own.
    QCOMPARE(w.Frames().Mode(), kModeRoiSelection);
    QCOMPARE(RasterToQImage(w.Frames().Image()), FrameFile(0));
    QVERIFY(w.Frames().windowTitle().startsWith(QStringLiteral("Frame 0: ")));
  }

  // The same with the dialog alone, whose frame viewer only the commands change (no
  // title, no run list): the engine's comparison picture and mode must repaint it.
  void EngineComparisonRepaintsThePane() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path(), {60, 40, 100, 80});
    QWidget host;
    auto* row = new QHBoxLayout(&host);
    CLumetDlg dialog;
    dialog.SetViewerFactory([&](Viewer, const QString& title, const ScreenRect&) -> CImgWnd* {
      auto* pane = new ViewerPane(&host, title);
      row->addWidget(pane);
      return pane;
    });
    host.resize(900, 420);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    for (const auto command : {CLumetDlg::Command::Registration, CLumetDlg::Command::Reconstruction}) {
      QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
      QVERIFY(dialog.StartCommand(command));
      QVERIFY(finished.wait(120000) && finished.at(0).at(0).toBool());
    }
    QTest::qWait(100);
    auto* pane = qobject_cast<ViewerPane*>(dialog.frameViewer);
    QVERIFY(pane != nullptr && pane->Mode() == kModeComparison);
    const QImage screen = OnScreen(*pane);
    const QImage result = QImage(QStringLiteral("result/hr.bmp")).convertToFormat(QImage::Format_RGB32);
    const QImage first = QImage(QStringLiteral("result/first_lr.bmp")).convertToFormat(QImage::Format_RGB32);
    int differ = 0;
    for (int y = result.height() / 2; y < result.height(); y += 3) {
      for (int x = pane->SplitX() < 0 ? 0 : 2; x < result.width() - 2; x += 3) {
        const QPointF at = pane->PictureToWidget(QPointF(x + 0.5, y + 0.5));
        if (at.x() < pane->SplitX() + 14 || result.pixel(x, y) == first.pixel(x, y)) continue;
        QVERIFY2(PixelAt(screen, at) == result.pixel(x, y), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        ++differ;
      }
    }
    QVERIFY(differ > 20);
  }

  // A floating viewer repaints when its mode, comparison picture or title changes.
  void ViewerRepaintsOnModeCompareAndTitle() {
    CImgWnd viewer(nullptr, QStringLiteral("frame"), ScreenRect{0, 0, 60, 40});
    viewer.FitTo(60, 40);
    viewer.SetImage(Uniform(60, 40, 0x0000FF));
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    struct Counter : QObject {
      int paints = 0;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
      }
    } counter;
    viewer.installEventFilter(&counter);
    const std::function<void()> changes[] = {
        [&] { viewer.SetCompareImage(Uniform(60, 40, 0xFF0000)); },
        [&] { viewer.SetMode(kModeComparison); },
        [&] { viewer.setWindowTitle(QStringLiteral("Result")); },
    };
    for (const auto& change : changes) {
      QTest::qWait(20);
      const int before = counter.paints;
      change();
      QTRY_VERIFY(counter.paints > before);
    }
    // The same mode again asks for nothing.
    QTest::qWait(20);
    const int before = counter.paints;
    viewer.SetMode(kModeComparison);
    QTest::qWait(50);
    QCOMPARE(counter.paints, before);
  }

  void KeepInsideMovesTheRoiTheLeastWay() {
    struct Case {
      RoiRect in, out;
    };
    const Case cases[] = {
        {{-25, -24, 15, 16}, {0, 0, 40, 40}},      // the top-left corner
        {{281, 10, 321, 50}, {280, 10, 320, 50}},  // past the right edge of 320
        {{300, 220, 340, 260}, {280, 200, 320, 240}},
        {{10, 10, 50, 50}, {10, 10, 50, 50}},      // inside: unchanged
        {{-5, 10, 395, 50}, {-5, 10, 395, 50}},    // wider than the frame: x cannot fit
        {{-5, -7, 400, 30}, {-5, 0, 400, 37}},     // y still moves
    };
    for (const Case& c : cases) {
      QCOMPARE(CImgWnd::KeepInside(c.in, 320, 240), c.out);
    }
    QCOMPARE(CImgWnd::KeepInside({-5, -5, 5, 5}, 0, 0), (RoiRect{-5, -5, 5, 5}));  // no picture
  }

  // A click at each corner of frame 0 centres the ROI there as far as it can: it stays on
  // the frame with its size, the fields show it, and the status bar says it moved.
  void CornerClicksKeepTheRoiOnTheFrame() {
    OpenWindow w({60, 40, 100, 80});
    ViewerPane& ref = w.Ref();
    QVERIFY(ref.HasPicture() && ref.Mode() == kModeRoiSelection);
    const struct {
      QPointF pixel;
      RoiRect roi;
    } corners[] = {{{1, 1}, {0, 0, 40, 40}},
                   {{kWidth - 2, 1}, {kWidth - 40, 0, kWidth, 40}},
                   {{1, kHeight - 2}, {0, kHeight - 40, 40, kHeight}},
                   {{kWidth - 1, kHeight - 1}, {kWidth - 40, kHeight - 40, kWidth, kHeight}}};
    for (const auto& corner : corners) {
      w.window.statusBar()->clearMessage();
      ClickPixel(ref, corner.pixel);
      QCOMPARE(w.Dialog().Params().roi, corner.roi);
      QCOMPARE(Field(w.Dialog(), 1016)->text(), QString::number(corner.roi.left));
      QCOMPARE(Field(w.Dialog(), 1017)->text(), QString::number(corner.roi.top));
      QCOMPARE(Field(w.Dialog(), 1018)->text(), QStringLiteral("40"));
      QVERIFY2(w.Status().contains(QStringLiteral("moved")), qPrintable(w.Status()));
    }
    // In the middle nothing moves and nothing is said.
    w.window.statusBar()->clearMessage();
    ClickPixel(ref, {120, 80});
    QCOMPARE(w.Dialog().Params().roi, (RoiRect{100, 60, 140, 100}));
    QVERIFY(w.Status().isEmpty());
    // The run takes the ROI the click made.
    QVERIFY(RunCommand(w.window, 1002));
  }

  // Dragging the inside stops at the border; dragging an edge stops there too.
  void DraggedRoiStaysOnTheFrame() {
    OpenWindow w({60, 40, 100, 80});
    ViewerPane& ref = w.Ref();
    Drag(ref, ref.PictureToWidget({70, 50}), ref.PictureToWidget({-200, -300}));
    QCOMPARE(w.Dialog().Params().roi, (RoiRect{0, 0, 40, 40}));
    Drag(ref, ref.PictureToWidget({40, 20}), ref.PictureToWidget({kWidth + 50.0, 20}));  // the right edge
    QCOMPARE(w.Dialog().Params().roi, (RoiRect{0, 0, kWidth, 40}));
    QVERIFY(RoiInside(w.Dialog().Params().roi, kWidth, kHeight));
  }

  // A typed ROI past the edge moves onto the frame when the field is left; one larger than
  // the frame is refused before param.txt is written, by the command and by the window.
  void TypedRoiIsKeptOnTheFrameAndARefusalIsNeverWritten() {
    OpenWindow w({60, 40, 100, 80});
    QLineEdit* x = Field(w.Dialog(), 1016);
    x->setFocus();
    x->selectAll();
    QTest::keyClicks(x, QStringLiteral("230"));
    QTest::keyClick(x, Qt::Key_Return);
    QCOMPARE(w.Dialog().Params().roi, (RoiRect{kWidth - 40, 40, kWidth, 80}));
    QCOMPARE(x->text(), QString::number(kWidth - 40));
    QVERIFY(w.Status().contains(QStringLiteral("moved")));
    // Typed without leaving the field, then run: moved as well, and that is what is stored.
    Field(w.Dialog(), 1017)->setText(QStringLiteral("150"));
    QVERIFY(RunCommand(w.window, 1001));
    ParamSet stored = InitParams();
    ReadParamFile(kParamFileName, stored);
    QCOMPARE(stored.roi, (RoiRect{kWidth - 40, kHeight - 40, kWidth, kHeight}));
    // Wider than the frame: refused, w marked, param.txt untouched.
    const QByteArray before = ReadBytes(QStringLiteral("param.txt"));
    Field(w.Dialog(), 1018)->setText(QString::number(kWidth + 1));
    QVERIFY(!w.Dialog().StartCommand(CLumetDlg::Command::Registration));
    QVERIFY(IsMarkedRefused(Field(w.Dialog(), 1018)));
    QVERIFY2(w.Status().startsWith(QStringLiteral("Error: ROI")), qPrintable(w.Status()));
    QCOMPARE(ReadBytes(QStringLiteral("param.txt")), before);
    w.window.RunAction()->trigger();
    QVERIFY(!w.Dialog().CommandRunning());
    QCOMPARE(ReadBytes(QStringLiteral("param.txt")), before);
  }

  // Marks go when their value becomes valid, however it was fixed; the status bar follows
  // every command.
  void MarksClearWhenTheValueBecomesValid() {
    OpenWindow w({60, 40, 100, 80});
    Field(w.Dialog(), 1018)->setText(QStringLiteral("300"));
    Field(w.Dialog(), 1019)->setText(QStringLiteral("200"));
    QVERIFY(!w.Dialog().ReadControls());
    QVERIFY(IsMarkedRefused(Field(w.Dialog(), 1018)));
    // Fixed by typing the other field first: w stays marked until w itself is valid.
    Field(w.Dialog(), 1019)->setText(QStringLiteral("40"));
    QVERIFY(IsMarkedRefused(Field(w.Dialog(), 1018)));
    Field(w.Dialog(), 1018)->setText(QStringLiteral("40"));
    QVERIFY(!IsMarkedRefused(Field(w.Dialog(), 1018)));
    // A value out of range marked, then fixed by a click that writes the fields.
    Field(w.Dialog(), 1019)->setText(QStringLiteral("-5"));
    QVERIFY(!w.Dialog().ReadControls() && IsMarkedRefused(Field(w.Dialog(), 1019)));
    Field(w.Dialog(), 1019)->setText(QStringLiteral("40"));
    QVERIFY(!IsMarkedRefused(Field(w.Dialog(), 1019)));
    // A missing frame marks the frame files; a successful command takes every mark off
    // and says what it did instead of the old error.
    Field(w.Dialog(), 1007)->setText(QStringLiteral("./images/none-%d.bmp"));
    QVERIFY(!RunCommand(w.window, 1001));
    QVERIFY(IsMarkedRefused(Field(w.Dialog(), 1007)) && w.Status().startsWith(QStringLiteral("Error: ")));
    Field(w.Dialog(), 1007)->setText(QStringLiteral("./images/lr-%d.bmp"));
    QVERIFY(RunCommand(w.window, 1001));
    for (QLineEdit* field : w.Dialog().findChildren<QLineEdit*>()) QVERIFY(!IsMarkedRefused(field));
    QVERIFY2(w.Status().startsWith(QStringLiteral("Show Reference done")), qPrintable(w.Status()));
  }

  void StatusBarSaysCancelledAndShowsWarnings() {
    OpenWindow w({8, 8, 88, 72});  // hundreds of steps on a 240 x 192 grid
    QVERIFY(RunCommand(w.window, 1002));
    QSignalSpy finished(w.window.Dialog(), &CLumetDlg::commandFinished);
    w.window.findChild<QAction*>(QStringLiteral("actionCommand1004"))->trigger();
    QTest::keyClick(Field(w.Dialog(), 1009), Qt::Key_Escape);
    QVERIFY(finished.wait(120000));
    QCOMPARE(w.Status(), QStringLiteral("Reconstruction cancelled"));
    QVERIFY(w.Ref().windowTitle().contains(QStringLiteral("cancelled")));
    QVERIFY(w.Frames().windowTitle().startsWith(QStringLiteral("Frame 0: ")));
    // An engine's warning line shows there too.
    w.Dialog().AppendLog("Warning: frame 3 was left out: too few corner points\r\n");
    QCOMPARE(w.Status(), QStringLiteral("Warning: frame 3 was left out: too few corner points"));
    w.Dialog().AppendLog("MAE(1) = 1->2\r\n");  // ordinary lines leave it
    QVERIFY(w.Status().startsWith(QStringLiteral("Warning:")));
  }

  // Init params says what it will reset and asks; Ctrl+Z brings the values back and
  // rewrites param.txt with them, Ctrl+Shift+Z resets again.
  void InitParamsAsksAndUndoRestores() {
    OpenWindow w({60, 40, 100, 80});
    QString asked;
    bool answer = false;
    w.window.confirmReset = [&](const QString& changes) {
      asked = changes;
      return answer;
    };
    QComboBox* method = w.Dialog().findChild<QComboBox*>(QStringLiteral("1025"));
    method->setCurrentText(QStringLiteral("enhanced"));
    emit method->activated(method->currentIndex());
    QVERIFY(RunCommand(w.window, 1001));  // adopted: param.txt holds the enhanced method
    const QByteArray adopted = ReadBytes(QStringLiteral("param.txt"));
    const CLumetDlg::FieldState shown = w.Dialog().Snapshot();
    w.window.findChild<QAction*>(QStringLiteral("actionCommand1005"))->trigger();
    QVERIFY2(asked.contains(QStringLiteral("Region (ROI): 60,40,40,40 \u2192 160,100,40,40")), qPrintable(asked));
    QVERIFY(asked.contains(QStringLiteral("Method: enhanced \u2192 classic")));
    QVERIFY(asked.contains(QStringLiteral("Frames after 0: 3 \u2192 30")));
    QVERIFY(!asked.contains(QStringLiteral("Camera blur")));  // unchanged values are not listed
    QVERIFY(w.Dialog().Snapshot() == shown);  // declined: nothing changed
    answer = true;
    w.window.findChild<QAction*>(QStringLiteral("actionCommand1005"))->trigger();
    QCOMPARE(w.Dialog().Params().roi, (RoiRect{160, 100, 200, 140}));
    QCOMPARE(method->currentText(), QStringLiteral("classic"));
    QVERIFY(w.Status().contains(QStringLiteral("Undo")));
    QVERIFY(ReadBytes(QStringLiteral("param.txt")) != adopted);
    QVERIFY(w.window.UndoAction()->isEnabled());
    QTest::keySequence(&w.window, QKeySequence(Qt::CTRL | Qt::Key_Z));
    QVERIFY(w.Dialog().Snapshot() == shown);
    QCOMPARE(w.Dialog().Params().roi, (RoiRect{60, 40, 100, 80}));
    QCOMPARE(ReadBytes(QStringLiteral("param.txt")), adopted);
    QTest::keySequence(&w.window, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    QCOMPARE(method->currentText(), QStringLiteral("classic"));
    QCOMPARE(w.Dialog().Params().roi, (RoiRect{160, 100, 200, 140}));
  }

  // Keystrokes in one field are one step, even with the focus in it (the field's own undo
  // does not take Ctrl+Z); a ROI placed in the viewer is a step of its own.
  void TypedEditsAndPlacementsUndoStepByStep() {
    OpenWindow w({60, 40, 100, 80});
    QLineEdit* sigma = Field(w.Dialog(), 1010);
    sigma->setFocus();
    sigma->selectAll();
    QTest::keyClicks(sigma, QStringLiteral("0.75"));
    QLineEdit* count = Field(w.Dialog(), 1009);
    count->selectAll();
    QTest::keyClicks(count, QStringLiteral("2"));
    ClickPixel(w.Ref(), {30, 30});
    QCOMPARE(w.Dialog().Params().roi, (RoiRect{10, 10, 50, 50}));
    QUndoStack* stack = w.window.findChild<ParamHistory*>()->Stack();
    QCOMPARE(stack->count(), 3);
    sigma->setFocus();
    QTest::keySequence(sigma, QKeySequence(Qt::CTRL | Qt::Key_Z));
    QCOMPARE(w.Dialog().Params().roi, (RoiRect{60, 40, 100, 80}));
    QCOMPARE(Field(w.Dialog(), 1016)->text(), QStringLiteral("60"));
    QTest::keySequence(sigma, QKeySequence(Qt::CTRL | Qt::Key_Z));
    QCOMPARE(count->text(), QString::number(kFrames));
    QCOMPARE(sigma->text(), QStringLiteral("0.75"));
    QTest::keySequence(sigma, QKeySequence(Qt::CTRL | Qt::Key_Z));
    QCOMPARE(sigma->text(), QStringLiteral("0.600"));
    QVERIFY(!w.window.UndoAction()->isEnabled());
    w.window.RedoAction()->trigger();
    QCOMPARE(sigma->text(), QStringLiteral("0.75"));
    // Keystrokes in one field on either side of a command are two steps.
    sigma->selectAll();
    QTest::keyClicks(sigma, QStringLiteral("0.8"));
    QVERIFY(RunCommand(w.window, 1001));
    sigma->selectAll();
    QTest::keyClicks(sigma, QStringLiteral("0.9"));
    w.window.UndoAction()->trigger();
    QCOMPARE(sigma->text(), QStringLiteral("0.800"));  // as the command showed it
    // A new folder starts a new history.
    QVERIFY(w.window.Open(w.cwd.dir.path()));
    QCOMPARE(stack->count(), 0);
  }

  // Opening shows frame 0 in both viewers; the slider and the spin box browse the frames.
  void OpeningShowsFrameZeroAndTheSliderBrowses() {
    OpenWindow w;
    QCOMPARE(RasterToQImage(w.Ref().Image()), FrameFile(0));
    QCOMPARE(w.Ref().Mode(), kModeRoiSelection);
    QVERIFY(w.Ref().RoiAttached());
    QCOMPARE(RasterToQImage(w.Frames().Image()), FrameFile(0));
    auto* spin = w.window.findChild<QSpinBox*>(QStringLiteral("frameSpin"));
    auto* slider = w.window.findChild<QSlider*>(QStringLiteral("frameSlider"));
    QCOMPARE(spin->maximum(), kFrames);  // frames 0 .. LR count
    slider->setValue(2);
    QCOMPARE(spin->value(), 2);
    QCOMPARE(RasterToQImage(w.Frames().Image()), FrameFile(2));
    QVERIFY(w.Frames().windowTitle().contains(QStringLiteral("lr-2.bmp")));
    spin->setValue(3);
    QCOMPARE(RasterToQImage(w.Frames().Image()), FrameFile(3));
    QCOMPARE(RasterToQImage(w.Ref().Image()), FrameFile(0));  // the reference stays
  }

  void StatusShowsZoomAndThePixelUnderThePointer() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    ViewerPane& ref = w.Ref();
    ref.SetView(1.5, QPointF(5, 7));
    QVERIFY(ref.width() > 5 + kWidth * 1.5 && ref.height() > 7 + kHeight * 1.5);
    const QImage frame0 = FrameFile(0);
    auto* pointer = w.window.findChild<QLabel*>(QStringLiteral("pointerInfo"));
    auto* zoom = w.window.findChild<QLabel*>(QStringLiteral("zoomInfo"));
    for (const QPoint pixel : {QPoint(0, 0), QPoint(17, 9), QPoint(kWidth - 1, kHeight - 1)}) {
      SendMouse(ref, QEvent::MouseMove, ref.PictureToWidget(QPointF(pixel) + QPointF(0.5, 0.5)), Qt::NoButton);
      const QRgb c = frame0.pixel(pixel);
      QCOMPARE(pointer->text(), QStringLiteral("x %1, y %2: %3, %4, %5")
                                    .arg(pixel.x())
                                    .arg(pixel.y())
                                    .arg(qRed(c))
                                    .arg(qGreen(c))
                                    .arg(qBlue(c)));
    }
    QCOMPARE(zoom->text(), QStringLiteral("Zoom 150 %"));
    QVERIFY(pointer->isVisible());
    SendMouse(ref, QEvent::MouseMove, ref.PictureToWidget({-3, -3}), Qt::NoButton);  // off the picture
    QVERIFY(pointer->text().isEmpty() && !pointer->isVisible());  // the messages get its room
    w.window.findChild<QAction*>(QStringLiteral("actionZoomIn"))->trigger();
    QCOMPARE(zoom->text(), QStringLiteral("Zoom 188 %"));
  }

  // Every field says what it does, its range and its default, from the parameter table.
  void FieldsExplainThemselvesFromTheParameterTable() {
    OpenWindow w;
    int fields = 0;
    for (const ParamDescription& row : ParamRows()) {
      for (size_t part = 0; part < ControlsOf(row).size(); ++part) {
        if (ControlsOf(row)[part] == 0) continue;
        QWidget* field = w.Dialog().findChild<QWidget*>(QString::number(ControlsOf(row)[part]));
        QVERIFY(field != nullptr);
        const QString tip = field->toolTip();
        QVERIFY2(tip.contains(QString::fromUtf8(row.help), Qt::CaseInsensitive) && tip.contains(QString::fromStdString(ParamRangeText(row))),
                 qPrintable(tip));
        QVERIFY2(tip.contains(QStringLiteral("Default: ")) && tip.contains(QString::fromUtf8(row.name)), qPrintable(tip));
        ++fields;
      }
    }
    QCOMPARE(fields, 22);  // 19 edit fields, the method's list and the PSF check's and local motion's boxes
    QVERIFY(FieldToolTip(1017).contains(QStringLiteral("Default: 100.")));  // the ROI's y
    QVERIFY(FieldToolTip(1022).contains(QStringLiteral("Default: 25.")));   // RANSAC's N
    QVERIFY(w.Dialog().findChild<QWidget*>(QStringLiteral("1012"))->toolTip().contains(
        QString::fromStdString(ParamRangeText(ParamRows()[FindParam("scale")]))));
    // Labels a newcomer reads; the commands have keys and the save dialog names the result.
    for (const char* jargon : {"LR num", "SAD size", "Registration LR Frames", "Init params"}) {
      for (QWidget* widget : w.Dialog().findChildren<QWidget*>()) {
        const QString text = widget->property("text").toString();
        QVERIFY2(!text.contains(QString::fromUtf8(jargon)), jargon);
      }
    }
    for (const char* name : {"actionCommand1001", "actionCommand1002", "actionCommand1004", "actionCommand1005",
                             "actionRun", "actionUndo", "actionRedo", "actionSaveResult"}) {
      QVERIFY2(!w.window.findChild<QAction*>(QString::fromLatin1(name))->shortcut().isEmpty(), name);
    }
    QCOMPARE(w.window.SaveResultAction()->text(), QStringLiteral("&Save Result As…"));
  }

  void ViewerTitlesSayWhatIsShown() {
    ParamSet p = InitParams();
    QCOMPARE(PlainBandProgressTitle(2, 99, p), QStringLiteral("Reconstructing (classic): blue band, step 100 of 100"));
    p.method = MethodName(Method::Enhanced);
    QCOMPARE(PlainBandProgressTitle(1, 60, p),
             QStringLiteral("Reconstructing (enhanced): luma band, iteration 60 of at most 60"));
    QCOMPARE(PlainViewerTitle(Viewer::Frame, QStringLiteral("./clip.mp4 frame 30"), true),
             QStringLiteral("Registering ./clip.mp4 frame 30 against frame 0"));
    QCOMPARE(PlainViewerTitle(Viewer::Frame, QStringLiteral("First Frame"), false),
             QStringLiteral("Frame 0 enlarged (before)"));
    QCOMPARE(PlainViewerTitle(Viewer::Frame, QStringLiteral("./clip.mp4 frame 30"), false),
             QStringLiteral("./clip.mp4 frame 30"));
  }

  // The reference viewer's caption during a reconstruction comes from the band and step
  // the port is given, the progress bar from the steps; a title the command sets is only
  // ever put in plain words, never read for a band.
  void BandProgressTitlesTheReferenceViewerFromItsValues() {
    CLumetDlg dialog;
    GuiPort port(&dialog, false, false);
    port.CreateViewer(Viewer::Reference, "frame", StartingRect(Viewer::Reference));
    port.ReportBandProgress({"Reconstruction", 103, 300, 1, 2});
    QTRY_VERIFY(dialog.refViewer != nullptr);
    QTRY_COMPARE(dialog.refViewer->windowTitle(), QStringLiteral("Reconstructing (classic): green band, step 3 of 100"));
    const auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("progress"));
    QVERIFY(bar != nullptr);
    QCOMPARE(bar->format(), QStringLiteral("Reconstruction 103/300"));
    QCOMPARE(bar->value(), 103);
    port.SetViewerTitle(Viewer::Reference, BandProgressTitle(2, 5));
    QTRY_COMPARE(dialog.refViewer->windowTitle(), QStringLiteral("reconst.. 2 band ---5 steps"));
  }

  // Run registers then reconstructs; two runs with different methods are both kept, can be
  // compared with the split on screen, and each is saved under its method's name.
  void RunsAreKeptForAnABComparison() {
    OpenWindow w({60, 40, 100, 80});
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QVERIFY(RunBoth(w.window));
    QComboBox* method = w.Dialog().findChild<QComboBox*>(QStringLiteral("1025"));
    method->setCurrentText(QStringLiteral("enhanced"));
    QVERIFY(RunBoth(w.window));
    QCOMPARE(w.window.Runs().size(), size_t{2});
    const RunResult& classic = w.window.Runs()[0];
    const RunResult& enhanced = w.window.Runs()[1];
    QCOMPARE(classic.Method(), QStringLiteral("classic"));
    QCOMPARE(enhanced.Method(), QStringLiteral("enhanced"));
    QVERIFY(classic.result != enhanced.result);
    QCOMPARE(enhanced.result, QImage(QStringLiteral("result/hr.bmp")).convertToFormat(QImage::Format_RGB32));
    QVERIFY(w.Ref().windowTitle().contains(QStringLiteral("Run 2: enhanced")));
    QVERIFY(w.window.SuggestedResultFile().contains(QStringLiteral("enhanced")));
    // Run 1 left of the split, run 2 right of it, on screen.
    auto* left = w.window.findChild<QComboBox*>(QStringLiteral("compareLeft"));
    QCOMPARE(left->count(), 3);
    QVERIFY(w.window.Compare(0, 1));
    QTest::qWait(50);
    ViewerPane& pane = w.Ref();
    QCOMPARE(pane.BeforeLabel(), QStringLiteral("Run 1 (classic)"));
    const QImage screen = OnScreen(pane);
    int differ = 0;
    for (int y = classic.result.height() / 2; y < classic.result.height(); y += 4) {
      for (int x = 1; x < classic.result.width(); x += 4) {
        const QPointF at = pane.PictureToWidget(QPointF(x + 0.5, y + 0.5));
        if (std::abs(at.x() - pane.SplitX()) < 14) continue;
        const QImage& side = at.x() < pane.SplitX() ? classic.result : enhanced.result;
        QCOMPARE(PixelAt(screen, at), side.pixel(x, y));
        differ += classic.result.pixel(x, y) != enhanced.result.pixel(x, y);
      }
    }
    QVERIFY(differ > 10);
    // Saving takes the run on the right, named by its method; then the other one.
    QVERIFY(w.window.SaveResultTo(w.window.SuggestedResultFile()));
    QCOMPARE(QImage(QStringLiteral("result/hr-enhanced-2.png")).convertToFormat(QImage::Format_RGB32), enhanced.result);
    QVERIFY(w.window.Compare(-1, 0));
    QCOMPARE(w.window.SuggestedResultFile(), QStringLiteral("result/hr-classic-1.png"));
    QCOMPARE(pane.BeforeLabel(), QStringLiteral("Before: frame 0"));
  }

  // Before is frame 0 on the result's grid: frame pixel (x, y) at result pixel (s x, s y)
  // counted from the grid's origin, while the replicated first_lr.bmp centres it s / 2 - 1/2
  // pixels further, and stays byte for byte what it was.
  void BeforeIsOnTheResultsGrid() {
    OpenWindow w({60, 40, 100, 80});
    QVERIFY(RunBoth(w.window));
    const ParamSet& values = w.window.Runs().back().values;
    const QImage before = AlignedFirstFrame(values);
    const QImage result = w.window.Runs().back().result;
    QCOMPARE(before.size(), result.size());
    const QImage frame0 = FrameFile(0);
    const int s = static_cast<int>(values.scale);
    // The grid's origin: where frame pixel (left, top) falls.
    const QImage replicated = QImage(QStringLiteral("result/first_lr.bmp")).convertToFormat(QImage::Format_RGB32);
    int exact = 0;
    for (int y = 0; y < 40; y += 3) {
      for (int x = 0; x < 40; x += 3) {
        const QPoint hr(s * x, s * y);
        if (!before.rect().contains(hr)) continue;
        QCOMPARE(before.pixel(hr), frame0.pixel(values.roi.left + x, values.roi.top + y));
        QCOMPARE(replicated.pixel(hr), frame0.pixel(values.roi.left + x, values.roi.top + y));  // block corner
        ++exact;
      }
    }
    QVERIFY(exact > 100);
    // Between samples the aligned picture interpolates; the replicated one repeats.
    int interpolated = 0;
    for (int x = 0; x + 1 < 40; ++x) {
      const QPoint hr(s * x + s / 2, s * 10);
      interpolated += before.pixel(hr) != replicated.pixel(hr);
    }
    QVERIFY(interpolated > 10);
    // The window's split uses it.
    QCOMPARE(w.Ref().BeforeLabel(), QStringLiteral("Before: frame 0"));
  }
};

LUMET_QTEST_MAIN_WITH_SETTINGS(WindowTest)
#include "window_test.moc"
