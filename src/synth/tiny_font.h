#pragma once

#include <string_view>

namespace lumet {

// A 3 x 5 bitmap font (digits, capital letters and a few signs) for the small text of the
// resolution chart. Glyphs advance by 4 font pixels; unknown characters draw nothing.
class TinyFont {
 public:
  static constexpr int kGlyphWidth = 3;
  static constexpr int kGlyphHeight = 5;
  static constexpr int kAdvance = 4;

  // True when font pixel (column, row) of character ch is inked; false outside the glyph.
  static bool Ink(char ch, int column, int row);

  // Ink of text drawn with its top-left corner at (left, top) and font pixels of size
  // pixel, at the continuous position (x, y) (same units as left and top).
  static bool TextInk(std::string_view text, double left, double top, double pixel, double x, double y);

  // Width of text in font pixels (without the trailing gap).
  static int TextWidth(std::string_view text) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * kAdvance - (kAdvance - kGlyphWidth);
  }
};

}  // namespace lumet
