#pragma once

#include <QApplication>

namespace lumet {

// The application object: sets up the process for the dialog (numbers with a decimal
// point whatever the user's locale, the application icon) and runs the main dialog.
class CLumetApp : public QApplication {
  Q_OBJECT

 public:
  CLumetApp(int& argc, char** argv);

  // Runs the main dialog in the working folder until it closes; the result is the
  // process's exit status. A non-empty screenshotDir runs Show Reference, Registration and
  // Reconstruction, saves the pictures of the dialog and its viewers there and exits.
  int InitInstance(const QString& screenshotDir = QString());
};

}  // namespace lumet
