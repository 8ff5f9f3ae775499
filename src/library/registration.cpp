#include "lumet/registration.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "imageio/homography_file.h"
#include "library/conversions.h"
#include "util/error.h"

namespace lumet {

namespace {

std::string PairName(int reference, int frame) {
  return "frame " + std::to_string(frame) + " against reference frame " + std::to_string(reference);
}

}  // namespace

PixelHomography Inverse(const PixelHomography& h) {
  const auto& m = h.m;
  // The adjugate: the inverse up to the determinant's factor, which the scaling drops.
  std::array<double, 9> a = {m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                             m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                             m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
  const double det = m[0] * a[0] + m[1] * a[3] + m[2] * a[6];
  double norm = 0;
  for (const double v : m) norm = std::max(norm, std::abs(v));
  if (!std::isfinite(det) || std::abs(det) <= 1e-12 * norm * norm * norm || a[8] == 0 || !std::isfinite(a[8])) {
    throw Error("the homography has no inverse that keeps its last entry 1");
  }
  PixelHomography inverse;
  for (size_t i = 0; i < 9; ++i) inverse.m[i] = a[i] / a[8];
  return inverse;
}

// Every homography passes through the file's units and precision on the way in, so a
// reconstruction from a Registration and one from the homography files agree to the byte.
void Registration::Set(int reference, int frame, const PixelHomography& h) {
  entries_[{reference, frame}].h = ToPixelHomography(ToMatrix(h));
}

void Registration::SetFileUnits(int reference, int frame, const FileHomography& h) {
  Matrix m(3, 3, 0.0);
  for (int i = 0; i < 8; ++i) m.At1(i / 3 + 1, i % 3 + 1) = h[static_cast<size_t>(i)];
  m.At1(3, 3) = 1.0;
  entries_[{reference, frame}].h = ToPixelHomography(StoredHomography(m));
}

bool Registration::Contains(int reference, int frame) const {
  return reference == frame || entries_.count({reference, frame}) != 0;
}

PixelHomography Registration::Pixels(int reference, int frame) const {
  if (reference == frame) return PixelHomography::Identity();
  const auto found = entries_.find({reference, frame});
  if (found == entries_.end()) throw Error("no homography of " + PairName(reference, frame) + " is registered");
  return found->second.h;
}

FileHomography Registration::FileUnits(int reference, int frame) const {
  const Matrix m = ToMatrix(Pixels(reference, frame));
  FileHomography h{};
  for (int i = 0; i < 8; ++i) h[static_cast<size_t>(i)] = m.At1(i / 3 + 1, i % 3 + 1);
  return h;
}

std::vector<int> Registration::Frames(int reference) const {
  std::vector<int> frames;
  for (auto it = entries_.lower_bound({reference, INT_MIN}); it != entries_.end() && it->first.first == reference; ++it) {
    frames.push_back(it->first.second);
  }
  return frames;
}

std::optional<RegistrationScores> Registration::Scores(int reference, int frame) const {
  const auto found = entries_.find({reference, frame});
  return found == entries_.end() ? std::nullopt : found->second.scores;
}

void Registration::SetScores(int reference, int frame, const RegistrationScores& scores) {
  const auto found = entries_.find({reference, frame});
  if (found == entries_.end()) throw Error("no homography of " + PairName(reference, frame) + " to score");
  found->second.scores = scores;
}

}  // namespace lumet
