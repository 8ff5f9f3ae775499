// The main window: choosing the working folder (argument, drop, current, last, asked),
// frame-file names, zoom and pan, dragging the ROI, the comparison split, refused values,
// and the commands run inside it.
#include <QAbstractButton>
#include <QDockWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QMimeData>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QUrl>
#include <cmath>
#include <functional>

#include "app/field_marker.h"
#include "app/main_window.h"
#include "app/working_folder.h"
#include "app_test_support.h"
#include "window_test_support.h"
#include "view/raster_image.h"
#include "view/viewer_pane.h"

using namespace lumet;
using namespace lumet::apptest;

namespace {

void Wheel(QWidget& widget, QPointF at, int delta) {
  QWheelEvent event(at, widget.mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(&widget, &event);
}

void Drop(QWidget& widget, const QString& path) {
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&widget, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&widget, &drop);
}

QString Canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

}  // namespace

namespace {
void DragWith(QWidget& widget, Qt::MouseButton button, QPointF from, QPointF to) {
  const auto send = [&widget](QEvent::Type type, QPointF at, Qt::MouseButton which, Qt::MouseButtons held) {
    QMouseEvent event(type, at, widget.mapToGlobal(at), which, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
  };
  send(QEvent::MouseButtonPress, from, button, button);
  for (int i = 1; i <= 4; ++i) send(QEvent::MouseMove, from + (to - from) * (i / 4.0), Qt::NoButton, button);
  send(QEvent::MouseButtonRelease, to, button, Qt::NoButton);
}
void TypeInto(QLineEdit* field, const QString& text) {
  field->setFocus();
  field->selectAll();
  QTest::keyClicks(field, text);
}
}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { QSettings().clear(); }

  void FrameFileNameGivesFolderPatternAndStart() {
    QTemporaryDir dir;
    const QString root = Canonical(dir.path());
    QDir(root).mkpath(QStringLiteral("images"));
    QDir(root).mkpath(QStringLiteral("shots"));
    struct Case {
      const char* file;
      const char* folder;  // relative to root
      const char* pattern;
      int start;
    };
    const Case cases[] = {
        {"images/lr-5.bmp", "", "./images/lr-%d.bmp", 5},  // folder "images": its parent works
        {"images/lr-0.bmp", "", "./images/lr-%d.bmp", 0},
        {"shots/f007.png", "shots", "./f%03d.png", 7},     // zero-padded: the width is kept
        {"shots/a1b22.bmp", "shots", "./a1b%d.bmp", 22},   // the last run of digits
        {"shots/0.bmp", "shots", "./%d.bmp", 0},
        {"shots/00.bmp", "shots", "./%02d.bmp", 0},
        {"shots/10%_12.bmp", "shots", "./10%%_%d.bmp", 12},  // a '%' of the name is kept as %%
    };
    for (const Case& c : cases) {
      const auto choice = ParseFrameFile(root + u'/' + QString::fromUtf8(c.file));
      QVERIFY2(choice.has_value(), c.file);
      QCOMPARE(choice->folder, QDir::cleanPath(root + u'/' + QString::fromUtf8(c.folder)));
      QCOMPARE(choice->lrPattern, QString::fromUtf8(c.pattern));
      QCOMPARE(choice->startIndex, c.start);
    }
    QVERIFY(!ParseFrameFile(root + QStringLiteral("/shots/frame.bmp")).has_value());
    QVERIFY(!ParseFrameFile(root + QStringLiteral("/shots/f1234567890.bmp")).has_value());
  }

  void StartFolderIsChosenNotAssumed() {
    QTemporaryDir home, work, last, empty;
    SaveParams((home.path() + QStringLiteral("/param.txt")).toStdString(), InitParams());
    SaveParams((work.path() + QStringLiteral("/param.txt")).toStdString(), InitParams());
    const QString gone = last.path() + QStringLiteral("/gone");
    struct Case {
      QString argument, current, lastFolder;
      StartSource source;
      QString path;
    };
    const Case cases[] = {
        {QStringLiteral("/x/lr-0.bmp"), work.path(), last.path(), StartSource::Argument, QStringLiteral("/x/lr-0.bmp")},
        {QString(), work.path(), last.path(), StartSource::CurrentFolder, work.path()},
        {QString(), home.path(), last.path(), StartSource::LastFolder, last.path()},  // never the home folder
        {QString(), empty.path(), last.path(), StartSource::LastFolder, last.path()},  // nothing to work on
        {QString(), home.path(), gone, StartSource::Ask, QString()},
        {QString(), home.path(), QString(), StartSource::Ask, QString()},
    };
    for (const Case& c : cases) {
      const StartChoice choice = ChooseStartFolder(c.argument, c.current, home.path(), c.lastFolder);
      QVERIFY2(choice.source == c.source && choice.path == c.path, qPrintable(c.current + " " + c.lastFolder));
    }
    // A folder of OpenEXR or camera raw frames (or with them in images/) is one to work on.
    for (const char* name : {"shot-0.exr", "images/IMG_0001.DNG", "burst-0.nef"}) {
      QTemporaryDir frames;
      QVERIFY(!LooksLikeWorkingFolder(frames.path()));
      QDir(frames.path()).mkpath(QStringLiteral("images"));
      QFile file(frames.filePath(QString::fromUtf8(name)));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.close();
      QVERIFY2(LooksLikeWorkingFolder(frames.path()), name);
    }
  }

  // `lumet DIR` from another folder works on DIR and writes nothing where it started.
  void OpensTheFolderGivenAsArgument() {
    QTemporaryDir sequence;
    WriteSmallSequence(sequence.path());
    QFile::remove(sequence.filePath(QStringLiteral("param.txt")));
    TempCwd started;
    MainWindow window;
    window.Start(sequence.path());
    QVERIFY(window.Dialog() != nullptr);
    QCOMPARE(Canonical(QDir::currentPath()), Canonical(sequence.path()));
    QVERIFY(QFile::exists(sequence.filePath(QStringLiteral("param.txt"))));  // written at start-up
    QVERIFY(QDir(started.dir.path()).isEmpty());
    QVERIFY(window.windowTitle().contains(QDir::toNativeSeparators(QDir::cleanPath(sequence.path()))));
    QCOMPARE(QSettings().value("folders/last").toString(), QDir::cleanPath(sequence.path()));
    // The next start from a folder with nothing in it takes the last folder.
    QDir::setCurrent(started.dir.path());
    MainWindow again;
    again.Start();
    QCOMPARE(again.WorkingFolder(), QDir::cleanPath(sequence.path()));
  }

  // Started in the home folder with nothing remembered: the home folder's param.txt is
  // neither read nor written; the folder the user picks is.
  void HomeFolderIsLeftAloneUnlessChosen() {
    TempCwd home;
    const QByteArray previousHome = qgetenv("HOME");
    qputenv("HOME", home.dir.path().toUtf8());
    ParamSet odd = InitParams();
    odd.lrCount = 7;
    SaveParams("param.txt", odd);
    const QByteArray before = ReadBytes(QStringLiteral("param.txt"));
    QTemporaryDir picked;
    {
      MainWindow window;
      int asked = 0;
      window.askFolder = [&asked] { return ++asked, QString(); };
      window.Start();
      QVERIFY(asked == 1 && window.Dialog() == nullptr);
      QVERIFY(!window.findChild<QAction*>(QStringLiteral("actionCommand1001"))->isEnabled());
      window.askFolder = [&picked] { return picked.path(); };
      window.Start();
      QVERIFY(window.Dialog() != nullptr);
      QCOMPARE(Field(*window.Dialog(), 1009)->text(), QStringLiteral("30"));  // not the home folder's 7
      QVERIFY(QFile::exists(picked.filePath(QStringLiteral("param.txt"))));
    }
    QCOMPARE(ReadBytes(home.dir.filePath(QStringLiteral("param.txt"))), before);
    qputenv("HOME", previousHome);
  }

  void DropOpensAFrameFileOrAFolder() {
    QTemporaryDir sequence, other;
    WriteSmallSequence(sequence.path());
    WriteSmallSequence(other.path(), {10, 10, 30, 30});
    TempCwd started;
    MainWindow window;
    window.askFolder = [] { return QString(); };
    window.Start();
    QVERIFY(window.Dialog() == nullptr);
    ParamSet stored = InitParams();
    stored.lrPattern = "./elsewhere/x%d.bmp";
    SaveParams(sequence.filePath(QStringLiteral("param.txt")).toStdString(), stored);

    Drop(window, sequence.filePath(QStringLiteral("images/lr-0.bmp")));
    QVERIFY(window.Dialog() != nullptr);
    QCOMPARE(window.WorkingFolder(), QDir::cleanPath(sequence.path()));
    QCOMPARE(Field(*window.Dialog(), 1007)->text(), QStringLiteral("./images/lr-%d.bmp"));
    QCOMPARE(Field(*window.Dialog(), 1009)->text(), QString::number(kFrames));  // frames 0 .. 3
    QCOMPARE(QString::fromUtf8(ReadBytes(sequence.filePath(QStringLiteral("param.txt")))).section(u'\n', 0, 0),
             QStringLiteral("./images/lr-%d.bmp"));

    // A later frame starts the sequence there: frames 1 .. 3 are the reference and two more.
    Drop(window, sequence.filePath(QStringLiteral("images/lr-1.bmp")));
    QCOMPARE(window.Dialog()->Params().startIndex, 1);
    QCOMPARE(Field(*window.Dialog(), 1009)->text(), QString::number(kFrames - 1));

    Drop(window, other.path());
    QCOMPARE(window.WorkingFolder(), QDir::cleanPath(other.path()));
    QCOMPARE(Field(*window.Dialog(), 1016)->text(), QStringLiteral("10"));
    QVERIFY(QDir(started.dir.path()).isEmpty());

    // A video: its folder, its name as the pattern, frame 0 first, its frames counted.
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=5", "-frames:v",
                                            "4", "-c:v", "ffv1", other.filePath(QStringLiteral("clip.mkv"))});
    if (ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0) {
      Drop(window, other.filePath(QStringLiteral("clip.mkv")));
      QCOMPARE(window.WorkingFolder(), QDir::cleanPath(other.path()));
      QCOMPARE(Field(*window.Dialog(), 1007)->text(), QStringLiteral("./clip.mkv"));
      QCOMPARE(Field(*window.Dialog(), 1009)->text(), QStringLiteral("3"));
    } else {
      qWarning("ffmpeg could not make a test video; the video case is left out");
    }

    // What cannot be opened leaves the folder as it was and says why.
    Drop(window, other.filePath(QStringLiteral("param.txt")));
    QCOMPARE(window.WorkingFolder(), QDir::cleanPath(other.path()));
    QVERIFY2(window.statusBar()->currentMessage().contains(QStringLiteral("no frame number")),
             qPrintable(window.statusBar()->currentMessage()));
  }

  void ZoomKeepsThePointUnderThePointer() {
    WindowWithPicture w;
    ViewerPane& pane = *w.pane;
    QVERIFY(pane.FitsPane());
    const QRectF shown(pane.PictureToWidget({0, 0}), pane.PictureToWidget({double(kWidth), double(kHeight)}));
    QVERIFY(QRectF(pane.rect()).adjusted(-0.5, -0.5, 0.5, 0.5).contains(shown));  // fit: all of it shows
    const double fitZoom = pane.Zoom();
    for (const QPointF at : {QPointF(10, 12), QPointF(pane.width() / 2.0, pane.height() / 3.0), QPointF(pane.width() - 3, 5)}) {
      for (const int delta : {120, 240, -120, -360}) {
        const QPointF under = pane.WidgetToPicture(at);
        const double zoom = pane.Zoom();
        Wheel(pane, at, delta);
        QVERIFY(std::abs(pane.Zoom() - zoom * std::pow(ViewerPane::kZoomStep, delta / 120.0)) < 1e-9);
        const QPointF now = pane.WidgetToPicture(at);
        QVERIFY2(std::abs(now.x() - under.x()) < 1e-9 && std::abs(now.y() - under.y()) < 1e-9,
                 qPrintable(QStringLiteral("%1,%2 by %3").arg(at.x()).arg(at.y()).arg(delta)));
      }
    }
    // The View menu's keys act around the pointer too.
    const QPointF at(30, 40);
    SendMouse(pane, QEvent::MouseMove, at, Qt::NoButton);
    const QPointF under = pane.WidgetToPicture(at);
    QAction* zoomIn = w.window.findChild<QAction*>(QStringLiteral("actionZoomIn"));
    QVERIFY(zoomIn->shortcuts().contains(QKeySequence(QKeySequence::ZoomIn)));
    const double zoom = pane.Zoom();
    zoomIn->trigger();
    QCOMPARE(pane.Zoom(), zoom * ViewerPane::kZoomStep);
    QVERIFY(std::abs(pane.WidgetToPicture(at).x() - under.x()) < 1e-9 && !pane.FitsPane());
    w.window.findChild<QAction*>(QStringLiteral("actionActualSize"))->trigger();
    QCOMPARE(pane.Zoom(), 1.0);
    // Dragging with the middle button pans, wherever it starts.
    for (const QPointF start : {pane.PictureToWidget({5, 5}), pane.PictureToWidget({70, 50})}) {
      DragWith(pane, Qt::MiddleButton, start, start + QPointF(25, -10));
      QCOMPARE(w.window.Dialog()->Params().roi, (RoiRect{60, 40, 100, 80}));  // a drag is no click
    }
    const QPointF start = pane.PictureToWidget({5, 5});
    const QPointF before = pane.WidgetToPicture(start);
    DragWith(pane, Qt::MiddleButton, start, start + QPointF(25, -10));
    QVERIFY(std::abs(pane.WidgetToPicture(start + QPointF(25, -10)).x() - before.x()) < 1e-9);
    QCOMPARE(w.window.Dialog()->Params().roi, (RoiRect{60, 40, 100, 80}));
    w.window.findChild<QAction*>(QStringLiteral("actionFit"))->trigger();
    QCOMPARE(pane.Zoom(), fitZoom);
  }

  // A drag on the frame away from the ROI draws a new one, in either direction; Space held
  // turns the drag into a pan, even inside the ROI; the View tool bar's Fit and 100 %
  // buttons act on the pane.
  void DragDrawsANewRoiAndSpacePans() {
    WindowWithPicture w;  // ROI 60, 40, 100, 80
    ViewerPane& pane = *w.pane;
    pane.SetView(2.0, QPointF(0, 0));
    Drag(pane, pane.PictureToWidget({10, 12}), pane.PictureToWidget({30, 27}));
    QCOMPARE(w.window.Dialog()->Params().roi, (RoiRect{10, 12, 30, 27}));
    QCOMPARE(w.FieldText(1016), QStringLiteral("10"));
    QCOMPARE(w.FieldText(1018), QStringLiteral("20"));
    QCOMPARE(w.FieldText(1019), QStringLiteral("15"));
    Drag(pane, pane.PictureToWidget({90, 70}), pane.PictureToWidget({50, 45}));  // up and to the left
    QCOMPARE(w.window.Dialog()->Params().roi, (RoiRect{50, 45, 90, 70}));
    QVERIFY(w.window.UndoAction()->isEnabled());
    // Space held: the picture moves, the ROI stays.
    QTest::keyPress(&pane, Qt::Key_Space);
    const QPointF from = pane.PictureToWidget({60, 50});
    Drag(pane, from, from + QPointF(30, 20));
    QTest::keyRelease(&pane, Qt::Key_Space);
    QCOMPARE(w.window.Dialog()->Params().roi, (RoiRect{50, 45, 90, 70}));
    QVERIFY(std::abs(pane.WidgetToPicture(from + QPointF(30, 20)).x() - 60) < 1e-9);
    // After Space, a drag draws again.
    Drag(pane, pane.PictureToWidget({5, 5}), pane.PictureToWidget({9, 8}));
    QCOMPARE(w.window.Dialog()->Params().roi, (RoiRect{5, 5, 9, 8}));
    // Fit and 100 % are buttons of a visible tool bar.
    auto* bar = w.window.findChild<QToolBar*>(QStringLiteral("zoomToolBar"));
    QVERIFY(bar != nullptr && bar->isVisible());
    for (const char* name : {"actionFit", "actionActualSize"}) {
      QAction* action = w.window.findChild<QAction*>(QString::fromLatin1(name));
      QVERIFY(bar->actions().contains(action) && bar->widgetForAction(action)->isVisible());
    }
    qobject_cast<QAbstractButton*>(bar->widgetForAction(w.window.findChild<QAction*>(QStringLiteral("actionActualSize"))))->click();
    QCOMPARE(w.window.ActivePane()->Zoom(), 1.0);
    qobject_cast<QAbstractButton*>(bar->widgetForAction(w.window.findChild<QAction*>(QStringLiteral("actionFit"))))->click();
    QVERIFY(w.window.ActivePane()->FitsPane());
  }

  void DraggingTheRoiEditsTheFields() {
    WindowWithPicture w;  // ROI 60, 40, 100, 80
    ViewerPane& pane = *w.pane;
    QVERIFY(pane.width() > 240 && pane.height() > 200);
    pane.SetView(2.0, QPointF(-60, -20));  // two device pixels per picture pixel
    const double s = pane.PictureToWidget({1, 0}).x() - pane.PictureToWidget({0, 0}).x();
    // The right edge, 10 picture pixels outwards: w grows by 10.
    Drag(pane, pane.PictureToWidget({100, 60}), pane.PictureToWidget({100, 60}) + QPointF(10 * s, 0));
    QCOMPARE(w.FieldText(1018), QStringLiteral("50"));
    QCOMPARE(w.FieldText(1019), QStringLiteral("40"));
    // The bottom-right corner: both.
    Drag(pane, pane.PictureToWidget({110, 80}), pane.PictureToWidget({110, 80}) + QPointF(-20 * s, 6 * s));
    QCOMPARE(w.FieldText(1018), QStringLiteral("30"));
    QCOMPARE(w.FieldText(1019), QStringLiteral("46"));
    // The left edge moves x and keeps the right edge.
    Drag(pane, pane.PictureToWidget({60, 60}), pane.PictureToWidget({55, 60}));
    QCOMPARE(w.FieldText(1016), QStringLiteral("55"));
    QCOMPARE(w.FieldText(1018), QStringLiteral("35"));
    // The inside moves the whole ROI.
    Drag(pane, pane.PictureToWidget({70, 60}), pane.PictureToWidget({73, 52}));
    QCOMPARE(w.window.Dialog()->Params().roi, (RoiRect{58, 32, 93, 78}));
    // A click outside centres it there, as in the floating viewer.
    SendMouse(pane, QEvent::MouseButtonPress, pane.PictureToWidget({20.5, 30.5}));
    SendMouse(pane, QEvent::MouseButtonRelease, pane.PictureToWidget({20.5, 30.5}), Qt::NoButton);
    QCOMPARE(w.window.Dialog()->Params().roi, (RoiRect{3, 7, 38, 53}));
    QCOMPARE(w.FieldText(1016), QStringLiteral("3"));
    // The fields drive the outline; on screen it has a dark line outside the olive one.
    Field(*w.window.Dialog(), 1016)->setText(QStringLiteral("100"));
    const QImage screen = pane.grab().toImage();
    QCOMPARE(PixelAt(screen, pane.PictureToWidget({100.5, 30})), qRgb(128, 128, 0));
    QVERIFY(qGray(PixelAt(screen, pane.PictureToWidget({100, 30}) - QPointF(0.5, 0))) < 0x30);  // dark outside
    QVERIFY(qGray(PixelAt(screen, pane.PictureToWidget({101, 30}) + QPointF(0.5, 0))) > 0xD0);  // light inside
    QCOMPARE(PixelAt(screen, pane.PictureToWidget({104, 30})), qRgb(0x60, 0x60, 0x60));
  }

  void ComparisonSplitFollowsTheDrag() {
    WindowWithPicture w;
    CLumetDlg& dialog = *w.window.Dialog();
    dialog.CreateViewerWindow(Viewer::Frame, QStringLiteral("First Frame"), ScreenRect{});
    ViewerPane& pane = *w.window.Pane(Viewer::Frame);
    pane.FitTo(120, 120);
    pane.SetImage(Uniform(120, 120, 0x0000FF));       // before: red (0xBBGGRR)
    pane.SetCompareImage(Uniform(120, 120, 0xFF0000));  // after: blue
    pane.SetMode(kModeComparison);
    pane.FitToPane();
    QVERIFY(pane.HasResult() && w.window.SaveResultAction() != nullptr);
    QCOMPARE(pane.SplitFraction(), 0.5);
    for (const double target : {0.25, 0.8, 0.5}) {
      const QPointF from(pane.SplitX(), pane.PictureToWidget({0, 60}).y());
      const QPointF to(pane.PictureToWidget({target * 120, 0}).x(), from.y() + 7);
      Drag(pane, from, to);
      QVERIFY2(std::abs(pane.SplitFraction() - target) < 1e-9, qPrintable(QString::number(pane.SplitFraction())));
      const QImage screen = pane.grab().toImage();
      const double y = pane.PictureToWidget({0, 100}).y();
      QCOMPARE(PixelAt(screen, {pane.SplitX() - 12, y}), qRgb(255, 0, 0));
      QCOMPARE(PixelAt(screen, {pane.SplitX() + 12, y}), qRgb(0, 0, 255));
    }
    // Dragging elsewhere pans and leaves the split where it is in the picture.
    Drag(pane, pane.PictureToWidget({10, 10}), pane.PictureToWidget({10, 10}) + QPointF(30, 0));
    QCOMPARE(pane.SplitFraction(), 0.5);
  }

  // The comparison's views show the two pictures with one zoom and pan: a picture point
  // shows the before picture's pixel left of the wipe and the after one's right of it, the
  // same point of both in the two halves side by side, |before - after| x 4 in the
  // difference; held F shows the before picture whole in every view.
  void ComparisonViewsShareOneZoomAndPan() {
    WindowWithPicture w;
    ViewerPane& pane = *w.pane;
    QImage before(90, 60, QImage::Format_RGB32), after(90, 60, QImage::Format_RGB32);
    for (int y = 0; y < 60; ++y) {
      for (int x = 0; x < 90; ++x) {
        before.setPixel(x, y, qRgb(2 * x, 3 * y, 200));
        after.setPixel(x, y, qRgb(2 * x + 10, 3 * y, 180 - x));
      }
    }
    pane.SetSplitPictures(before, after, QStringLiteral("A"), QStringLiteral("B"));
    pane.SetMode(kModeComparison);
    pane.resize(600, 300);
    pane.SetView(3.0, QPointF(-40, 20));  // zoomed in and panned: part of the picture only
    const auto expectSide = [&](const char* what, const std::function<QRgb(int, int, QPointF)>& expected) {
      const QImage screen = pane.grab().toImage();
      int checked = 0;
      for (int y = 20; y < 55; y += 7) {
        for (int x = 20; x < 90; x += 9) {
          const QPointF centre = pane.PictureToWidget(QPointF(x + 0.5, y + 0.5));
          // Side by side, the point shows in both halves.
          const bool sideBySide = pane.View() == ViewerPane::CompareView::SideBySide && !pane.Flipped();
          for (const double shift : {0.0, sideBySide ? pane.width() / 2.0 : -1.0}) {
            if (shift < 0) continue;
            const QPointF at = centre + QPointF(shift, 0);
            // Clear of the labels, the wipe's line and the halves' divider, in its own half.
            const double half = pane.width() / 2.0;
            if (!QRectF(pane.rect()).adjusted(2, 40, -2, -2).contains(at) || std::abs(at.x() - pane.SplitX()) < 14 ||
                (sideBySide && (std::abs(at.x() - half) < 3 || (shift > 0) != (at.x() > half)))) {
              continue;
            }
            QPoint pixel;
            QRgb colour = 0;
            QVERIFY(pane.PixelUnder(at, pixel, colour));
            QCOMPARE(pixel, QPoint(x, y));
            QCOMPARE(colour, expected(x, y, at));
            QVERIFY2(PixelAt(screen, at) == expected(x, y, at), qPrintable(QStringLiteral("%1 at %2,%3").arg(what).arg(x).arg(y)));
            ++checked;
          }
        }
      }
      QVERIFY2(checked > 10, what);
    };
    QCOMPARE(pane.View(), ViewerPane::CompareView::Wipe);
    expectSide("wipe", [&](int x, int y, QPointF at) { return (at.x() < pane.SplitX() ? before : after).pixel(x, y); });
    pane.SetCompareView(ViewerPane::CompareView::SideBySide);
    QCOMPARE(pane.Zoom(), 3.0);
    expectSide("side by side", [&](int x, int y, QPointF at) { return (at.x() < pane.width() / 2.0 ? before : after).pixel(x, y); });
    // Zoom and pan act on both halves at once.
    pane.ZoomAt(1.25, QPointF(pane.width() * 0.75, 150));
    QCOMPARE(pane.Zoom(), 3.75);
    expectSide("side by side, zoomed", [&](int x, int y, QPointF at) { return (at.x() < pane.width() / 2.0 ? before : after).pixel(x, y); });
    pane.SetCompareView(ViewerPane::CompareView::Difference);
    expectSide("difference", [&](int x, int, QPointF) {
      return qRgb(40, 0, std::min(255, 4 * std::abs(200 - (180 - x))));
    });
    for (const auto view : {ViewerPane::CompareView::Wipe, ViewerPane::CompareView::SideBySide, ViewerPane::CompareView::Difference}) {
      pane.SetCompareView(view);
      pane.SetView(3.0, QPointF(-40, 20));
      pane.setFocus();
      QTest::keyPress(&pane, Qt::Key_F);
      QVERIFY(pane.Flipped());
      expectSide("held F", [&](int x, int y, QPointF) { return before.pixel(x, y); });
      QTest::keyRelease(&pane, Qt::Key_F);
      QVERIFY(!pane.Flipped());
    }
  }

  void RefusedValueMarksItsField() {
    QCOMPARE(FieldsNamedBy(QStringLiteral("the ROI (1, 2)-(3, 4) does not lie inside the reference frame x"), "./images/lr-%d.bmp"),
             (std::vector<int>{1016, 1017, 1018, 1019}));
    QCOMPARE(FieldsNamedBy(QStringLiteral("./images/lr-0.bmp: cannot open the file"), "./images/lr-%d.bmp"), std::vector<int>{1007});
    QCOMPARE(FieldsNamedBy(QStringLiteral("filter sigma -1 is not a positive number"), "./a%d.bmp"), std::vector<int>{1020});
    QCOMPARE(FieldsNamedBy(QStringLiteral("PSF sigma 9 is out of range"), "./a%d.bmp"), std::vector<int>{1010});
    QCOMPARE(FieldsNamedBy(QStringLiteral("SAD size 0 is out of range"), "./a%d.bmp"), std::vector<int>{1023});
    QVERIFY(FieldsNamedBy(QStringLiteral("out of memory"), "./a%d.bmp").empty());

    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    MainWindow window;
    window.Start(cwd.dir.path());
    QLineEdit* pattern = Field(*window.Dialog(), 1007);
    pattern->setText(QStringLiteral("./images/lr-%s.bmp"));
    window.findChild<QAction*>(QStringLiteral("actionCommand1001"))->trigger();
    QVERIFY(!window.Dialog()->CommandRunning());
    QVERIFY(IsMarkedRefused(pattern) && !IsMarkedRefused(Field(*window.Dialog(), 1008)));
    QVERIFY(window.statusBar()->currentMessage().startsWith(QStringLiteral("Error: LR pattern")));
    QVERIFY(window.Dialog()->LogText().startsWith(QStringLiteral("Error: LR pattern")));  // the log line as before
    QTest::keyClick(pattern, Qt::Key_Backspace);
    QVERIFY(!IsMarkedRefused(pattern));
    // A missing frame, reported by the command itself, points at the LR files too.
    pattern->setText(QStringLiteral("./images/none-%d.bmp"));
    QVERIFY(!RunCommand(window, 1001));
    QVERIFY(IsMarkedRefused(pattern));
    // A value out of range marks its own field: the ROI's height is the fourth field.
    Field(*window.Dialog(), 1007)->setText(QStringLiteral("./images/lr-%d.bmp"));
    Field(*window.Dialog(), 1019)->setText(QStringLiteral("-5"));
    QVERIFY(!window.Dialog()->ReadControls());
    QVERIFY(IsMarkedRefused(Field(*window.Dialog(), 1019)));
    for (int id : {1016, 1017, 1018, 1007}) QVERIFY2(!IsMarkedRefused(Field(*window.Dialog(), id)), qPrintable(QString::number(id)));
  }

  // A whole run inside the window: viewers are docks beside the controls, the files written
  // are named in the log, the result can be saved from File > Save Result As….
  void CommandsRunInsideTheWindow() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    MainWindow window;
    window.resize(1100, 700);
    window.show();
    window.Start(cwd.dir.path());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.SaveResultAction()->isEnabled());
    QVERIFY(RunCommand(window, 1002));
    QVERIFY2(LogLines(*window.Dialog()).last() ==
                 QStringLiteral("Wrote ./param.txt, ./result/hr_hom-1.txt … ./result/hr_hom-3.txt, ./steet_rms.txt"),
             qPrintable(window.Dialog()->LogText()));
    QVERIFY(RunCommand(window, 1004));
    // The command's files, then the run kept under its own name.
    const QStringList lines = LogLines(*window.Dialog());
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("Wrote ./param.txt, ./result/first_lr.bmp, ./result/hr.bmp"));
    QCOMPARE(lines.last(), QStringLiteral("Wrote ./result/hr-classic-1.png, ./result/hr-classic-1.txt"));
    ViewerPane* ref = window.Pane(Viewer::Reference);
    ViewerPane* frame = window.Pane(Viewer::Frame);
    QVERIFY(ref != nullptr && frame != nullptr && ref->HasResult());
    const QRect controls = window.ControlsDock()->geometry();
    for (ViewerPane* pane : {ref, frame}) {
      QVERIFY(pane->window() == &window && pane->isVisible());
      QVERIFY(!QRect(pane->mapTo(&window, QPoint(0, 0)), pane->size()).intersects(controls));
    }
    QCOMPARE(window.ViewerDock(Viewer::Reference)->windowTitle(), ref->windowTitle());
    QVERIFY(window.SaveResultAction()->isEnabled());
    QVERIFY(window.SaveResultTo(QStringLiteral("copy.png")));
    QCOMPARE(QImage(QStringLiteral("copy.png")).convertToFormat(QImage::Format_RGB32),
             QImage(QStringLiteral("result/hr.bmp")).convertToFormat(QImage::Format_RGB32));
    QVERIFY(LogLines(*window.Dialog()).last().startsWith(QStringLiteral("Wrote ")));
  }

  // Esc cancels a Run right after the window opened, before anything was clicked or had
  // the focus: the key goes to the window itself, as the platform delivers it.
  void EscCancelsARunWithoutAPriorClick() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path(), {8, 8, 88, 72});
    MainWindow window;
    window.show();
    window.Start(cwd.dir.path());
    QVERIFY(QTest::qWaitForWindowActive(&window));
    if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
    QSignalSpy finished(&window, &MainWindow::runFinished);
    window.RunAction()->trigger();
    QVERIFY(window.Dialog()->CommandRunning());
    QAction* cancel = window.findChild<QAction*>(QStringLiteral("actionCancel"));
    QVERIFY(cancel != nullptr && cancel->isEnabled());
    QSignalSpy triggered(cancel, &QAction::triggered);
    QTest::keyClick(window.windowHandle(), Qt::Key_Escape);
    QCOMPARE(triggered.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 120000);  // the key's delivery may already have let it end
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(!window.Dialog()->CommandRunning() && !cancel->isEnabled());
    QVERIFY(!QFile::exists(QStringLiteral("result/hr.bmp")));  // the reconstruction never started
    QVERIFY(window.isVisible());
  }

  // Every command has a shortcut, shown in its menu entry and in its tool tip (the tool
  // bar's buttons and the dialog's buttons too).
  void EveryCommandShowsItsShortcut() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    MainWindow window;
    window.show();
    window.Start(cwd.dir.path());
    QStringList names;
    for (QAction* action : window.menuBar()->actions()) {
      for (QAction* entry : action->menu()->actions()) {
        if (entry->isSeparator() || entry->menu() != nullptr || entry->shortcut().isEmpty()) continue;
        names << entry->objectName();
        const QString key = entry->shortcut().toString(QKeySequence::NativeText);
        QVERIFY2(entry->toolTip().contains(key), qPrintable(entry->objectName() + QStringLiteral(": ") + entry->toolTip()));
        QVERIFY(entry->isShortcutVisibleInContextMenu() || !QApplication::testAttribute(Qt::AA_DontShowShortcutsInContextMenus));
      }
    }
    for (const char* name : {"actionCommand1001", "actionCommand1002", "actionCommand1004", "actionCommand1005", "actionRun",
                             "actionCancel", "actionOpen", "actionSaveResult", "actionUndo", "actionFit", "actionActualSize"}) {
      QVERIFY2(names.contains(QString::fromLatin1(name)), name);
    }
    QCOMPARE(window.findChild<QAction*>(QStringLiteral("actionCancel"))->shortcut(), QKeySequence(Qt::Key_Escape));
    // A text that changes (Undo names its step) keeps the key in the tip.
    TypeInto(Field(*window.Dialog(), 1010), QStringLiteral("0.7"));
    QVERIFY2(window.UndoAction()->toolTip().contains(window.UndoAction()->shortcut().toString(QKeySequence::NativeText)) &&
                 window.UndoAction()->toolTip() != QStringLiteral("Undo (Ctrl+Z)"),
             qPrintable(window.UndoAction()->toolTip()));
    for (const auto& [id, key] : {std::pair{1001, "Ctrl+1"}, {1002, "Ctrl+2"}, {1004, "Ctrl+3"}}) {
      QVERIFY2(Button(*window.Dialog(), id)->toolTip().endsWith(QStringLiteral("(%1)").arg(QString::fromLatin1(key))),
               qPrintable(Button(*window.Dialog(), id)->toolTip()));
    }
  }

  // Inside the window Esc cancels a running command instead of ending the program; closing
  // the window cancels it, waits for it, then closes.
  void EscCancelsAndClosingWaitsForTheCommand() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path(), {8, 8, 88, 72});  // hundreds of steps on a 240 x 192 grid
    MainWindow window;
    window.show();
    window.Start(cwd.dir.path());
    QVERIFY(RunCommand(window, 1002));
    for (const bool close : {false, true}) {
      QSignalSpy finished(window.Dialog(), &CLumetDlg::commandFinished);
      window.findChild<QAction*>(QStringLiteral("actionCommand1004"))->trigger();
      QVERIFY(window.Dialog()->CommandRunning() && !window.OpenAction()->isEnabled());
      close ? static_cast<void>(window.close()) : QTest::keyClick(Field(*window.Dialog(), 1009), Qt::Key_Escape);
      QVERIFY(window.isVisible() && window.Dialog()->isVisible());
      QVERIFY(finished.wait(120000));
      QCOMPARE(finished.at(0).at(0).toBool(), false);
      QVERIFY(LogLines(*window.Dialog()).contains(QStringLiteral("Cancelled")));
      QVERIFY2(window.isVisible() == !close, close ? "close" : "Esc");
      QVERIFY(close || (window.OpenAction()->isEnabled() && window.Dialog()->isVisible()));
    }
    QVERIFY(!QFile::exists(QStringLiteral("result/hr.bmp")));
  }
};

int main(int argc, char** argv) {
  CLumetApp app(argc, argv);
  // The tests' own settings, never the user's.
  QTemporaryDir settings;
  QSettings::setDefaultFormat(QSettings::IniFormat);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  MainWindowTest suite;
  return QTest::qExec(&suite, argc, argv);
}
#include "main_window_test.moc"
