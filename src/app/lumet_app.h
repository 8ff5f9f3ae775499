#pragma once

#include <QApplication>

namespace lumet {

// The application object: sets up the process for the window (numbers with a decimal
// point whatever the user's locale, the application icon, the settings' name) and runs
// the main window.
class CLumetApp : public QApplication {
  Q_OBJECT

 public:
  CLumetApp(int& argc, char** argv);

  // Runs the main window until it closes; the result is the process's exit status.
  // `open` names the working folder, a frame file or a video (empty: the window chooses).
  // A non-empty screenshotDir runs Show Reference, Registration and Reconstruction, saves
  // the pictures of the window, the dialog and the viewers there and exits.
  int InitInstance(const QString& screenshotDir = QString(), const QString& open = QString());
};

}  // namespace lumet
