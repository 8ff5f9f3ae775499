#include "app/lumet_app.h"

#include <QDir>
#include <QSettings>
#include <QTimer>
#include <clocale>
#include <cstdio>

#include "app/app_icon.h"
#include "app/lumet_dlg.h"
#include "app/main_window.h"
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
}

namespace {

// Runs the three commands one after the other, then saves the window and its parts.
class ScreenshotRun : public QObject {
 public:
  ScreenshotRun(MainWindow& window, const QString& dir) : QObject(&window), window_(window), dir_(dir) {}

  void Start() {
    if (window_.Dialog() == nullptr) {
      std::fprintf(stderr, "lumet: no working folder for the screenshots\n");
      QApplication::exit(1);
      return;
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
    static constexpr CLumetDlg::Command kSteps[] = {CLumetDlg::Command::ShowReference, CLumetDlg::Command::Registration,
                                                     CLumetDlg::Command::Reconstruction};
    if (step_ == 1 && window_.Dialog()->refViewer != nullptr) {
      // The reference frame with the ROI as the user places it, before the registration's marks.
      QApplication::processEvents();
      window_.Dialog()->refViewer->grab().save(dir_ + QStringLiteral("/reference-roi.png"));
    }
    if (step_ < 3) {
      if (!window_.Dialog()->StartCommand(kSteps[step_++])) Finish(1);
      return;
    }
    // Let the last pictures and the layout settle before grabbing.
    QTimer::singleShot(200, this, [this] { Finish(0); });
  }

  void Finish(int status) {
    CLumetDlg& dialog = *window_.Dialog();
    if (!QDir().mkpath(dir_)) {
      std::fprintf(stderr, "lumet: cannot create %s\n", qPrintable(dir_));
      status = 1;
    } else {
      bool saved = window_.grab().save(dir_ + QStringLiteral("/main-window.png"));
      saved = dialog.grab().save(dir_ + QStringLiteral("/dialog.png")) && saved;
      if (dialog.refViewer != nullptr) saved = dialog.refViewer->grab().save(dir_ + QStringLiteral("/reference-viewer.png")) && saved;
      if (dialog.frameViewer != nullptr) saved = dialog.frameViewer->grab().save(dir_ + QStringLiteral("/frame-viewer.png")) && saved;
      if (!saved) {
        std::fprintf(stderr, "lumet: cannot write the pictures to %s\n", qPrintable(dir_));
        status = 1;
      }
    }
    if (status != 0) std::fprintf(stderr, "%s\n", qPrintable(dialog.LogText()));
    QApplication::exit(status);
  }

  MainWindow& window_;
  QString dir_;
  int step_ = 0;
};

}  // namespace

int CLumetApp::InitInstance(const QString& screenshotDir, const QString& open) {
  // The window's own choice of threads (0 = every core), kept in its settings rather than
  // in param.txt: it changes only how fast the results come, never the results.
  SetThreadCount(QSettings().value(QStringLiteral("threads"), 0).toInt());
  MainWindow window;
  if (!screenshotDir.isEmpty()) {
    // A fixed size, whatever was saved, so the pictures compare from run to run.
    window.resize(1280, 760);
    window.askFolder = [] { return QString(); };
  }
  window.show();
  window.Start(open);
  if (!screenshotDir.isEmpty()) {
    auto* run = new ScreenshotRun(window, screenshotDir);
    QTimer::singleShot(0, run, [run] { run->Start(); });
  }
  return exec();
}

}  // namespace lumet
