#pragma once

#include <QDialog>

namespace lumet {

// The version-information dialog: the application icon, "Lumet Version 1.0" and "OK".
class CVersionInfoDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CVersionInfoDlg(QWidget* parent = nullptr);
};

}  // namespace lumet
