// The window's layout on small and high-density screens: the pictures get room at
// 800 x 600, the controls can be narrowed, hidden and brought back, the smallest window
// fits a 1920 x 1080 screen at 200 %, and a restored place stays on the screen. Run once
// at 100 % and once on a 1920 x 1080 screen at 200 % (see CMakeLists.txt).
#include <QDockWidget>
#include <QScreen>
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
