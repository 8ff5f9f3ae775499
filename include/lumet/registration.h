#pragma once

#include <array>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "lumet/export.h"

namespace lumet {

// A homography in pixel units, row-major, mapping a position (x, y) of the reference frame
// to (u, v) of the other frame: (u, v, 1) ~ m * (x, y, 1). Pixel centres are at integer
// positions, (0, 0) the centre of the top-left pixel. This is the map OpenCV's
// warpPerspective takes with WARP_INVERSE_MAP to line the other frame up with the reference.
struct PixelHomography {
  std::array<double, 9> m = {1, 0, 0, 0, 1, 0, 0, 0, 1};

  static PixelHomography Identity() { return {}; }
  double operator()(int row, int column) const { return m[static_cast<size_t>(3 * row + column)]; }
};

// The homography of the other way round, from the other frame's positions to the
// reference's, scaled so that its last entry is 1. lumet::Error when h has no inverse.
LUMET_API PixelHomography Inverse(const PixelHomography& h);

// The homography file's eight numbers h11 h12 h13 h21 h22 h23 h31 h32 (h33 = 1), in the
// file's units: positions divided by 600 on the way in and multiplied by 600 on the way out.
using FileHomography = std::array<double, 8>;

// The two error figures of a registered frame: the ROI's mean absolute green difference
// after the homography search and after the refinement.
struct RegistrationScores {
  double search = 0;
  double refinement = 0;
};

// Homographies between frames of one sequence, keyed by (reference, frame). Held in pixel
// units at the precision the homography files hold (six significant digits in the file's
// units), so that a reconstruction from them is the one from the files, to the byte.
class LUMET_API Registration {
 public:
  // Sets the homography of (reference, frame); the identity for reference == frame is
  // implied and need not be set.
  void Set(int reference, int frame, const PixelHomography& h);
  void SetFileUnits(int reference, int frame, const FileHomography& h);
  bool Contains(int reference, int frame) const;
  // lumet::Error naming the pair when it has not been registered.
  PixelHomography Pixels(int reference, int frame) const;
  FileHomography FileUnits(int reference, int frame) const;
  // The frames registered against reference, ascending.
  std::vector<int> Frames(int reference) const;
  std::optional<RegistrationScores> Scores(int reference, int frame) const;
  void SetScores(int reference, int frame, const RegistrationScores& scores);

 private:
  struct Entry {
    PixelHomography h;
    std::optional<RegistrationScores> scores;
  };
  std::map<std::pair<int, int>, Entry> entries_;
};

}  // namespace lumet
