#pragma once

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <tuple>

#include "app/lumet_app.h"
#include "app/lumet_dlg.h"
#include "synth/synthetic_sequence.h"

// QTest's main, with the application object the program uses (numeric locale, icon).
#define LUMET_QTEST_MAIN(Suite) \
  int main(int argc, char** argv) { lumet::CLumetApp app(argc, argv); Suite s; return QTest::qExec(&s, argc, argv); }

namespace lumet::apptest {

// A fresh folder made the working folder for its lifetime: the program works relative to it.
struct TempCwd {
  QTemporaryDir dir;
  QString previous = QDir::currentPath();
  TempCwd() { QDir::setCurrent(dir.path()); }
  ~TempCwd() { QDir::setCurrent(previous); }
};

inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
inline QLineEdit* Field(QWidget& w, int id) { return w.findChild<QLineEdit*>(QString::number(id)); }
inline QRadioButton* Radio(QWidget& w, int id) { return w.findChild<QRadioButton*>(QString::number(id)); }
inline QPushButton* Button(QWidget& w, const QString& name) { return w.findChild<QPushButton*>(name); }
inline QPushButton* Button(QWidget& w, int id) { return Button(w, QString::number(id)); }
inline QStringList LogLines(const CLumetDlg& d) {
  return d.LogText().isEmpty() ? QStringList() : d.LogText().split(u'\n');
}

// A small synthetic sequence under dir (frames 0 .. 3 of 240 x 160, scale 3) and a param.txt
// with the given ROI and small registration windows so that a whole run takes a moment.
constexpr int kFrames = 3, kWidth = 240, kHeight = 160;
inline void WriteSmallSequence(const QString& dir, RoiRect roi = SynthRoi()) {
  SynthOptions options;
  std::tie(options.lrCount, options.width, options.height, options.scale) = std::tuple(kFrames, kWidth, kHeight, 3);
  WriteSyntheticSequence(dir.toStdString(), options);
  ParamSet p = InitParams();
  std::tie(p.lrCount, p.roi, p.scale, p.sadSize, p.searchArea) = std::tuple(kFrames, roi, 3.0, 6, 8);
  SaveParams((dir + QStringLiteral("/param.txt")).toStdString(), p);
}

}  // namespace lumet::apptest
