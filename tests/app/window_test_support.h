#pragma once

// Driving the main window in tests: mouse events, commands, pixels on screen.
#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStatusBar>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "app/main_window.h"
#include "app_test_support.h"
#include "view/viewer_pane.h"

// QTest's main with the tests' own settings, never the user's.
#define LUMET_QTEST_MAIN_WITH_SETTINGS(Suite)                                          \
  int main(int argc, char** argv) {                                                    \
    lumet::CLumetApp app(argc, argv);                                                  \
    QTemporaryDir settings;                                                            \
    QSettings::setDefaultFormat(QSettings::IniFormat);                                 \
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());   \
    Suite suite;                                                                       \
    return QTest::qExec(&suite, argc, argv);                                           \
  }

namespace lumet::apptest {

inline DibRaster Uniform(int width, int height, uint32_t color) {
  DibRaster raster(0);
  raster.Create(width, height, 24, 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) raster.SetPixelColor(x, y, color);
  }
  return raster;
}

inline void SendMouse(QWidget& widget, QEvent::Type type, QPointF at, Qt::MouseButtons held = Qt::LeftButton) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, at, widget.mapToGlobal(at), button, held, Qt::NoModifier);
  QApplication::sendEvent(&widget, &event);
}

// Press at `from`, move in a few steps, release at `to`.
inline void Drag(QWidget& widget, QPointF from, QPointF to) {
  SendMouse(widget, QEvent::MouseButtonPress, from);
  for (int i = 1; i <= 4; ++i) SendMouse(widget, QEvent::MouseMove, from + (to - from) * (i / 4.0));
  SendMouse(widget, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

// The screen pixel of a grabbed widget that holds the widget point.
inline QRgb PixelAt(const QImage& screen, QPointF at) {
  const qreal dpr = screen.devicePixelRatio();
  return screen.pixel(int(std::floor(at.x() * dpr)), int(std::floor(at.y() * dpr)));
}

inline bool RunCommand(MainWindow& window, int id) {
  QSignalSpy finished(window.Dialog(), &CLumetDlg::commandFinished);
  window.findChild<QAction*>(QStringLiteral("actionCommand%1").arg(id))->trigger();
  return finished.wait(120000) && finished.at(0).at(0).toBool();
}

// Run (registration, then reconstruction) from the window's action; true when both ended well.
inline bool RunBoth(MainWindow& window) {
  QSignalSpy finished(&window, &MainWindow::runFinished);
  window.RunAction()->trigger();
  return finished.wait(240000) && finished.at(0).at(0).toBool();
}

// What the window shows on screen now: the content of its backing store, not a fresh render.
inline QImage OnScreen(QWidget& widget) {
  QWidget* top = widget.window();
  const QRect area(widget.mapTo(top, QPoint(0, 0)), widget.size());
  return top->screen()->grabWindow(top->winId(), area.x(), area.y(), area.width(), area.height()).toImage();
}

// A window on a fresh folder with the small sequence, shown, with its reference pane made
// from a plain picture (as Show Reference would) and the ROI attached.
struct WindowWithPicture {
  TempCwd cwd;
  MainWindow window;
  ViewerPane* pane = nullptr;
  explicit WindowWithPicture(RoiRect roi = {60, 40, 100, 80}) {
    WriteSmallSequence(cwd.dir.path(), roi);
    window.resize(1100, 700);
    window.show();
    window.Start(cwd.dir.path());
    CLumetDlg& dialog = *window.Dialog();
    dialog.CreateViewerWindow(Viewer::Reference, QStringLiteral("frame"), ScreenRect{0, 0, 300, 300});
    pane = window.Pane(Viewer::Reference);
    pane->FitTo(kWidth, kHeight);
    pane->SetImage(Uniform(kWidth, kHeight, 0x606060));
    dialog.AttachRoiTo(Viewer::Reference);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    pane->FitToPane();
  }
  QString FieldText(int id) { return Field(*window.Dialog(), id)->text(); }
};

// A shown window opened on a fresh folder holding the small sequence (resets confirmed).
struct OpenWindow {
  TempCwd cwd;
  MainWindow window;
  explicit OpenWindow(RoiRect roi = SynthRoi()) {
    WriteSmallSequence(cwd.dir.path(), roi);
    window.resize(1100, 700);
    window.confirmReset = [](const QString&) { return true; };
    window.show();
    window.Start(cwd.dir.path());
  }
  CLumetDlg& Dialog() { return *window.Dialog(); }
  QString Status() { return window.statusBar()->currentMessage(); }
  ViewerPane& Ref() { return *window.Pane(Viewer::Reference); }
  ViewerPane& Frames() { return *window.Pane(Viewer::Frame); }
};

}  // namespace lumet::apptest
