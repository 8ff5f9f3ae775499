#include "reconstruction/homography_reader.h"

#include <sstream>

#include "util/input_file.h"
#include "util/error.h"

namespace lumet {

Matrix ReadHomographyFile(const std::string& path) {
  std::string text;
  try {
    text = ReadWholeFile(path, kMaxHomographyFileBytes);
  } catch (const Error& e) {
    throw Error(std::string("homography file: ") + e.what());
  }
  std::istringstream in(text);
  Matrix h(3, 3, 0.0);
  for (int k = 1; k <= 8; ++k) {
    double value = 0.0;
    if (!(in >> value)) {
      throw Error("homography file " + path + " holds " + std::to_string(k - 1) +
                  " readable numbers where eight (h11 h12 h13 h21 h22 h23 h31 h32) are needed");
    }
    h.Flat1(k) = value;
  }
  h.At1(3, 3) = 1.0;
  return h;
}

}  // namespace lumet
