#include "app/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <algorithm>

namespace lumet {

namespace {

// Rounded du * num / den.
int Scale(int du, int num, int den) {
  const long long product = static_cast<long long>(du) * num;
  const long long half = den / 2;
  return static_cast<int>(product >= 0 ? (product + half) / den : -((-product + half) / den));
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width of the 52 Latin letters, rounded, is the width a dialog template's
  // horizontal unit is based on.
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  avgCharWidth_ = std::max(1, (letters / 26 + 1) / 2);
  charHeight_ = std::max(1, metrics.height());
}

int DialogUnits::X(int du) const { return Scale(du, avgCharWidth_, 4); }

int DialogUnits::Y(int du) const { return Scale(du, charHeight_, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  // Convert the edges, not the extents, so that adjacent controls stay adjacent.
  const int left = X(x);
  const int top = Y(y);
  return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QFont DialogFont() {
  const QStringList families = QFontDatabase::families();
  for (const QString& name : {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic")}) {
    if (families.contains(name)) return QFont(name, 9);
  }
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(9);
  return font;
}

}  // namespace lumet
