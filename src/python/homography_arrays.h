#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <map>

#include "numeric/matrix.h"

namespace lumet::python {

namespace py = pybind11;

// The units of the homographies a call takes or returns. Both map frame 0's positions to
// frame k's, pixel (x, y) having its centre at (x, y) as in OpenCV.
enum class HomographyUnits {
  // Pixel units, as cv2.findHomography gives them and cv2.warpPerspective(frame_k, H,
  // size, flags=cv2.WARP_INVERSE_MAP) takes them to line frame k up with frame 0.
  Pixel,
  // The homography files' units: h13, h23 divided by 600, h31, h32 times 600.
  File,
};

// units="pixel" or "file"; anything else is refused with ValueError.
HomographyUnits HomographyUnitsOf(const py::handle& value);

// Frames 0 .. count - 1's homographies as a new (count, 3, 3) float64 array: [reference]
// the identity, [k] the stored homography of frame k (as its file holds it) in `units`.
py::array_t<double> HomographiesToArray(const std::map<int, Matrix>& stored, int count, int reference,
                                        HomographyUnits units);

// Frames 0 .. needed - 1 but the reference of `given` (an (M, 3, 3) array or sequence of 3 x 3 ones, any
// scale, in `units`) into `stored` as their files would hold them. Pixel units go through
// the engine's conversion (numeric/pixel_map.h), and what HomographiesToArray returned comes
// back as the very numbers stored: the six significant digits of a file number are far
// coarser than the last bit the conversion may move. Refusals are ValueError.
void AdoptHomographies(const py::handle& given, int needed, int reference, HomographyUnits units,
                       std::map<int, Matrix>& stored);

}  // namespace lumet::python
