// The window's layout on small and high-density screens: the pictures get room at
// 800 x 600, the controls can be narrowed, hidden and brought back, every control of the
// Parameters dock is reachable without sideways scrolling, the smallest window fits a
// 1920 x 1080 screen at 200 %, pictures show at the zoom the status bar reads, and a
// restored place stays on the screen. Run at 100 % on the offscreen platform's screen, on a
// 1024 x 768 screen and on a 1920 x 1080 screen at 200 % (see CMakeLists.txt).
#include <QAbstractButton>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>

#include "window_test_support.h"

using namespace lumet;
using namespace lumet::apptest;

class LayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QSettings().clear(); }

  void SmallestWindowFitsTheScreen() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    MainWindow window;
    window.show();
    window.Start(cwd.dir.path());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize smallest = window.minimumSizeHint().expandedTo(window.minimumSize());
    QVERIFY2(smallest.width() <= 960 && smallest.height() <= 540,
             qPrintable(QStringLiteral("%1 x %2").arg(smallest.width()).arg(smallest.height())));
    // Opened on this screen, the whole window is on it (physical pixels included).
    const QRect screen = window.screen()->availableGeometry();
    QVERIFY2(screen.contains(window.frameGeometry()),
             qPrintable(QStringLiteral("%1 x %2 on %3 x %4").arg(window.width()).arg(window.height())
                            .arg(screen.width()).arg(screen.height())));
    const double dpr = window.devicePixelRatio();
    QVERIFY(window.width() * dpr <= screen.width() * dpr + 0.5);
    window.resize(smallest);
    QTest::qWait(20);
    for (Viewer viewer : {Viewer::Reference, Viewer::Frame}) QVERIFY(window.Pane(viewer)->isVisible());
  }

  // With the comparison's bar above the large viewer after a run, the smallest window still
  // fits 960 x 540, and every control of the bar and its note lie whole inside the viewer.
  void ComparisonBarFitsTheSmallestWindow() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    MainWindow window;
    window.show();
    window.Start(cwd.dir.path());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(RunBoth(window));
    QVERIFY(window.Compare(-1, 0));
    const QSize smallest = window.minimumSizeHint().expandedTo(window.minimumSize());
    QVERIFY2(smallest.width() <= 960 && smallest.height() <= 540,
             qPrintable(QStringLiteral("%1 x %2").arg(smallest.width()).arg(smallest.height())));
    for (const QSize size : {smallest, QSize(960, 540), QSize(1024, 700)}) {
      window.resize(size);
      QTest::qWait(20);
      QDockWidget* dock = window.ViewerDock(Viewer::Reference);
      auto* bar = window.findChild<QWidget*>(QStringLiteral("compareBar"));
      QVERIFY(bar->isVisible());
      for (QWidget* part : bar->findChildren<QWidget*>()) {
        if (!part->isVisible()) continue;
        const QRect placed(part->mapTo(dock, QPoint(0, 0)), part->size());
        QVERIFY2(dock->rect().contains(placed) && part->width() >= part->minimumSizeHint().width(),
                 qPrintable(QStringLiteral("%1 at %2 x %3").arg(part->objectName()).arg(size.width()).arg(size.height())));
      }
      QVERIFY(window.Pane(Viewer::Reference)->height() >= 90);
    }
  }

  // The frame bar (the frame, its slider, Window ± and Super-resolve) lies whole inside
  // the Frames viewer's dock in the smallest window and at 960 x 540.
  void FrameBarFitsTheSmallestWindow() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    MainWindow window;
    window.show();
    window.Start(cwd.dir.path());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize smallest = window.minimumSizeHint().expandedTo(window.minimumSize());
    QVERIFY2(smallest.width() <= 960 && smallest.height() <= 540,
             qPrintable(QStringLiteral("%1 x %2").arg(smallest.width()).arg(smallest.height())));
    for (const QSize size : {smallest, QSize(960, 540)}) {
      window.resize(size);
      QTest::qWait(20);
      QDockWidget* dock = window.ViewerDock(Viewer::Frame);
      auto* bar = window.findChild<QWidget*>(QStringLiteral("frameBar"));
      QVERIFY(bar->isVisible() && bar->isEnabled());
      int parts = 0;
      for (QWidget* part : bar->findChildren<QWidget*>()) {
        if (!part->isVisible() || qobject_cast<QLineEdit*>(part) != nullptr) continue;  // a spin box's own field
        const QRect placed(part->mapTo(dock, QPoint(0, 0)), part->size());
        QVERIFY2(dock->rect().contains(placed) && part->width() >= part->minimumSizeHint().width(),
                 qPrintable(QStringLiteral("%1 at %2 x %3").arg(part->objectName()).arg(size.width()).arg(size.height())));
        ++parts;
      }
      QVERIFY(parts >= 6);
      auto* button = bar->findChild<QAbstractButton*>(QStringLiteral("superResolveFrameButton"));
      QVERIFY(button != nullptr && button->width() >= button->sizeHint().width());
    }
  }

  // At 800 x 600 the viewers get at least half the width; the controls narrow, hide and
  // come back; View > Reference and Frames hide and show the viewers.
  void ViewersGetRoomAt800x600() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    MainWindow window;
    if (window.devicePixelRatio() != 1.0) QSKIP("800 x 600 is a 100 % layout");
    window.show();
    window.Start(cwd.dir.path());
    window.resize(800, 600);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(20);
    QDockWidget* controls = window.ControlsDock();
    ViewerPane* frame = window.Pane(Viewer::Frame);
    QVERIFY2(frame->width() >= 360, qPrintable(QString::number(frame->width())));
    QVERIFY(controls->width() <= 400);
    window.resizeDocks({controls}, {160}, Qt::Horizontal);
    QTest::qWait(20);
    QVERIFY2(frame->width() >= 560, qPrintable(QString::number(frame->width())));
    controls->toggleViewAction()->trigger();
    QTest::qWait(20);
    QVERIFY(!controls->isVisible() && frame->width() >= 740);
    controls->toggleViewAction()->trigger();
    QVERIFY(controls->isVisible());
    for (Viewer viewer : {Viewer::Reference, Viewer::Frame}) {
      QAction* toggle = window.ViewerDock(viewer)->toggleViewAction();
      QVERIFY(toggle->isEnabled());
      toggle->trigger();
      QVERIFY(!window.ViewerDock(viewer)->isVisible());
      toggle->trigger();
      QVERIFY(window.ViewerDock(viewer)->isVisible());
    }
  }

  // At the size the window opens with on this screen, and filling the screen: every field,
  // list, button and label of the controls lies within the dock's visible width, whole, so
  // that scrolling down reaches it; there is nothing to scroll sideways. The enhanced
  // method's own settings show while it is chosen, and only then.
  void EveryControlReachableWithoutSidewaysScrolling() {
    TempCwd cwd;
    WriteSmallSequence(cwd.dir.path());
    MainWindow window;
    window.show();
    window.Start(cwd.dir.path());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* scroll = window.findChild<QScrollArea*>(QStringLiteral("controlsScroll"));
    CLumetDlg& dialog = *window.Dialog();
    auto* method = dialog.findChild<QComboBox*>(QStringLiteral("1025"));
    QVERIFY(scroll != nullptr && method != nullptr);
    const QSize opened = window.size();
    const QRect screen = window.screen()->availableGeometry();
    const QSize full = screen.size() - (window.frameGeometry().size() - window.size());
    for (const QSize size : {opened, full}) {
      window.resize(size);
      for (const QString& word : {QStringLiteral("classic"), QStringLiteral("enhanced")}) {
        method->setCurrentIndex(method->findText(word));
        QTest::qWait(30);
        const QString where = QStringLiteral("%1 x %2 on %3 x %4 at %5 %, %6")
                                  .arg(window.width()).arg(window.height()).arg(screen.width()).arg(screen.height())
                                  .arg(window.devicePixelRatio() * 100).arg(word);
        QVERIFY2(scroll->horizontalScrollBar()->maximum() == 0,
                 qPrintable(where + QStringLiteral(": the controls need %1, the dock shows %2")
                                        .arg(dialog.minimumSizeHint().width()).arg(scroll->viewport()->width())));
        const int visibleWidth = scroll->viewport()->width();
        int controls = 0;
        for (QWidget* control : dialog.findChildren<QWidget*>()) {
          const bool kind = qobject_cast<QLineEdit*>(control) || qobject_cast<QComboBox*>(control) ||
                            qobject_cast<QAbstractButton*>(control) || qobject_cast<QPlainTextEdit*>(control) ||
                            qobject_cast<QLabel*>(control);
          if (!kind || !control->isVisibleTo(&dialog) || control->parentWidget() == nullptr ||
              qobject_cast<QComboBox*>(control->parentWidget()) != nullptr) {
            continue;
          }
          ++controls;
          const QRect shown(control->mapTo(scroll->viewport(), QPoint(0, 0)), control->size());
          const QString name = control->objectName() + QStringLiteral(" at ") + QString::number(shown.left()) +
                               QStringLiteral("..") + QString::number(shown.right()) + QStringLiteral(" of ") +
                               QString::number(visibleWidth) + QStringLiteral(", ") + where;
          QVERIFY2(shown.left() >= 0 && shown.right() < visibleWidth, qPrintable(name));
          // Whole: a label shows all its text, a field at least a few digits.
          if (auto* label = qobject_cast<QLabel*>(control)) {
            QVERIFY2(shown.width() >= label->minimumSizeHint().width(), qPrintable(name));
          } else if (qobject_cast<QLineEdit*>(control) != nullptr) {
            QVERIFY2(shown.width() >= control->fontMetrics().horizontalAdvance(QStringLiteral("00000")), qPrintable(name));
          } else {
            QVERIFY2(shown.width() >= control->minimumSizeHint().width(), qPrintable(name));
          }
        }
        QVERIFY(controls >= 40);
        const bool enhanced = word == QStringLiteral("enhanced");
        for (int id : {1028, 1029}) {
          QVERIFY2(Field(dialog, id) != nullptr && Field(dialog, id)->isVisibleTo(&dialog) == enhanced, qPrintable(where));
        }
        for (int id : {1009, 1010, 1016, 1020, 1024}) QVERIFY(Field(dialog, id)->isVisibleTo(&dialog));
      }
    }
  }

  // One zoom on any device-pixel ratio: at 100 % a picture pixel takes one logical pixel
  // (as many device pixels as the ratio) in either viewer, as the status bar reads, and Fit
  // fills the pane's width or height.
  void PicturesShowAtTheZoomTheyReadOut() {
    WindowWithPicture w;
    const double dpr = w.window.devicePixelRatio();
    // A grey picture with a white band ten pixels wide at x 20 .. 29.
    DibRaster picture = Uniform(kWidth, kHeight, 0x606060);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 20; x < 30; ++x) picture.SetPixelColor(x, y, 0xFFFFFF);
    }
    w.window.Dialog()->CreateViewerWindow(Viewer::Frame, QStringLiteral("LR frames"), ScreenRect{0, 0, 300, 300});
    for (Viewer viewer : {Viewer::Reference, Viewer::Frame}) {
      ViewerPane& pane = *w.window.Pane(viewer);
      pane.SetMode(kModeRoiSelection);
      pane.SetImage(picture);
      QTest::qWait(20);
      pane.FitToPane();
      const QPointF corner = pane.PictureToWidget({0, 0}), end = pane.PictureToWidget({double(kWidth), double(kHeight)});
      QVERIFY2(std::abs(end.x() - corner.x() - pane.width()) < 1.0 || std::abs(end.y() - corner.y() - pane.height()) < 1.0,
               qPrintable(QStringLiteral("fit %1 in %2 x %3").arg(pane.Zoom()).arg(pane.width()).arg(pane.height())));
      pane.SetView(1.0, QPointF(4, 4));
      SendMouse(pane, QEvent::MouseMove, QPointF(10, 10), Qt::NoButton);  // the read-out follows this pane
      QCOMPARE(pane.Zoom(), 1.0);
      QCOMPARE(w.window.findChild<QLabel*>(QStringLiteral("zoomInfo"))->text(), QStringLiteral("Zoom 100 %"));
      QTest::qWait(20);
      // Painted as the screen's backing store is, with the screen's device pixels.
      QImage screen(pane.size() * dpr, QImage::Format_RGB32);
      screen.setDevicePixelRatio(dpr);
      pane.render(&screen);
      const int row = int(std::floor((4 + 10) * dpr));
      int white = 0;
      for (int x = 0; x < screen.width(); ++x) white += screen.pixel(x, row) == qRgb(255, 255, 255) ? 1 : 0;
      QVERIFY2(std::abs(white - 10 * dpr) <= 1, qPrintable(QStringLiteral("%1 device pixels at ratio %2").arg(white).arg(dpr)));
      QCOMPARE(PixelAt(screen, QPointF(4 + 25, 4 + 10)), qRgb(255, 255, 255));
      QCOMPARE(PixelAt(screen, QPointF(4 + 35, 4 + 10)), qRgb(0x60, 0x60, 0x60));
    }
  }

  // A geometry saved on a larger screen, or at a place no screen shows, comes back on the
  // screen and no larger than it.
  void RestoredGeometryStaysOnTheScreen() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const QRect saved : {QRect(screen.right() + 500, screen.bottom() + 400, 700, 500),
                              QRect(-3000, 40, screen.width() * 2, screen.height() * 2)}) {
      {
        MainWindow first;
        first.show();
        first.setGeometry(saved);
        QTest::qWait(20);
        first.close();
      }
      MainWindow second;
      second.show();
      QVERIFY(QTest::qWaitForWindowExposed(&second));
      QVERIFY2(screen.contains(second.frameGeometry()),
               qPrintable(QStringLiteral("%1,%2 %3 x %4").arg(second.x()).arg(second.y()).arg(second.width()).arg(second.height())));
    }
  }
};

LUMET_QTEST_MAIN_WITH_SETTINGS(LayoutTest)
#include "layout_test.moc"
