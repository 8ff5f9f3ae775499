#pragma once

#include <QFont>
#include <QRect>

namespace lumet {

// Converts dialog units to pixels with the metrics of the dialog's font, as a dialog
// manager lays out a dialog template: x = du * averageCharWidth / 4 and
// y = du * charHeight / 8, rounded to the nearest pixel.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int averageCharWidth, int charHeight) : avgCharWidth_(averageCharWidth), charHeight_(charHeight) {}

  int X(int du) const;
  int Y(int du) const;
  // A template rectangle (x, y, width, height in dialog units) in pixels.
  QRect Rect(int x, int y, int width, int height) const;

  int AverageCharWidth() const { return avgCharWidth_; }
  int CharHeight() const { return charHeight_; }

 private:
  int avgCharWidth_;
  int charHeight_;
};

// The dialog font: 9 pt "ＭＳ Ｐゴシック" where installed, the system's sans-serif font
// otherwise.
QFont DialogFont();

}  // namespace lumet
