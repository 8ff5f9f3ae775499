#include "synth/tiny_font.h"

#include <gtest/gtest.h>

#include <string>

namespace lumet {
namespace {

int InkCount(char ch) {
  int count = 0;
  for (int row = 0; row < TinyFont::kGlyphHeight; ++row) {
    for (int column = 0; column < TinyFont::kGlyphWidth; ++column) count += TinyFont::Ink(ch, column, row) ? 1 : 0;
  }
  return count;
}

TEST(TinyFont, EveryDigitAndCapitalHasItsOwnGlyph) {
  // A character missing from the table would silently leave a gap in the chart's text.
  const std::string characters = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-.:/+=";
  for (char ch : characters) {
    SCOPED_TRACE(std::string(1, ch));
    EXPECT_GT(InkCount(ch), 0);
    for (char other : characters) {
      if (other == ch) continue;
      bool same = true;
      for (int row = 0; row < TinyFont::kGlyphHeight; ++row) {
        for (int column = 0; column < TinyFont::kGlyphWidth; ++column) {
          same = same && TinyFont::Ink(ch, column, row) == TinyFont::Ink(other, column, row);
        }
      }
      EXPECT_FALSE(same) << "same glyph as " << other;
    }
  }
  EXPECT_EQ(InkCount(' '), 0);
  EXPECT_EQ(InkCount('a'), 0);  // no lower case: nothing drawn
}

TEST(TinyFont, TextIsPlacedByFontPixels) {
  // "1" is .#. / ##. / .#. / .#. / ###; "L" is #.. / ... / ###: with font pixels of 0.5
  // from (10, 20), the second glyph starts 4 font pixels (2 units) to the right.
  const std::string text = "1L";
  EXPECT_TRUE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 10.6, 20.1));   // "1" column 1, row 0
  EXPECT_FALSE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 10.4, 20.1));  // column 0, row 0
  EXPECT_TRUE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 10.1, 20.6));   // column 0, row 1
  EXPECT_FALSE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 11.6, 20.1));  // the gap between glyphs
  EXPECT_TRUE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 12.1, 20.1));   // "L" column 0, row 0
  EXPECT_FALSE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 12.6, 20.1));  // "L" column 1, row 0
  EXPECT_TRUE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 13.1, 22.1));   // "L" column 2, row 4
  EXPECT_FALSE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 13.1, 22.6));  // below the text
  EXPECT_FALSE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 9.9, 20.6));   // left of it
  EXPECT_FALSE(TinyFont::TextInk(text, 10.0, 20.0, 0.5, 14.1, 22.1));  // beyond the last glyph
  EXPECT_EQ(TinyFont::TextWidth(text), 7);
}

}  // namespace
}  // namespace lumet
