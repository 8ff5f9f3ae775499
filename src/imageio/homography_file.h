#pragma once

#include <cstddef>
#include <string>

#include "numeric/matrix.h"

namespace lumet {

// The homography file of one frame: a single line "h11 h12 h13 h21 h22 h23 h31 h32\n",
// each number in "%g" (six significant digits), one space between them. h33 is not stored:
// it is 1. Registration writes it, reconstruction reads it back.

// The text of the file for a 3 x 3 h (lumet::Error for any other shape).
std::string FormatHomographyFile(const Matrix& h);

// Writes FormatHomographyFile(h) to path through the atomic writer (lumet::Error naming
// the file on failure).
void WriteHomographyFile(const std::string& path, const Matrix& h);

// Reads a homography file: the first eight whitespace-separated numbers are h11 .. h32
// (any white space, line ends of either kind; anything after the eighth number is
// ignored); h33 is 1. A missing or unreadable file, or one that holds fewer than eight
// numbers, is a lumet::Error naming the file. Only regular files of at most
// kMaxHomographyFileBytes are read.
Matrix ReadHomographyFile(const std::string& path);

// The numbers of a homography file's text, as ReadHomographyFile reads them; name is the
// file named in the error.
Matrix ParseHomographyText(const std::string& text, const std::string& name);

// h as its file holds it: h divided by h33 (which must not be 0), then each number
// rounded to six significant digits, exactly what writing and reading the file gives.
Matrix StoredHomography(const Matrix& h);

// Eight numbers of at most 24 characters each (%.17g of any double) and their white
// space need about 200 bytes; the rest leaves room for a hand-edited file.
inline constexpr size_t kMaxHomographyFileBytes = 4096;

}  // namespace lumet
