#include "synth/tiny_font.h"

#include <cmath>
#include <cstdint>

namespace lumet {

namespace {

struct Glyph {
  char ch;
  const char* rows[5];  // '#' inked, '.' blank; top row first
};

constexpr Glyph kGlyphs[] = {
    {'0', {"###", "#.#", "#.#", "#.#", "###"}}, {'1', {".#.", "##.", ".#.", ".#.", "###"}},
    {'2', {"###", "..#", "###", "#..", "###"}}, {'3', {"###", "..#", ".##", "..#", "###"}},
    {'4', {"#.#", "#.#", "###", "..#", "..#"}}, {'5', {"###", "#..", "###", "..#", "###"}},
    {'6', {"###", "#..", "###", "#.#", "###"}}, {'7', {"###", "..#", "..#", ".#.", ".#."}},
    {'8', {"###", "#.#", "###", "#.#", "###"}}, {'9', {"###", "#.#", "###", "..#", "###"}},
    {'A', {".#.", "#.#", "###", "#.#", "#.#"}}, {'B', {"##.", "#.#", "##.", "#.#", "##."}},
    {'C', {".##", "#..", "#..", "#..", ".##"}}, {'D', {"##.", "#.#", "#.#", "#.#", "##."}},
    {'E', {"###", "#..", "##.", "#..", "###"}}, {'F', {"###", "#..", "##.", "#..", "#.."}},
    {'G', {".##", "#..", "#.#", "#.#", ".##"}}, {'H', {"#.#", "#.#", "###", "#.#", "#.#"}},
    {'I', {"###", ".#.", ".#.", ".#.", "###"}}, {'J', {"..#", "..#", "..#", "#.#", ".#."}},
    {'K', {"#.#", "#.#", "##.", "#.#", "#.#"}}, {'L', {"#..", "#..", "#..", "#..", "###"}},
    {'M', {"#.#", "###", "#.#", "#.#", "#.#"}}, {'N', {"##.", "#.#", "#.#", "#.#", "#.#"}},
    {'O', {".#.", "#.#", "#.#", "#.#", ".#."}}, {'P', {"##.", "#.#", "##.", "#..", "#.."}},
    {'Q', {".#.", "#.#", "#.#", "##.", ".##"}}, {'R', {"##.", "#.#", "##.", "#.#", "#.#"}},
    {'S', {".##", "#..", ".#.", "..#", "##."}}, {'T', {"###", ".#.", ".#.", ".#.", ".#."}},
    {'U', {"#.#", "#.#", "#.#", "#.#", "###"}}, {'V', {"#.#", "#.#", "#.#", "#.#", ".#."}},
    {'W', {"#.#", "#.#", "###", "###", "#.#"}}, {'X', {"#.#", "#.#", ".#.", "#.#", "#.#"}},
    {'Y', {"#.#", "#.#", ".#.", ".#.", ".#."}}, {'Z', {"###", "..#", ".#.", "#..", "###"}},
    {'-', {"...", "...", "###", "...", "..."}}, {'.', {"...", "...", "...", "...", ".#."}},
    {':', {"...", ".#.", "...", ".#.", "..."}}, {'/', {"..#", "..#", ".#.", "#..", "#.."}},
    {'+', {"...", ".#.", "###", ".#.", "..."}}, {'=', {"...", "###", "...", "###", "..."}},
};

// One 15-bit mask per character code, built once from the table above.
struct GlyphMasks {
  uint16_t mask[128] = {};
  GlyphMasks() {
    for (const Glyph& glyph : kGlyphs) {
      uint16_t bits = 0;
      for (int row = 0; row < TinyFont::kGlyphHeight; ++row) {
        for (int column = 0; column < TinyFont::kGlyphWidth; ++column) {
          if (glyph.rows[row][column] == '#')
            bits |= static_cast<uint16_t>(1u << (row * TinyFont::kGlyphWidth + column));
        }
      }
      mask[static_cast<unsigned char>(glyph.ch)] = bits;
    }
  }
};

const GlyphMasks& Masks() {
  static const GlyphMasks masks;
  return masks;
}

}  // namespace

bool TinyFont::Ink(char ch, int column, int row) {
  const auto code = static_cast<unsigned char>(ch);
  if (code >= 128 || column < 0 || column >= kGlyphWidth || row < 0 || row >= kGlyphHeight) return false;
  return (Masks().mask[code] >> (row * kGlyphWidth + column)) & 1u;
}

bool TinyFont::TextInk(std::string_view text, double left, double top, double pixel, double x, double y) {
  const double u = (x - left) / pixel;
  const double v = (y - top) / pixel;
  if (u < 0.0 || v < 0.0 || v >= kGlyphHeight) return false;
  const int fu = static_cast<int>(std::floor(u));
  const size_t index = static_cast<size_t>(fu / kAdvance);
  if (index >= text.size()) return false;
  return Ink(text[index], fu % kAdvance, static_cast<int>(std::floor(v)));
}

}  // namespace lumet
