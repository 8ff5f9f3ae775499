#include "app/lumet_app.h"

#include <QDir>
#include <QSettings>
#include <QTimer>
#include <clocale>
#include <cstdio>

#include "app/app_icon.h"
#include "app/lumet_dlg.h"
#include "util/parallel.h"
#include "view/img_wnd.h"

namespace lumet {

CLumetApp::CLumetApp(int& argc, char** argv) : QApplication(argc, argv) {
  // QApplication installs the user's locale; the fields are read with atof, which must
  // take "0.6" whatever the desktop's language.
  std::setlocale(LC_NUMERIC, "C");
  setApplicationName(QStringLiteral("lumet"));
  setApplicationDisplayName(QStringLiteral("Lumet"));
  setApplicationVersion(QStringLiteral("1.0"));
  setDesktopFileName(QStringLiteral("lumet"));
  setWindowIcon(MakeAppIcon());
}

namespace {

// Runs the three commands one after the other, then saves the three windows.
class ScreenshotRun : public QObject {
 public:
  ScreenshotRun(CLumetDlg& dialog, const QString& dir) : QObject(&dialog), dialog_(dialog), dir_(dir) {
    connect(&dialog_, &CLumetDlg::commandFinished, this, [this](bool ok) { Next(ok); });
  }

  void Start() { Next(true); }

 private:
  void Next(bool ok) {
    if (!ok) {
      Finish(1);
      return;
    }
    static constexpr CLumetDlg::Command kSteps[] = {CLumetDlg::Command::ShowReference, CLumetDlg::Command::Registration,
                                                     CLumetDlg::Command::Reconstruction};
    if (step_ < 3) {
      if (!dialog_.StartCommand(kSteps[step_++])) Finish(1);
      return;
    }
    Finish(0);
  }

  void Finish(int status) {
    if (!QDir().mkpath(dir_)) {
      std::fprintf(stderr, "lumet: cannot create %s\n", qPrintable(dir_));
      status = 1;
    } else {
      bool saved = dialog_.grab().save(dir_ + QStringLiteral("/dialog.png"));
      if (dialog_.refViewer != nullptr) saved = dialog_.refViewer->grab().save(dir_ + QStringLiteral("/reference-viewer.png")) && saved;
      if (dialog_.frameViewer != nullptr) saved = dialog_.frameViewer->grab().save(dir_ + QStringLiteral("/frame-viewer.png")) && saved;
      if (!saved) {
        std::fprintf(stderr, "lumet: cannot write the pictures to %s\n", qPrintable(dir_));
        status = 1;
      }
    }
    if (status != 0) std::fprintf(stderr, "%s\n", qPrintable(dialog_.LogText()));
    dialog_.done(status);
  }

  CLumetDlg& dialog_;
  QString dir_;
  int step_ = 0;
};

}  // namespace

int CLumetApp::InitInstance(const QString& screenshotDir) {
  // The window's own choice of threads (0 = every core), kept in its settings rather than
  // in param.txt: it changes only how fast the results come, never the results.
  SetThreadCount(QSettings().value(QStringLiteral("threads"), 0).toInt());
  CLumetDlg dialog;
  if (!screenshotDir.isEmpty()) {
    auto* run = new ScreenshotRun(dialog, screenshotDir);
    QTimer::singleShot(0, run, [run] { run->Start(); });
    return dialog.exec();
  }
  dialog.exec();
  // The dialog's result is of no interest: closing it is the normal end.
  return 0;
}

}  // namespace lumet
