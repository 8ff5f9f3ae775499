// The window's runs and what follows the state: A/B of runs on one grid whatever their
// scales and ROIs, the runs kept under their own names and numbered on from one opening of
// a folder to the next, titles and pictures after a command, a cancel or a register, the
// frame slider after Frames changed, param.txt after a failed command.
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>

#include "app/dialog_controls.h"
#include "app/run_results.h"
#include "library/conversions.h"
#include "lumet/video.h"
#include "params/param_description.h"
#include "params/param_file.h"
#include "view/raster_image.h"
#include "window_test_support.h"
#include "workbench/reconstruction_steps.h"

using namespace lumet;
using namespace lumet::apptest;

namespace {

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TypeInto(QLineEdit* field, const QString& text) {
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, text);
}

// Starts a command and cancels it at once; true when it ended cancelled (a command that
// ends before it hears the request is tried again).
bool StartAndCancel(MainWindow& window, int id) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    QSignalSpy finished(window.Dialog(), &CLumetDlg::commandFinished);
    window.findChild<QAction*>(QStringLiteral("actionCommand%1").arg(id))->trigger();
    window.findChild<QAction*>(QStringLiteral("actionCancel"))->trigger();
    if (!finished.wait(120000)) return false;
    if (!finished.at(0).at(0).toBool() && LogLines(*window.Dialog()).last().startsWith(QStringLiteral("Wrote")) &&
        LogLines(*window.Dialog()).contains(QStringLiteral("Cancelled"))) {
      return true;
    }
  }
  return false;
}

QImage FrameFile(int k) { return QImage(QStringLiteral("images/lr-%1.bmp").arg(k)).convertToFormat(QImage::Format_RGB32); }

// Output frame k of the clip, as the video's frames are made, as the window shows pictures.
QImage VideoFrame(const ParamSet& values, int radius, int k) {
  Settings settings;
  FillSettings(values, settings);
  VideoSuperResolver clip(values.lrPattern, values.startIndex, radius, settings, false);
  return RasterToQImage(PictureOf(ToColorImage(clip.Frame(k).estimate)));
}

// Shows frame k on the slider with Window ± radius and starts Super-resolve This Frame.
void StartFrameRun(MainWindow& window, int k, int radius) {
  window.findChild<QSpinBox*>(QStringLiteral("frameSpin"))->setValue(k);
  window.findChild<QSpinBox*>(QStringLiteral("radiusSpin"))->setValue(radius);
  window.SuperResolveFrameAction()->trigger();
}

RunResult MadeRun(int number, RoiRect roi, double scale, const std::function<QRgb(int, int)>& colour) {
  RunResult run;
  run.number = number;
  run.values = InitParams();
  run.values.roi = roi;
  run.values.scale = scale;
  run.result = QImage(static_cast<int>(roi.Width() * scale), static_cast<int>(roi.Height() * scale), QImage::Format_RGB32);
  for (int y = 0; y < run.result.height(); ++y) {
    for (int x = 0; x < run.result.width(); ++x) run.result.setPixel(x, y, colour(x, y));
  }
  return run;
}

}  // namespace

class ComparisonTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QSettings().clear(); }

  // Two runs of different scales and ROIs go onto the finer scale over both ROIs: frame
  // point x at common point S (x - left of the union). Where a run's grid point falls on a
  // common one its pixel is there unchanged; where its ROI does not reach, nothing is.
  void RunsOfDifferentGridsShareOne() {
    const RunResult a = MadeRun(1, {10, 10, 20, 20}, 2.0, [](int x, int y) { return qRgb(10 * x, 10 * y, 7); });
    const RunResult b = MadeRun(2, {15, 12, 25, 22}, 4.0, [](int x, int y) { return qRgb(5 * x, 200, 5 * y); });
    const ComparisonPair pair = CommonGrid(a, b);
    QVERIFY(pair.resampled);
    QCOMPARE(pair.scale, 4.0);
    QCOMPARE(pair.area, (RoiRect{10, 10, 25, 22}));
    QCOMPARE(pair.before.size(), QSize(60, 48));
    QCOMPARE(pair.after.size(), QSize(60, 48));
    int exactA = 0, exactB = 0, empty = 0;
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 60; ++x) {
        // a: source point (x / 2, y / 2), inside up to 19.5.
        const QRgb pa = pair.before.pixel(x, y);
        if (x / 2.0 > 19.5 || y / 2.0 > 19.5) {
          QCOMPARE(qAlpha(pa), 0);
          ++empty;
        } else if (x % 2 == 0 && y % 2 == 0) {
          QCOMPARE(pa, a.result.pixel(x / 2, y / 2));
          ++exactA;
        } else {
          QCOMPARE(qAlpha(pa), 255);
        }
        // b: source point (x - 20, y - 8), the same grid shifted.
        const QRgb pb = pair.after.pixel(x, y);
        if (x < 20 || y < 8) {
          QCOMPARE(qAlpha(pb), 0);
        } else {
          QCOMPARE(pb, b.result.pixel(x - 20, y - 8));
          ++exactB;
        }
      }
    }
    QCOMPARE(exactB, 40 * 40);
    QVERIFY(exactA == 20 * 20 && empty > 0);
    // Between a's samples the picture is interpolated: halfway is the mean of the two.
    QCOMPARE(qRed(pair.before.pixel(1, 0)), (qRed(a.result.pixel(0, 0)) + qRed(a.result.pixel(1, 0)) + 1) / 2);
    // Runs on one grid are laid over each other as they are.
    const RunResult c = MadeRun(3, {15, 12, 25, 22}, 4.0, [](int x, int y) { return qRgb(x, y, 0); });
    const ComparisonPair same = CommonGrid(b, c);
    QVERIFY(!same.resampled && same.before == b.result && same.after == c.result);
    // The differences are named as the parameters' rows name them.
    const QStringList differ = ParamDifferences(a.values, b.values);
    QCOMPARE(differ.size(), 2);
    const ParamDescription& roiRow = ParamRows()[FindParam("roi")];
    const ParamDescription& scaleRow = ParamRows()[FindParam("scale")];
    QVERIFY2(differ.contains(QStringLiteral("%1: 2 \u2192 4").arg(QString::fromUtf8(scaleRow.label))), qPrintable(differ.join(u'|')));
    QVERIFY2(differ.contains(QStringLiteral("%1: 10,10,10,10 \u2192 15,12,10,10").arg(QString::fromUtf8(roiRow.label))),
             qPrintable(differ.join(u'|')));
  }

  // In the window: a run at x3 and one at x2 are compared in the large viewer, the x2
  // result on the x3 grid right of the wipe, what differs said above it in full.
  void AbOfRunsAtDifferentScales() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QVERIFY(RunBoth(w.window));
    w.Dialog().findChild<QRadioButton*>(QString::number(kIdScaleX2))->click();
    QVERIFY(RunCommand(w.window, 1004));
    QCOMPARE(w.window.Runs().size(), size_t{2});
    const RunResult& x3 = w.window.Runs()[0];
    const RunResult& x2 = w.window.Runs()[1];
    QVERIFY(x3.values.scale == 3.0 && x2.values.scale == 2.0 && x3.result.size() != x2.result.size());
    QVERIFY(w.window.Compare(0, 1));
    ViewerPane& pane = w.Ref();
    QCOMPARE(pane.Mode(), kModeComparison);
    QVERIFY(w.window.ViewerDock(Viewer::Reference)->windowTitle().contains(x2.Label()));
    const QString note = w.window.ComparisonNote();
    QVERIFY2(note.contains(QStringLiteral("3 \u2192 2")) && note.contains(QStringLiteral("\u00d73 grid")), qPrintable(note));
    auto* label = w.window.findChild<QLabel*>(QStringLiteral("compareNote"));
    QVERIFY(label->isVisible() && label->height() >= label->heightForWidth(label->width()));  // not cut off
    const ComparisonPair pair = CommonGrid(x3, x2);
    QCOMPARE(pair.before.size(), x3.result.size());
    pane.FitToPane();
    int checked = 0;
    for (int y = 0; y < pair.after.height(); y += 3) {
      for (int x = 0; x < pair.after.width(); x += 3) {
        const QPointF at = pane.PictureToWidget(QPointF(x + 0.5, y + 0.5));
        QPoint pixel;
        QRgb colour = 0;
        if (std::abs(at.x() - pane.SplitX()) < 2 || !pane.PixelUnder(at, pixel, colour)) continue;
        const QImage& side = at.x() < pane.SplitX() ? pair.before : pair.after;
        QCOMPARE(colour, side.pixel(x, y));
        // Common point 3k is the x2 run's point 2k.
        if (at.x() > pane.SplitX()) QCOMPARE(colour, x2.result.pixel(2 * x / 3, 2 * y / 3));
        ++checked;
      }
    }
    QVERIFY(checked > 50);
    // The lists took the choice; frame 0 against the x2 run is on that run's own grid.
    QCOMPARE(w.window.findChild<QComboBox*>(QStringLiteral("compareLeft"))->currentIndex(), 1);
    QVERIFY(w.window.Compare(-1, 1));
    QVERIFY(w.window.ComparisonNote().isEmpty());
  }

  // Each run is kept as result/hr-METHOD-N.png with its parameters beside the result the
  // engine writes; the next opening of the folder has them to compare and numbers on.
  void RunsNumberOnAcrossOpenings() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    const QString folder = cwd.dir.path();
    QImage first;
    {
      MainWindow window;
      window.show();
      window.Start(folder);
      QVERIFY(RunBoth(window));
      QCOMPARE(window.Runs().back().number, 1);
      first = window.Runs().back().result;
      QCOMPARE(QImage(QStringLiteral("result/hr-classic-1.png")).convertToFormat(QImage::Format_RGB32), first);
      QCOMPARE(QImage(QStringLiteral("result/hr.bmp")).convertToFormat(QImage::Format_RGB32), first);
      ParamSet kept = InitParams();
      QVERIFY(LoadParams("result/hr-classic-1.txt", kept) > 0);
      QCOMPARE(kept.roi, window.Runs().back().values.roi);
    }
    MainWindow window;
    window.show();
    window.Start(folder);
    QCOMPARE(window.Runs().size(), size_t{1});
    QCOMPARE(window.Runs()[0].number, 1);
    QCOMPARE(window.Runs()[0].result, first);
    QVERIFY(!window.Runs()[0].before.isNull());
    auto* right = window.findChild<QComboBox*>(QStringLiteral("compareRight"));
    QCOMPARE(right->count(), 1);
    QVERIFY(RunBoth(window));
    QCOMPARE(window.Runs().size(), size_t{2});
    QCOMPARE(window.Runs().back().number, 2);
    QCOMPARE(window.SuggestedResultFile(), QStringLiteral("result/hr-classic-2.png"));
    QVERIFY(QFile::exists(QStringLiteral("result/hr-classic-1.png")) && QFile::exists(QStringLiteral("result/hr-classic-2.png")));
    QCOMPARE(QImage(QStringLiteral("result/hr.bmp")).convertToFormat(QImage::Format_RGB32), window.Runs().back().result);
    QVERIFY(window.Compare(0, 1));
    QVERIFY2(window.ComparisonNote().contains(QStringLiteral("same parameters")), qPrintable(window.ComparisonNote()));
    QVERIFY(window.ViewerDock(Viewer::Reference)->windowTitle().contains(QStringLiteral("Run 1: classic")));
    // Opened again, then with the enhanced method: numbers go on over methods.
    QVERIFY(window.Open(folder));
    QCOMPARE(window.Runs().size(), size_t{2});
    window.Dialog()->findChild<QComboBox*>(QStringLiteral("1025"))->setCurrentText(QStringLiteral("enhanced"));
    QVERIFY(RunBoth(window));
    QCOMPARE(window.SuggestedResultFile(), QStringLiteral("result/hr-enhanced-3.png"));
  }

  // Super-resolve This Frame at frame 2 with ±1 is the video's output frame 2 for the same
  // values: frame 2 the reference of frames 1 .. 3. It is kept as a run named by its frame,
  // its kept parameters say which (param.txt does not), and the next opening reads it back;
  // a kept run that names no frame is frame 0's. Its before side is frame 2's ROI.
  void SuperResolveThisFrameIsTheVideosFrame() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QCOMPARE(w.window.findChild<QSpinBox*>(QStringLiteral("radiusSpin"))->value(), 2);  // the default
    // The command comes right after Run, in the tool bar and in the Commands menu.
    QAction* action = w.window.SuperResolveFrameAction();
    QCOMPARE(action->objectName(), QStringLiteral("actionSuperResolveFrame"));
    const QList<QAction*> tools = w.window.findChild<QToolBar*>(QStringLiteral("commandsToolBar"))->actions();
    QVERIFY(tools.indexOf(action) == tools.indexOf(w.window.RunAction()) + 1);
    bool inMenu = false;
    for (QAction* entry : w.window.menuBar()->actions()) {
      if (entry->menu() == nullptr) continue;
      const QList<QAction*> items = entry->menu()->actions();
      inMenu = inMenu || (items.contains(action) && items.indexOf(action) == items.indexOf(w.window.RunAction()) + 1);
    }
    QVERIFY(inMenu);
    QSignalSpy finished(w.window.Dialog(), &CLumetDlg::commandFinished);
    StartFrameRun(w.window, 2, 1);
    QVERIFY(w.window.findChild<QPushButton*>(QStringLiteral("cancel"))->isEnabled());
    QVERIFY(!w.window.SuperResolveFrameAction()->isEnabled());  // one command at a time
    QVERIFY(finished.wait(120000) && finished.at(0).at(0).toBool());
    QVERIFY(w.window.SuperResolveFrameAction()->isEnabled());
    QCOMPARE(w.window.Runs().size(), size_t{1});
    const RunResult run = w.window.Runs()[0];
    QCOMPARE(run.reference, 2);
    QCOMPARE(run.radius, 1);
    QVERIFY2(run.Label().startsWith(QStringLiteral("Run 1: classic \u00d73, frame 2 \u00b11, ROI ")), qPrintable(run.Label()));
    const QImage expected = VideoFrame(run.values, 1, 2);
    QCOMPARE(run.result.size(), expected.size());
    QCOMPARE(run.result, expected);
    // Not frame 0's nor frame 1's reconstruction: the reference matters.
    QVERIFY(expected != VideoFrame(run.values, 1, 1));
    QCOMPARE(QImage(QStringLiteral("result/hr-classic-1.png")).convertToFormat(QImage::Format_RGB32), expected);
    QVERIFY(!QFile::exists(QStringLiteral("result/hr.bmp")));  // the Run's own files are not written
    QVERIFY2(w.Status().contains(QStringLiteral("Run 1")), qPrintable(w.Status()));

    // The kept parameters name the frame after the parameters; param.txt stays as it is.
    const QByteArray kept = FileBytes(QStringLiteral("result/hr-classic-1.txt"));
    QVERIFY2(kept.endsWith("\nreferenceFrame 2\nwindowRadius 1"), kept.constData());
    QCOMPARE(kept.left(kept.indexOf("\nreferenceFrame")), QByteArray::fromStdString(FormatParamFile(run.values)));
    QVERIFY(!FileBytes(QStringLiteral("param.txt")).contains("referenceFrame"));
    ParamSet reread = InitParams();
    QCOMPARE(ReadParamFile("param.txt", reread).problem, std::string());

    // Before: frame 2's ROI on the result's grid, in the lists and the wipe.
    QCOMPARE(run.before, AlignedFrame(run.values, 2));
    QVERIFY(run.before != AlignedFrame(run.values, 0));
    const QImage frame2 = FrameFile(2);
    const int s = static_cast<int>(run.values.scale);
    for (int y = 0; y < run.values.roi.Height(); y += 5) {
      for (int x = 0; x < run.values.roi.Width(); x += 5) {
        QCOMPARE(run.before.pixel(s * x, s * y), frame2.pixel(run.values.roi.left + x, run.values.roi.top + y));
      }
    }
    ViewerPane& pane = w.Ref();
    QCOMPARE(pane.Mode(), kModeComparison);
    QCOMPARE(pane.BeforeLabel(), QStringLiteral("Before: frame 2"));
    QCOMPARE(w.window.findChild<QComboBox*>(QStringLiteral("compareLeft"))->itemText(0), QStringLiteral("Frame 2 (before)"));
    QVERIFY(pane.windowTitle().contains(QStringLiteral("frame 2 on the result's grid")));
    pane.FitToPane();
    int left = 0;
    for (int y = 0; y < run.before.height(); y += 4) {
      for (int x = 0; x < run.before.width(); x += 4) {
        const QPointF at = pane.PictureToWidget(QPointF(x + 0.5, y + 0.5));
        QPoint pixel;
        QRgb colour = 0;
        if (at.x() > pane.SplitX() - 2 || !pane.PixelUnder(at, pixel, colour)) continue;
        QCOMPARE(colour, run.before.pixel(x, y));
        ++left;
      }
    }
    QVERIFY(left > 20);

    // A kept run from before frames were named (its parameters alone) is frame 0's.
    QVERIFY(QFile::copy(QStringLiteral("result/hr-classic-1.png"), QStringLiteral("result/hr-classic-7.png")));
    SaveParams("result/hr-classic-7.txt", run.values);
    QVERIFY(w.window.Open(w.cwd.dir.path()));
    QCOMPARE(w.window.Runs().size(), size_t{2});
    const RunResult& again = w.window.Runs()[0];
    QVERIFY(again.reference == 2 && again.radius == 1 && again.Label() == run.Label() && again.before == run.before);
    const RunResult& old = w.window.Runs()[1];
    QVERIFY(old.number == 7 && old.reference == 0 && old.radius == 0 && old.before == AlignedFirstFrame(run.values));
    QVERIFY2(!old.Label().contains(QStringLiteral("frame")), qPrintable(old.Label()));
    // Compared, the two say which frames they were made from.
    QVERIFY(w.window.Compare(0, 1));
    QVERIFY2(w.window.ComparisonNote().contains(QStringLiteral("reference: frame 2 \u00b11 \u2192 frame 0")),
             qPrintable(w.window.ComparisonNote()));
  }

  // Cancelled, Super-resolve This Frame keeps no run and writes no result; the frame bar
  // shows the frame again.
  void SuperResolveThisFrameCancelled() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    bool cancelled = false;
    for (int attempt = 0; attempt < 5 && !cancelled; ++attempt) {
      QSignalSpy finished(w.window.Dialog(), &CLumetDlg::commandFinished);
      StartFrameRun(w.window, 2, 1);
      w.window.findChild<QAction*>(QStringLiteral("actionCancel"))->trigger();
      QVERIFY(finished.wait(120000));
      cancelled = !finished.at(0).at(0).toBool() && LogLines(w.Dialog()).contains(QStringLiteral("Cancelled"));
      if (!cancelled) QCOMPARE(w.window.Runs().size(), size_t{static_cast<size_t>(attempt + 1)});
    }
    QVERIFY(cancelled);
    const size_t runs = w.window.Runs().size();
    QCOMPARE(w.Status(), QStringLiteral("Frame super-resolution cancelled"));
    QVERIFY(!QFile::exists(QStringLiteral("result/hr-classic-%1.png").arg(runs + 1)));
    QCOMPARE(w.window.findChild<QComboBox*>(QStringLiteral("compareRight"))->count(), static_cast<int>(runs));
    QVERIFY2(w.Frames().windowTitle().startsWith(QStringLiteral("Frame 2: ")), qPrintable(w.Frames().windowTitle()));
    QVERIFY(w.window.SuperResolveFrameAction()->isEnabled());
  }

  // Export Video… makes every frame of the sequence as Super-resolve This Frame makes one
  // (a still frame's name numbers the frames), in the background, keeping no run; a video
  // output is one file, its parts gone once it is written.
  void ExportVideoMakesEveryFrame() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QAction* action = w.window.ExportVideoAction();
    QCOMPARE(action->objectName(), QStringLiteral("actionExportVideo"));
    QVERIFY(action->isEnabled());
    w.window.findChild<QSpinBox*>(QStringLiteral("radiusSpin"))->setValue(1);
    w.window.askVideoExport = [] { return MainWindow::VideoExportChoice{QStringLiteral("result/sr.png"), false}; };
    QSignalSpy finished(w.window.Dialog(), &CLumetDlg::commandFinished);
    QVERIFY(w.window.ExportVideo());
    QVERIFY(!action->isEnabled());  // one command at a time
    QVERIFY(finished.wait(240000) && finished.at(0).at(0).toBool());
    QVERIFY2(w.Status().startsWith(QStringLiteral("Video export done")), qPrintable(w.Status()));
    const ParamSet values = w.Dialog().Params();
    const int count = VideoSuperResolver(values.lrPattern, values.startIndex, 1, Settings(), false).Count();
    QVERIFY(count >= 3);
    for (int k = 0; k < count; ++k) {
      const QImage made(QStringLiteral("result/sr-%1.png").arg(k));
      QVERIFY2(!made.isNull(), qPrintable(QStringLiteral("frame %1").arg(k)));
      QCOMPARE(made.convertToFormat(QImage::Format_RGB32), VideoFrame(values, 1, k).convertToFormat(QImage::Format_RGB32));
    }
    QVERIFY(w.window.Runs().empty());
    QVERIFY(LogLines(w.Dialog()).filter(QStringLiteral("): wrote result/sr-")).size() == count);

    w.window.askVideoExport = [] { return MainWindow::VideoExportChoice{QStringLiteral("result/sr.mkv"), false}; };
    QSignalSpy again(w.window.Dialog(), &CLumetDlg::commandFinished);
    QVERIFY(w.window.ExportVideo());
    QVERIFY(again.wait(240000) && again.at(0).at(0).toBool());
    QVERIFY(QFile::exists(QStringLiteral("result/sr.mkv")));
    QVERIFY(!QFile::exists(QStringLiteral("result/sr.mkv.parts")));
    QVERIFY2(LogLines(w.Dialog()).filter(QStringLiteral("encoded result/sr.mkv: %1 frames of %2 x %3")
                                            .arg(count).arg(3 * values.roi.Width()).arg(3 * values.roi.Height()))
                     .size() == 1,
             qPrintable(LogLines(w.Dialog()).join(QStringLiteral("\n"))));
    // The whole frame when asked (cancelled at once: the job says what it makes first).
    w.window.askVideoExport = [] { return MainWindow::VideoExportChoice{QStringLiteral("result/whole.mkv"), true}; };
    QSignalSpy whole(w.window.Dialog(), &CLumetDlg::commandFinished);
    QVERIFY(w.window.ExportVideo());
    w.window.findChild<QAction*>(QStringLiteral("actionCancel"))->trigger();
    QVERIFY(whole.wait(240000));
    QVERIFY(LogLines(w.Dialog()).filter(QStringLiteral("the whole frame, into result/whole.mkv")).size() == 1);
    // Declined, nothing starts.
    w.window.askVideoExport = [] { return std::optional<MainWindow::VideoExportChoice>(); };
    QVERIFY(!w.window.ExportVideo());
  }

  // Cancelled, Export Video… writes no video; its finished frames stay as parts, and the
  // next export to the same file goes on from them.
  void ExportVideoCancelled() {
    OpenWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    w.window.askVideoExport = [] { return MainWindow::VideoExportChoice{QStringLiteral("result/sr.mkv"), false}; };
    QSignalSpy finished(w.window.Dialog(), &CLumetDlg::commandFinished);
    QVERIFY(w.window.ExportVideo());
    w.window.findChild<QAction*>(QStringLiteral("actionCancel"))->trigger();
    QVERIFY(finished.wait(240000));
    QVERIFY(!finished.at(0).at(0).toBool());
    QVERIFY(LogLines(w.Dialog()).contains(QStringLiteral("Cancelled")));
    QCOMPARE(w.Status(), QStringLiteral("Video export cancelled"));
    QVERIFY(!QFile::exists(QStringLiteral("result/sr.mkv")));
    QVERIFY(w.window.ExportVideoAction()->isEnabled());
    QSignalSpy again(w.window.Dialog(), &CLumetDlg::commandFinished);
    QVERIFY(w.window.ExportVideo());
    QVERIFY(again.wait(240000) && again.at(0).at(0).toBool());
    QVERIFY(QFile::exists(QStringLiteral("result/sr.mkv")));
  }

  // Titles and pictures follow the commands: Register Frames after a run drops the
  // comparison and its titles at once; a cancelled registration leaves no marks and no
  // "stopped"; a cancelled reconstruction brings back the comparison shown before.
  void TitlesAfterRegisterAndCancel() {
    OpenWindow w;
    QVERIFY(RunBoth(w.window));
    QVERIFY(w.Ref().windowTitle().startsWith(QStringLiteral("Compare: ")));
    QSignalSpy finished(w.window.Dialog(), &CLumetDlg::commandFinished);
    w.window.findChild<QAction*>(QStringLiteral("actionCommand1002"))->trigger();
    // At once, before the command's thread shows anything.
    QVERIFY(!w.Ref().windowTitle().contains(QStringLiteral("Run 1")));
    QVERIFY(w.Ref().Mode() != kModeComparison && w.Frames().Mode() != kModeComparison);
    QVERIFY(finished.wait(120000) && finished.at(0).at(0).toBool());
    QCOMPARE(w.Ref().Mode(), kModeRoiSelection);
    QCOMPARE(w.Ref().windowTitle(), QStringLiteral("Frame 0: click or drag to place the region of interest"));
    QCOMPARE(w.Frames().windowTitle(), QStringLiteral("Frames: registered against frame 0"));
    QVERIFY(w.Ref().SquareCount() > 0 && w.Frames().SquareCount() > 0);  // the registration's marks
    QCOMPARE(w.window.findChild<QComboBox*>(QStringLiteral("compareRight"))->count(), 1);  // the run is still there
    // The View menu's entries keep their names whatever the docks say.
    auto* showRef = w.window.findChild<QAction*>(QStringLiteral("actionShowreferenceDock"));
    QCOMPARE(showRef->text(), QStringLiteral("&Reference Viewer"));
    QVERIFY(w.window.ViewerDock(Viewer::Reference)->windowTitle() != QStringLiteral("Reference Viewer"));
    showRef->trigger();
    QVERIFY(!w.window.ViewerDock(Viewer::Reference)->isVisible() && !showRef->isChecked());
    showRef->trigger();
    QVERIFY(w.window.ViewerDock(Viewer::Reference)->isVisible() && showRef->isChecked());

    QVERIFY(StartAndCancel(w.window, 1002));
    QCOMPARE(w.Status(), QStringLiteral("Registration cancelled"));
    QCOMPARE(w.Ref().SquareCount(), size_t{0});
    QCOMPARE(w.Ref().LineCount(), size_t{0});
    QCOMPARE(w.Frames().SquareCount(), size_t{0});
    QVERIFY2(w.Frames().windowTitle().startsWith(QStringLiteral("Frame 0: ")), qPrintable(w.Frames().windowTitle()));
    QVERIFY(!w.Frames().windowTitle().contains(QStringLiteral("stopped")));
    QVERIFY(!w.Ref().windowTitle().contains(QStringLiteral("stopped")));

    // The comparison came back by choice, then a reconstruction is cancelled: back to it.
    QVERIFY(w.window.Compare(-1, 0));
    const QString compared = w.Ref().windowTitle();
    QVERIFY(StartAndCancel(w.window, 1004));
    QCOMPARE(w.Ref().Mode(), kModeComparison);
    QCOMPARE(w.Ref().windowTitle(), compared);
    QVERIFY(w.Frames().windowTitle().startsWith(QStringLiteral("Frame 0: ")));
    QCOMPARE(w.window.Runs().size(), size_t{1});
  }

  // The slider spans the frames the Frames field names, as soon as it is typed.
  void FrameSliderFollowsFrames() {
    OpenWindow w;
    auto* spin = w.window.findChild<QSpinBox*>(QStringLiteral("frameSpin"));
    QCOMPARE(spin->maximum(), kFrames);
    spin->setValue(3);
    QVERIFY(w.Frames().windowTitle().startsWith(QStringLiteral("Frame 3: ")));
    TypeInto(Field(w.Dialog(), kIdLrCount), QStringLiteral("2"));
    QCOMPARE(spin->maximum(), 2);
    QCOMPARE(spin->value(), 2);
    QVERIFY(w.Frames().windowTitle().startsWith(QStringLiteral("Frame 2: ")));
    TypeInto(Field(w.Dialog(), kIdLrCount), QStringLiteral("3"));
    QCOMPARE(spin->maximum(), 3);
    QCOMPARE(spin->value(), 2);
  }

  // A command that fails puts param.txt back as it found it and says it wrote nothing
  // there; one that works writes the new values.
  void FailedCommandLeavesParamTxt() {
    OpenWindow w;
    const QByteArray before = FileBytes(QStringLiteral("param.txt"));
    QVERIFY(!before.isEmpty());
    TypeInto(Field(w.Dialog(), kIdLrCount), QStringLiteral("40"));  // more frames than there are
    const qsizetype logged = LogLines(w.Dialog()).size();
    QVERIFY(!RunCommand(w.window, 1002));
    QVERIFY2(w.Status().startsWith(QStringLiteral("Error: ")), qPrintable(w.Status()));
    QCOMPARE(FileBytes(QStringLiteral("param.txt")), before);
    for (const QString& line : LogLines(w.Dialog()).mid(logged)) QVERIFY2(!line.contains(QStringLiteral("param.txt")), qPrintable(line));
    // A failing reconstruction likewise (no homography files for 40 frames).
    QVERIFY(!RunCommand(w.window, 1004));
    QCOMPARE(FileBytes(QStringLiteral("param.txt")), before);
    TypeInto(Field(w.Dialog(), kIdLrCount), QStringLiteral("2"));
    QVERIFY(RunCommand(w.window, 1001));
    ParamSet now = InitParams();
    QVERIFY(LoadParams("param.txt", now) > 0);
    QCOMPARE(now.lrCount, 2);
  }
};

LUMET_QTEST_MAIN_WITH_SETTINGS(ComparisonTest)
#include "comparison_test.moc"
