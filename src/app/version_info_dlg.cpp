#include "app/version_info_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "app/dialog_units.h"

namespace lumet {

CVersionInfoDlg::CVersionInfoDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CVersionInfoDlg"));
  setWindowTitle(tr("About Lumet"));
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.X(235), du.Y(55));

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  const QRect iconRect = du.Rect(11, 17, 20, 20);
  icon->setGeometry(iconRect);
  icon->setPixmap(QApplication::windowIcon().pixmap(iconRect.size()));

  auto* text = new QLabel(tr("Lumet Version %1").arg(QStringLiteral("1.0")), this);
  text->setObjectName(QStringLiteral("text"));
  text->setGeometry(du.Rect(40, 10, 119, 8));

  auto* ok = new QPushButton(tr("OK"), this);
  ok->setObjectName(QStringLiteral("1"));  // IDOK
  ok->setGeometry(du.Rect(178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace lumet
