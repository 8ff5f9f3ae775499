#include "app/lumet_app.h"

#include <QComboBox>
#include <QDir>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <clocale>
#include <cmath>
#include <cstdio>

#include "app/app_icon.h"
#include "app/dialog_controls.h"
#include "app/lumet_dlg.h"
#include "app/main_window.h"
#include "app/translation.h"
#include "util/parallel.h"
#include "view/viewer_pane.h"

namespace lumet {

CLumetApp::CLumetApp(int& argc, char** argv) : QApplication(argc, argv) {
  // QApplication installs the user's locale; the fields are read with atof, which must
  // take "0.6" whatever the desktop's language.
  std::setlocale(LC_NUMERIC, "C");
  setOrganizationName(QStringLiteral("Lumet"));
  setApplicationName(QStringLiteral("lumet"));
  setApplicationDisplayName(QStringLiteral("Lumet"));
  setApplicationVersion(QStringLiteral("1.0"));
  setDesktopFileName(QStringLiteral("lumet"));
  setWindowIcon(MakeAppIcon());
  // The texts in the desktop's language where there is a translation, else in English.
  InstallTranslation(QLocale::system());
}

namespace {

// Runs Show Reference, Registration and Reconstruction, saves the window and its parts,
// then runs the enhanced method too and the classic one at x2, saves the comparison of the
// first two runs, the window at 800 x 600, and the window filling its screen with the
// comparison of the x4 and x2 runs, named by the screen's size in device pixels.
class ScreenshotRun : public QObject {
 public:
  ScreenshotRun(MainWindow& window, const QString& dir) : QObject(&window), window_(window), dir_(dir) {}

  void Start() {
    if (window_.Dialog() == nullptr) {
      std::fprintf(stderr, "lumet: no working folder for the screenshots\n");
      QApplication::exit(1);
      return;
    }
    if (!QDir().mkpath(dir_)) {
      std::fprintf(stderr, "lumet: cannot create %s\n", qPrintable(dir_));
      QApplication::exit(1);
      return;
    }
    // The first run is the classic one, whatever the folder's param.txt chose last time.
    if (auto* method = window_.Dialog()->findChild<QComboBox*>(QStringLiteral("1025"))) {
      method->setCurrentText(QStringLiteral("classic"));
    }
    connect(window_.Dialog(), &CLumetDlg::commandFinished, this, [this](bool ok) { Next(ok); });
    Next(true);
  }

 private:
  void Next(bool ok) {
    if (!ok) {
      Finish(1);
      return;
    }
    using Command = CLumetDlg::Command;
    static constexpr Command kSteps[] = {Command::ShowReference, Command::Registration,  Command::Reconstruction,
                                         Command::Registration,  Command::Reconstruction, Command::Reconstruction};
    CLumetDlg& dialog = *window_.Dialog();
    if (step_ == 1 && dialog.refViewer != nullptr) {
      // The reference frame with the ROI as the user places it, before the registration's marks.
      QApplication::processEvents();
      Save(dialog.refViewer, "reference-roi.png");
    }
    if (step_ == 3) {
      // The classic run as it ends, then the same with the enhanced method.
      Save(&window_, "main-window.png");
      Save(&dialog, "dialog.png");
      Save(dialog.refViewer, "reference-viewer.png");
      Save(dialog.frameViewer, "frame-viewer.png");
      if (auto* method = dialog.findChild<QComboBox*>(QStringLiteral("1025"))) method->setCurrentText(QStringLiteral("enhanced"));
    }
    if (step_ == 5) {
      // The same frames at another scale: its comparison with the first run is resampled.
      if (auto* method = dialog.findChild<QComboBox*>(QStringLiteral("1025"))) method->setCurrentText(QStringLiteral("classic"));
      if (auto* x2 = dialog.findChild<QRadioButton*>(QString::number(kIdScaleX2))) x2->setChecked(true);
    }
    if (step_ < 6) {
      if (!dialog.StartCommand(kSteps[step_++])) Finish(1);
      return;
    }
    // Let the last pictures and the layout settle before grabbing.
    QTimer::singleShot(200, this, [this] { Finish(0); });
  }

  void Save(QWidget* widget, const char* name) {
    if (widget == nullptr || !widget->grab().save(dir_ + u'/' + QString::fromLatin1(name))) {
      std::fprintf(stderr, "lumet: cannot write %s to %s\n", name, qPrintable(dir_));
      failed_ = true;
    }
  }

  void Finish(int status) {
    CLumetDlg& dialog = *window_.Dialog();
    if (status == 0) {
      window_.Compare(0, 1);  // classic left, enhanced right
      QApplication::processEvents();
      Save(dialog.refViewer, "ab-comparison.png");
      window_.resize(800, 600);
      QApplication::processEvents();
      Save(&window_, "main-window-800x600.png");
      SaveComparisons();
      if (failed_) status = 1;
    }
    if (status != 0) std::fprintf(stderr, "%s\n", qPrintable(dialog.LogText()));
    QApplication::exit(status);
  }

  // The window as large as its screen, comparing the x4 run with the x2 one in each view.
  void SaveComparisons() {
    QScreen* screen = window_.screen();
    if (screen == nullptr) return;
    window_.resize(screen->availableGeometry().size());
    QApplication::processEvents();
    const qreal dpr = screen->devicePixelRatio();
    const QSize pixels = screen->geometry().size() * dpr;
    QString size = QStringLiteral("%1x%2").arg(pixels.width()).arg(pixels.height());
    if (dpr != 1.0) size += QStringLiteral("-%1").arg(std::lround(dpr * 100));
    auto* view = window_.findChild<QComboBox*>(QStringLiteral("compareView"));
    const char* const names[3] = {"comparison", "comparison-side-by-side", "comparison-difference"};
    for (int i = 0; i < 3 && view != nullptr; ++i) {
      window_.Compare(0, 2);
      view->setCurrentIndex(i);
      window_.Pane(Viewer::Reference)->FitToPane();
      QApplication::processEvents();
      Save(&window_, qPrintable(QStringLiteral("%1-%2.png").arg(QString::fromLatin1(names[i]), size)));
    }
  }

  MainWindow& window_;
  QString dir_;
  int step_ = 0;
  bool failed_ = false;
};

}  // namespace

int CLumetApp::InitInstance(const QString& screenshotDir, const QString& open) {
  // The window's own choice of threads (0 = every core), kept in its settings rather than
  // in param.txt: it changes only how fast the results come, never the results.
  SetThreadCount(QSettings().value(QStringLiteral("threads"), 0).toInt());
  MainWindow window;
  if (!screenshotDir.isEmpty()) window.askFolder = [] { return QString(); };
  window.show();
  // Keys reach the window from the start (F5, then Esc to cancel) even where nothing else
  // gives it the focus: X servers without a window manager, some remote desktops.
  window.activateWindow();
  // A fixed size, whatever was saved or the screen holds, so the pictures compare from run
  // to run (set once shown: showing keeps a window on its screen).
  if (!screenshotDir.isEmpty()) window.resize(1280, 760);
  window.Start(open);
  if (!screenshotDir.isEmpty()) {
    auto* run = new ScreenshotRun(window, screenshotDir);
    QTimer::singleShot(0, run, [run] { run->Start(); });
  }
  return exec();
}

}  // namespace lumet
