#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "numeric/image_plane.h"
#include "workbench/frame_source.h"

namespace lumet::python {

namespace py = pybind11;

// The frames a call gives: an (N, H, W, 3) uint8 array or a sequence of (H, W, 3) uint8
// arrays, RGB, row 0 at the top, C-contiguous. Anything else is refused with TypeError or
// ValueError saying what is accepted. Called with the GIL held.
std::shared_ptr<const FrameImages> FramesFromPython(const py::handle& frames);

// One (H, W, 3) uint8 image; what names it in messages ("image").
ColorGrayImage ImageFromPython(const py::handle& image, const std::string& what);

// An image as a new (H, W, 3) uint8 array.
py::array_t<uint8_t> ImageToArray(const ColorGrayImage& image);

}  // namespace lumet::python
