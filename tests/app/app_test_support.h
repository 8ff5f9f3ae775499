#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QString>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/lumet_app.h"
#include "app/lumet_dlg.h"
#include "imageio/bmp_file.h"
#include "numeric/image_plane.h"
#include "params/param_set.h"
#include "util/atomic_file.h"

// QTest's main, with the application object the program uses (it fixes the numeric
// locale and installs the icon).
#define LUMET_QTEST_MAIN(TestClass)              \
  int main(int argc, char** argv) {              \
    lumet::CLumetApp app(argc, argv);            \
    TestClass test;                              \
    return QTest::qExec(&test, argc, argv);      \
  }

namespace lumet::apptest {

// Makes `dir` the working folder for its lifetime: the program works relative to it.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const QString& dir) : previous_(QDir::currentPath()) { QDir::setCurrent(dir); }
  ~ScopedCurrentDir() { QDir::setCurrent(previous_); }
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  QString previous_;
};

inline QString ReadText(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll());
}

inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

inline QStringList FileLines(const QString& path) { return ReadText(path).split(QLatin1Char('\n')); }

inline void WriteText(const QString& path, const std::string& text) {
  WriteFileAtomically(path.toStdString(), text);
}

// A smooth scene with corners everywhere: soft-edged checker cells of two sizes, tinted
// differently per channel, sampled at (x + dx, y + dy).
inline double SceneValue(double x, double y, int channel) {
  const double cells = std::tanh(3.0 * std::sin(0.31 * x + 0.4) * std::sin(0.27 * y + 0.9));
  const double fine = std::sin(0.9 * x + 0.37 * y) * std::cos(0.21 * x - 0.8 * y);
  const double tint = channel == 0 ? 1.0 : (channel == 1 ? 0.85 : 0.6);
  return 128.0 + tint * 80.0 * cells + 25.0 * fine + 8.0 * channel;
}

inline ColorGrayImage MakeFrame(int width, int height, double dx, double dy) {
  ColorGrayImage image;
  image.Create(width, height);
  image.mask.Fill(255);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const double v = std::round(SceneValue(x + dx, y + dy, c));
        image.channels[static_cast<size_t>(c)][y][x] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
      }
    }
  }
  return image;
}

// Writes frames 0 .. frames - 1 as dir/images/lr-<k>.bmp, frame k shifted by
// (0.6 k, -0.4 k) pixels, and a param.txt for them with a small ROI, scale 3 and small
// registration windows so that a whole run takes a moment.
struct SmallSequence {
  int width = 96;
  int height = 80;
  int frames = 4;
  int lrCount = 3;
  RoiRect roi{36, 28, 60, 52};
};

inline ParamSet SmallSequenceParams(const SmallSequence& seq) {
  ParamSet p = InitParams();
  p.lrCount = seq.lrCount;
  p.roi = seq.roi;
  p.scale = 3.0;
  p.sadSize = 6;
  p.searchArea = 8;
  return p;
}

inline void WriteSmallSequence(const QString& dir, const SmallSequence& seq = SmallSequence()) {
  QDir().mkpath(dir + QStringLiteral("/images"));
  for (int k = 0; k < seq.frames; ++k) {
    const ColorGrayImage frame = MakeFrame(seq.width, seq.height, 0.6 * k, -0.4 * k);
    BmpFile::WriteImage((dir + QStringLiteral("/images/lr-%1.bmp").arg(k)).toStdString(), frame, 0, 0, seq.width,
                        seq.height);
  }
  SaveParams((dir + QStringLiteral("/param.txt")).toStdString(), SmallSequenceParams(seq));
}

// Waits until the dialog's command has ended; false on timeout.
inline bool WaitForCommand(CLumetDlg& dialog, int timeoutMs = 120000) {
  if (!dialog.CommandRunning()) return true;
  QSignalSpy finished(&dialog, &CLumetDlg::commandFinished);
  return finished.wait(timeoutMs) || !dialog.CommandRunning();
}

inline QStringList LogLines(const CLumetDlg& dialog) {
  const QString text = dialog.LogText();
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

}  // namespace lumet::apptest
