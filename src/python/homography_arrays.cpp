#include "python/homography_arrays.h"

#include <cmath>
#include <string>

#include "imageio/homography_file.h"
#include "numeric/pixel_map.h"
#include "numeric/projection.h"
#include "python/call_params.h"
#include "util/error.h"
#include "util/text_format.h"

namespace lumet::python {

HomographyUnits HomographyUnitsOf(const py::handle& value) {
  return ChosenWord<HomographyUnits>(value, {{"pixel", HomographyUnits::Pixel}, {"file", HomographyUnits::File}},
                                     "units must be 'pixel' (as OpenCV's homographies) or 'file' (the homography "
                                     "files' units, h13 and h23 divided by 600, h31 and h32 times 600)");
}

py::array_t<double> HomographiesToArray(const std::map<int, Matrix>& stored, int count, int reference,
                                        HomographyUnits units) {
  py::array_t<double> all({static_cast<py::ssize_t>(count), py::ssize_t{3}, py::ssize_t{3}});
  auto h = all.mutable_unchecked<3>();
  for (int k = 0; k < count; ++k) {
    const Matrix m = k == reference ? IdentityHomography() : stored.at(k);
    const PixelMap pixels = PixelMapOf(m);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) h(k, i, j) = units == HomographyUnits::Pixel ? pixels.p[i][j] : m.At1(i + 1, j + 1);
    }
  }
  return all;
}

void AdoptHomographies(const py::handle& given, int needed, int reference, HomographyUnits units,
                       std::map<int, Matrix>& stored) {
  using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;
  const Array all = Array::ensure(given);
  if (!all || all.ndim() != 3 || all.shape(1) != 3 || all.shape(2) != 3) {
    PyErr_Clear();
    throw py::value_error("homographies must be an (M, 3, 3) array of numbers, homographies[k] taking the "
                          "reference frame to frame k (as register returns them)");
  }
  if (all.shape(0) < needed) {
    throw py::value_error("homographies holds " + std::to_string(all.shape(0)) + ", but the reconstruction uses "
                          "frames 0 .. " + std::to_string(needed - 1) + ", so " + std::to_string(needed) +
                          " are needed (lr_count sets how many frames are used)");
  }
  const auto h = all.unchecked<3>();
  for (int k = 0; k < needed; ++k) {
    if (k == reference) continue;
    const std::string name = "homographies[" + std::to_string(k) + "]";
    Matrix m(3, 3, 0.0);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) m.At1(i + 1, j + 1) = h(k, i, j);
    }
    if (units == HomographyUnits::Pixel) {
      const double h33 = m.At1(3, 3);
      if (!(h33 != 0.0) || !std::isfinite(h33)) {
        throw py::value_error(name + ": a homography with h33 = " + FormatG6(h33) +
                              " maps no point: h33 must be a finite number other than 0");
      }
      PixelMap pixels;
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) pixels.p[i][j] = m.At1(i + 1, j + 1);
      }
      m = HomographyOf(pixels);
    }
    try {
      stored[k] = StoredHomography(m);
    } catch (const Error& e) {
      throw py::value_error(name + ": " + e.what());
    }
  }
}

}  // namespace lumet::python
