#include "imageio/homography_file.h"

#include <cmath>
#include <sstream>

#include "util/atomic_file.h"
#include "util/input_file.h"
#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

std::string FormatHomographyFile(const Matrix& h) {
  if (h.Rows() != 3 || h.Cols() != 3) {
    throw Error("a homography must be 3 x 3, not " + std::to_string(h.Rows()) + " x " + std::to_string(h.Cols()));
  }
  std::string text;
  for (int k = 1; k <= 8; ++k) {
    if (k > 1) text += ' ';
    text += FormatG6(h.Flat1(k));
  }
  text += '\n';
  return text;
}

void WriteHomographyFile(const std::string& path, const Matrix& h) { WriteFileAtomically(path, FormatHomographyFile(h)); }

Matrix ReadHomographyFile(const std::string& path) {
  std::string text;
  try {
    text = ReadWholeFile(path, kMaxHomographyFileBytes);
  } catch (const Error& e) {
    throw Error(std::string("homography file: ") + e.what());
  }
  return ParseHomographyText(text, path);
}

Matrix ParseHomographyText(const std::string& text, const std::string& name) {
  std::istringstream in(text);
  Matrix h(3, 3, 0.0);
  for (int k = 1; k <= 8; ++k) {
    double value = 0.0;
    if (!(in >> value)) {
      throw Error("homography file " + name + " holds " + std::to_string(k - 1) +
                  " readable numbers where eight (h11 h12 h13 h21 h22 h23 h31 h32) are needed");
    }
    h.Flat1(k) = value;
  }
  h.At1(3, 3) = 1.0;
  return h;
}

Matrix StoredHomography(const Matrix& h) {
  const std::string text = FormatHomographyFile(h);  // refuses any shape but 3 x 3
  const double h33 = h.At1(3, 3);
  if (h33 == 1.0) return ParseHomographyText(text, "in memory");
  if (!(h33 != 0.0) || !std::isfinite(h33)) {
    throw Error("a homography with h33 = " + FormatG6(h33) + " maps no point: h33 must be a finite number other than 0");
  }
  Matrix scaled = h;
  for (int k = 1; k <= 9; ++k) scaled.Flat1(k) = h.Flat1(k) / h33;
  return ParseHomographyText(FormatHomographyFile(scaled), "in memory");
}

}  // namespace lumet
