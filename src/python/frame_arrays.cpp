#include "python/frame_arrays.h"

#include <cstdint>
#include <vector>

#include "params/param_description.h"

namespace lumet::python {

namespace {

std::string TypeName(const py::handle& object) {
  return py::str(py::type::of(object).attr("__name__")).cast<std::string>();
}

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) text += (i > 0 ? ", " : "") + std::to_string(a.shape(i));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

// What is wrong with an array meant to hold images of `dims` dimensions ((H, W, 3) or
// (N, H, W, 3)), or "".
std::string ArrayProblem(const py::array& a, py::ssize_t dims, const std::string& what) {
  const std::string accepted = dims == 4 ? "an (N, H, W, 3) array of uint8 colour frames, or a sequence or iterable of (H, W, 3) ones"
                                         : "an (H, W, 3) array of uint8 colour samples";
  const std::string dtype = py::str(a.dtype()).cast<std::string>();
  if (!a.dtype().is(py::dtype::of<uint8_t>())) {
    return what + " holds " + dtype + " samples, but " + accepted +
           " is accepted: convert 16-bit data with (a >> 8).astype(numpy.uint8), floats in 0..1 with "
           "(a * 255).round().astype(numpy.uint8)";
  }
  if (a.ndim() == dims - 1 || (a.ndim() == dims && a.shape(dims - 1) == 1)) {
    return what + " of shape " + ShapeText(a) + " looks grey, but " + accepted +
           " is accepted: repeat the grey values into three channels, numpy.repeat(a[..., None], 3, axis=-1) "
           "(or numpy.repeat(a, 3, axis=-1) when the last axis is 1)";
  }
  if (a.ndim() == dims && a.shape(dims - 1) == 4) {
    return what + " of shape " + ShapeText(a) + " has four channels (RGBA?), but " + accepted +
           " is accepted: drop the alpha channel with numpy.ascontiguousarray(a[..., :3])";
  }
  if (a.ndim() != dims || a.shape(dims - 1) != 3) {
    return what + " has shape " + ShapeText(a) + ", but " + accepted + " is accepted";
  }
  if ((a.flags() & py::array::c_style) == 0) {
    return what + " is not C-contiguous (a view such as a[:, ::2] or a transposed array), but " + accepted +
           " in C order is accepted: pass numpy.ascontiguousarray(a)";
  }
  for (py::ssize_t i = 0; i < dims - 1; ++i) {
    if (a.shape(i) == 0) return what + " of shape " + ShapeText(a) + " holds no pixels";
  }
  return {};
}

py::array AsArray(const py::handle& object, const std::string& what) {
  if (!py::isinstance<py::array>(object)) {
    throw py::type_error(what + " must be a numpy array of uint8 colour samples, not " + TypeName(object));
  }
  return py::reinterpret_borrow<py::array>(object);
}

// Where the engine's channel c (red, green, blue) lies among a pixel's three samples.
size_t SampleOf(int c, ChannelOrder order) { return static_cast<size_t>(order == ChannelOrder::Bgr ? 2 - c : c); }

// One frame from H x W x 3 interleaved samples.
void CopyInterleaved(const uint8_t* samples, int width, int height, ChannelOrder order, ColorGrayImage& image) {
  image.Create(width, height);
  image.mask.Fill(0);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = samples + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
    for (int c = 0; c < 3; ++c) {
      uint8_t* out = image.channels[static_cast<size_t>(c)].Row(y);
      const size_t sample = SampleOf(c, order);
      for (int x = 0; x < width; ++x) out[x] = row[static_cast<size_t>(x) * 3 + sample];
    }
  }
}

void CheckSide(py::ssize_t side, const std::string& what) {
  if (side > kMaxFrameSide) {
    throw py::value_error(what + " is " + std::to_string(side) + " pixels across; at most " +
                          std::to_string(kMaxFrameSide) + " are accepted");
  }
}

}  // namespace

ChannelOrder ChannelOrderOf(const py::handle& value) {
  if (py::isinstance<py::str>(value)) {
    const std::string word = value.cast<std::string>();
    if (word == "RGB") return ChannelOrder::Rgb;
    if (word == "BGR") return ChannelOrder::Bgr;
  }
  throw py::value_error("channel_order must be 'RGB' (channel 0 red) or 'BGR' (channel 0 blue, as OpenCV holds "
                        "images), not " + py::repr(value).cast<std::string>());
}

ColorGrayImage ImageFromPython(const py::handle& object, const std::string& what, ChannelOrder order) {
  const py::array a = AsArray(object, what);
  const std::string problem = ArrayProblem(a, 3, what);
  if (!problem.empty()) throw py::value_error(problem);
  CheckSide(a.shape(0), what);
  CheckSide(a.shape(1), what);
  ColorGrayImage image;
  CopyInterleaved(static_cast<const uint8_t*>(a.data()), static_cast<int>(a.shape(1)), static_cast<int>(a.shape(0)),
                  order, image);
  return image;
}

std::shared_ptr<const FrameImages> FramesFromPython(const py::handle& frames, ChannelOrder order) {
  auto images = std::make_shared<FrameImages>();
  if (py::isinstance<py::array>(frames) && py::reinterpret_borrow<py::array>(frames).ndim() != 1) {
    const py::array a = py::reinterpret_borrow<py::array>(frames);
    const std::string problem = ArrayProblem(a, 4, "frames");
    if (!problem.empty()) throw py::value_error(problem);
    CheckSide(a.shape(1), "frames");
    CheckSide(a.shape(2), "frames");
    const int height = static_cast<int>(a.shape(1));
    const int width = static_cast<int>(a.shape(2));
    const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
    images->resize(static_cast<size_t>(a.shape(0)));
    for (size_t k = 0; k < images->size(); ++k) {
      CopyInterleaved(static_cast<const uint8_t*>(a.data()) + k * frameBytes, width, height, order,
                      (*images)[k]);
    }
    return images;
  }
  if (py::isinstance<py::str>(frames) || py::isinstance<py::bytes>(frames) || !py::isinstance<py::iterable>(frames)) {
    throw py::type_error("frames must be an (N, H, W, 3) uint8 array or a sequence or iterable of (H, W, 3) uint8 "
                         "arrays, not " + TypeName(frames));
  }
  // A generator is read once, frame by frame: each is copied before the next is asked for.
  for (const py::handle frame : py::reinterpret_borrow<py::iterable>(frames)) {
    images->push_back(ImageFromPython(frame, "frames[" + std::to_string(images->size()) + "]", order));
  }
  return images;
}

py::array_t<uint8_t> ImageToArray(const ColorGrayImage& image, ChannelOrder order) {
  const int width = image.Width();
  const int height = image.Height();
  py::array_t<uint8_t> array({static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width), py::ssize_t{3}});
  uint8_t* out = array.mutable_data();
  for (int y = 0; y < height; ++y) {
    for (int c = 0; c < 3; ++c) {
      const uint8_t* row = image.channels[static_cast<size_t>(c)].Row(y);
      uint8_t* line = out + static_cast<size_t>(y) * static_cast<size_t>(width) * 3 + SampleOf(c, order);
      for (int x = 0; x < width; ++x) line[static_cast<size_t>(x) * 3] = row[x];
    }
  }
  return array;
}

}  // namespace lumet::python
