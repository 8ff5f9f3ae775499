#pragma once

#include <string>

#include "numeric/matrix.h"

namespace lumet {

// Reads a homography file: the first eight whitespace-separated numbers are h11 h12 h13
// h21 h22 h23 h31 h32 (any white space, line ends of either kind; anything after the
// eighth number is ignored); h33 is 1. A missing or unreadable file, or one that holds
// fewer than eight numbers, is a lumet::Error naming the file.
Matrix ReadHomographyFile(const std::string& path);

}  // namespace lumet
