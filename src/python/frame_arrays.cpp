#include "python/frame_arrays.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <list>
#include <memory>
#include <type_traits>
#include <vector>

#include "imageio/image_file.h"
#include "params/param_description.h"
#include "python/call_params.h"

namespace lumet::python {

size_t SampleBytes(SampleType type) {
  return type == SampleType::Uint8 ? 1 : type == SampleType::Uint16 ? 2 : 4;
}

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
// The sample type of an array's dtype; false for any other.
bool SampleTypeOf(const py::array& a, SampleType& type) {
  if (a.dtype().is(py::dtype::of<uint8_t>())) {
    type = SampleType::Uint8;
  } else if (a.dtype().is(py::dtype::of<uint16_t>())) {
    type = SampleType::Uint16;
  } else if (a.dtype().is(py::dtype::of<float>())) {
    type = SampleType::Float32;
  } else {
    return false;
  }
  return true;
}

std::string ArrayProblem(const py::array& a, py::ssize_t dims, const std::string& what) {
  const std::string accepted =
      dims == 4 ? "an (N, H, W, 3) array of uint8, uint16 or float32 colour frames, an (N, H, W) or (N, H, W, 1) one "
                  "of grey frames, or a sequence or iterable of (H, W, 3), (H, W) or (H, W, 1) ones"
                : "an (H, W, 3), (H, W) or (H, W, 1) array of uint8, uint16 or float32 samples";
  const std::string dtype = py::str(a.dtype()).cast<std::string>();
  SampleType type = SampleType::Uint8;
  if (!SampleTypeOf(a, type)) {
    return what + " holds " + dtype + " samples, but " + accepted +
           " is accepted: convert other integers with a.astype(numpy.uint16), other floats in 0..1 with "
           "a.astype(numpy.float32)";
  }
  const bool grey = a.ndim() == dims - 1 || (a.ndim() == dims && a.shape(dims - 1) == 1);
  if (dims == 4 && a.ndim() == 3 && (a.shape(2) == 3 || a.shape(2) == 4)) {
    return what + " of shape " + ShapeText(a) + " looks like one colour image, but " + accepted +
           " is accepted: give the frames as a stack, numpy.stack([frame0, frame1, ...]), or as a list";
  }
  if (a.ndim() == dims && a.shape(dims - 1) == 4) {
    return what + " of shape " + ShapeText(a) + " has four channels (RGBA?), but " + accepted +
           " is accepted: drop the alpha channel with numpy.ascontiguousarray(a[..., :3])";
  }
  if (!grey && (a.ndim() != dims || a.shape(dims - 1) != 3)) {
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

// The form of a checked array of images of `dims` dimensions.
FrameForm FormOf(const py::array& a, py::ssize_t dims) {
  if (a.ndim() == dims - 1) return FrameForm::Grey;
  return a.shape(dims - 1) == 1 ? FrameForm::GreyWithAxis : FrameForm::Colour;
}

int ChannelsOf(FrameForm form) { return form == FrameForm::Colour ? 3 : 1; }

py::array AsArray(const py::handle& object, const std::string& what) {
  if (!py::isinstance<py::array>(object)) {
    throw py::type_error(what + " must be a numpy array of uint8, uint16 or float32 colour samples, not " +
                         TypeName(object));
  }
  return py::reinterpret_borrow<py::array>(object);
}

// Where the engine's channel c (red, green, blue) lies among a pixel's three samples.
size_t SampleOf(int c, ChannelOrder order) { return static_cast<size_t>(order == ChannelOrder::Bgr ? 2 - c : c); }

// One frame from H x W x channels interleaved samples (channels 3, or 1 for grey).
void CopyInterleaved(const uint8_t* samples, int width, int height, int channels, ChannelOrder order,
                     ColorGrayImage& image) {
  image.Create(width, height);
  image.mask.Fill(0);
  const size_t stride = static_cast<size_t>(channels);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = samples + static_cast<size_t>(y) * static_cast<size_t>(width) * stride;
    for (int c = 0; c < 3; ++c) {
      uint8_t* out = image.channels[static_cast<size_t>(c)].Row(y);
      const size_t sample = channels == 1 ? 0 : SampleOf(c, order);
      for (int x = 0; x < width; ++x) out[x] = row[static_cast<size_t>(x) * stride + sample];
    }
  }
}

void CheckSide(py::ssize_t side, const std::string& what) {
  if (side > kMaxFrameSide) {
    throw py::value_error(what + " is " + std::to_string(side) + " pixels across; at most " +
                          std::to_string(kMaxFrameSide) + " are accepted");
  }
}

// One (H, W, 3) image array, checked.
py::array CheckedImage(const py::handle& object, const std::string& what) {
  py::array a = AsArray(object, what);
  const std::string problem = ArrayProblem(a, 3, what);
  if (!problem.empty()) throw py::value_error(problem);
  CheckSide(a.shape(0), what);
  CheckSide(a.shape(1), what);
  return a;
}

// The frames of a call as the engine reads them: the caller's arrays, referenced while the
// call runs, or copies of the frames an iterator gave (it may fill one buffer again and
// again), each converted to the engine's image only when a stage reads it.
class ArrayFrames final : public MemoryFrames {
 public:
  explicit ArrayFrames(ChannelOrder order) : order_(order) {}
  ~ArrayFrames() override { Release(std::move(owners_)); }
  ArrayFrames(const ArrayFrames&) = delete;
  ArrayFrames& operator=(const ArrayFrames&) = delete;

  // With the GIL held: the array (or its parent) stays alive as long as these frames.
  void Hold(const py::handle& owner) {
    owners_.push_back(owner.ptr());
    Py_INCREF(owner.ptr());
  }
  // channels: 3 (colour samples) or 1 (grey: each sample is all three channels).
  void AddView(const void* samples, int width, int height, SampleType type, int channels) {
    frames_.push_back({samples, width, height, type, channels});
  }
  void AddCopy(const void* samples, int width, int height, SampleType type, int channels) {
    const size_t bytes =
        static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(channels) * SampleBytes(type);
    const auto* first = static_cast<const uint8_t*>(samples);
    copies_.emplace_back(first, first + bytes);
    frames_.push_back({copies_.back().data(), width, height, type, channels});
  }

  int Count() const override { return static_cast<int>(frames_.size()); }
  int Width(int index) const override { return At(index).width; }
  int Height(int index) const override { return At(index).height; }
  void Read(int index, ColorGrayImage& image) const override {
    const View& f = At(index);
    image.Create(f.width, f.height);
    image.mask.Free();
    if (f.type == SampleType::Uint8) {
      for (int c = 0; c < 3; ++c) CopyChannel(f, c, image.channels[static_cast<size_t>(c)], nullptr);
      return;
    }
    auto deep = std::make_shared<DeepPlanes>();
    deep->floatSamples = f.type == SampleType::Float32;
    for (int c = 0; c < 3; ++c) {
      deep->channels[c].Create(f.width, f.height);
      CopyChannel(f, c, image.channels[static_cast<size_t>(c)], &deep->channels[c]);
    }
    image.deep = std::move(deep);
  }
  void ReadChannel(int index, int c, GrayImage& plane) const override {
    const View& f = At(index);
    plane.Create(f.width, f.height);
    CopyChannel(f, c, plane, nullptr);
  }

 private:
  struct View {
    const void* samples;
    int width;
    int height;
    SampleType type;
    int channels;
  };
  const View& At(int index) const { return frames_[static_cast<size_t>(index)]; }
  // Channel c into plane, and at depth into deep (not null) for uint16 and float32 samples.
  void CopyChannel(const View& f, int c, GrayImage& plane, FloatImage* deep) const {
    const size_t stride = static_cast<size_t>(f.channels);
    const size_t sample = f.channels == 1 ? 0 : SampleOf(c, order_);
    const size_t rowSamples = static_cast<size_t>(f.width) * stride;
    for (int y = 0; y < f.height; ++y) {
      uint8_t* out = plane.Row(y);
      float* level = deep != nullptr ? deep->Row(y) : nullptr;
      const size_t first = static_cast<size_t>(y) * rowSamples + sample;
      if (f.type == SampleType::Uint8) {
        const uint8_t* row = static_cast<const uint8_t*>(f.samples) + first;
        for (int x = 0; x < f.width; ++x) out[x] = row[static_cast<size_t>(x) * stride];
      } else if (f.type == SampleType::Uint16) {
        const uint16_t* row = static_cast<const uint16_t*>(f.samples) + first;
        for (int x = 0; x < f.width; ++x) {
          const uint16_t v = row[static_cast<size_t>(x) * stride];
          out[x] = To8Bit(v);
          if (level != nullptr) level[x] = DeepValue(v);
        }
      } else {
        const float* row = static_cast<const float*>(f.samples) + first;
        for (int x = 0; x < f.width; ++x) {
          const float v = row[static_cast<size_t>(x) * stride];
          // Scene-linear values beyond 0 .. 1 (HDR) are kept at depth; the 8-bit channels
          // hold them clamped.
          const double scaled = std::isfinite(v) ? static_cast<double>(v) * 255.0 : 0.0;
          out[x] = static_cast<uint8_t>(std::floor(std::clamp(scaled, 0.0, 255.0) + 0.5));
          if (level != nullptr) level[x] = static_cast<float>(scaled);
        }
      }
    }
  }
  // The references go with the GIL: at once when this thread holds it, else (a call the
  // caller left on Ctrl+C ends on the engine's thread) on the interpreter's main thread.
  static void Release(std::vector<PyObject*> owners) {
    if (owners.empty() || Py_IsInitialized() == 0) return;
    if (PyGILState_Check() != 0) {
      for (PyObject* o : owners) Py_DECREF(o);
      return;
    }
    auto* pending = new std::vector<PyObject*>(std::move(owners));
    const auto release = [](void* list) -> int {
      auto* objects = static_cast<std::vector<PyObject*>*>(list);
      for (PyObject* o : *objects) Py_DECREF(o);
      delete objects;
      return 0;
    };
    // A full queue of pending calls keeps the arrays: a leak, never a reference dropped without the GIL.
    if (Py_AddPendingCall(release, pending) != 0) delete pending;
  }

  ChannelOrder order_;
  std::vector<View> frames_;
  std::list<std::vector<uint8_t>> copies_;
  std::vector<PyObject*> owners_;
};

}  // namespace

ChannelOrder ChannelOrderOf(const py::handle& value) {
  return ChosenWord<ChannelOrder>(value, {{"RGB", ChannelOrder::Rgb}, {"BGR", ChannelOrder::Bgr}},
                                  "channel_order must be 'RGB' (channel 0 red) or 'BGR' (channel 0 blue, as OpenCV "
                                  "holds images)");
}

ColorGrayImage ImageFromPython(const py::handle& object, const std::string& what, ChannelOrder order) {
  const py::array a = CheckedImage(object, what);
  if (!a.dtype().is(py::dtype::of<uint8_t>())) {
    throw py::value_error(what + " holds " + py::str(a.dtype()).cast<std::string>() +
                          " samples, but uint8 ones are accepted here");
  }
  ColorGrayImage image;
  CopyInterleaved(static_cast<const uint8_t*>(a.data()), static_cast<int>(a.shape(1)), static_cast<int>(a.shape(0)),
                  ChannelsOf(FormOf(a, 3)), order, image);
  return image;
}

std::shared_ptr<const MemoryFrames> FramesFromPython(const py::handle& frames, ChannelOrder order,
                                                     SampleType* firstType, FrameForm* firstForm) {
  auto held = std::make_shared<ArrayFrames>(order);
  SampleType type = SampleType::Uint8;
  if (py::isinstance<py::array>(frames) && py::reinterpret_borrow<py::array>(frames).ndim() != 1) {
    const py::array a = py::reinterpret_borrow<py::array>(frames);
    const std::string problem = ArrayProblem(a, 4, "frames");
    if (!problem.empty()) throw py::value_error(problem);
    CheckSide(a.shape(1), "frames");
    CheckSide(a.shape(2), "frames");
    SampleTypeOf(a, type);
    const FrameForm form = FormOf(a, 4);
    if (firstType != nullptr) *firstType = type;
    if (firstForm != nullptr) *firstForm = form;
    const int height = static_cast<int>(a.shape(1));
    const int width = static_cast<int>(a.shape(2));
    const int channels = ChannelsOf(form);
    const size_t frameBytes =
        static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(channels) * SampleBytes(type);
    held->Hold(a);
    for (py::ssize_t k = 0; k < a.shape(0); ++k) {
      held->AddView(static_cast<const uint8_t*>(a.data()) + static_cast<size_t>(k) * frameBytes, width, height, type,
                    channels);
    }
    return held;
  }
  if (py::isinstance<py::str>(frames) || py::isinstance<py::bytes>(frames) || !py::isinstance<py::iterable>(frames)) {
    throw py::type_error("frames must be an (N, H, W, 3) colour or (N, H, W) grey array of uint8, uint16 or float32 "
                         "samples, or a sequence or iterable of (H, W, 3) or (H, W) ones, not " + TypeName(frames));
  }
  // A list or tuple holds its arrays; a generator is read once, frame by frame, each copied
  // before the next is asked for.
  const bool holdsArrays = py::isinstance<py::list>(frames) || py::isinstance<py::tuple>(frames);
  for (const py::handle frame : py::reinterpret_borrow<py::iterable>(frames)) {
    const py::array a = CheckedImage(frame, "frames[" + std::to_string(held->Count()) + "]");
    SampleTypeOf(a, type);
    const FrameForm form = FormOf(a, 3);
    if (held->Count() == 0) {
      if (firstType != nullptr) *firstType = type;
      if (firstForm != nullptr) *firstForm = form;
    }
    const void* samples = a.data();
    const int width = static_cast<int>(a.shape(1));
    const int height = static_cast<int>(a.shape(0));
    if (holdsArrays) {
      held->Hold(a);
      held->AddView(samples, width, height, type, ChannelsOf(form));
    } else {
      held->AddCopy(samples, width, height, type, ChannelsOf(form));
    }
  }
  return held;
}

template <typename T>
std::vector<T> SamplesFromPython(const py::handle& object, const std::string& what, ChannelOrder order, int& width,
                                 int& height) {
  const py::array a = CheckedImage(object, what);
  if (!a.dtype().is(py::dtype::of<T>())) {
    throw py::value_error(what + " holds " + py::str(a.dtype()).cast<std::string>() + " samples, not " +
                          py::str(py::dtype::of<T>()).cast<std::string>());
  }
  height = static_cast<int>(a.shape(0));
  width = static_cast<int>(a.shape(1));
  const auto* in = static_cast<const T*>(a.data());
  const bool grey = FormOf(a, 3) != FrameForm::Colour;
  std::vector<T> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (size_t p = 0; p < rgb.size() / 3; ++p) {
    for (int c = 0; c < 3; ++c) rgb[3 * p + static_cast<size_t>(c)] = grey ? in[p] : in[3 * p + SampleOf(c, order)];
  }
  return rgb;
}

py::array_t<uint8_t> ImageToArray(const ColorGrayImage& image, ChannelOrder order) {
  py::array_t<uint8_t> array(
      {static_cast<py::ssize_t>(image.Height()), static_cast<py::ssize_t>(image.Width()), py::ssize_t{3}});
  WriteInterleaved(image, order, array.mutable_data());
  return array;
}

void WriteInterleaved(const ColorGrayImage& image, ChannelOrder order, uint8_t* out) {
  const int width = image.Width();
  const int height = image.Height();
  for (int y = 0; y < height; ++y) {
    for (int c = 0; c < 3; ++c) {
      const uint8_t* row = image.channels[static_cast<size_t>(c)].Row(y);
      uint8_t* line = out + static_cast<size_t>(y) * static_cast<size_t>(width) * 3 + SampleOf(c, order);
      for (int x = 0; x < width; ++x) line[static_cast<size_t>(x) * 3] = row[x];
    }
  }
}

template std::vector<uint16_t> SamplesFromPython<uint16_t>(const py::handle&, const std::string&, ChannelOrder, int&,
                                                           int&);
template std::vector<float> SamplesFromPython<float>(const py::handle&, const std::string&, ChannelOrder, int&, int&);

namespace {

// Channel c of image as T samples, each convert(deep value) where it has deep planes, else
// convert(8-bit level), into every third sample of out from SampleOf(c).
template <typename T, typename Convert>
void WriteChannel(const ColorGrayImage& image, int c, ChannelOrder order, T* out, Convert convert) {
  const size_t width = static_cast<size_t>(image.Width());
  for (int y = 0; y < image.Height(); ++y) {
    T* line = out + static_cast<size_t>(y) * width * 3 + SampleOf(c, order);
    if (image.deep != nullptr) {
      const float* row = image.deep->channels[c].Row(y);
      for (size_t x = 0; x < width; ++x) line[x * 3] = convert(static_cast<double>(row[x]));
    } else {
      const uint8_t* row = image.channels[static_cast<size_t>(c)].Row(y);
      for (size_t x = 0; x < width; ++x) line[x * 3] = convert(static_cast<double>(row[x]));
    }
  }
}

template <typename T>
py::array GreyOf(const py::array& colour, FrameForm form) {
  const auto in = colour.unchecked<T, 3>();
  const py::ssize_t h = in.shape(0), w = in.shape(1);
  std::vector<py::ssize_t> shape = {h, w};
  if (form == FrameForm::GreyWithAxis) shape.push_back(1);
  py::array_t<T> out(shape);
  T* o = out.mutable_data();
  for (py::ssize_t y = 0; y < h; ++y) {
    for (py::ssize_t x = 0; x < w; ++x) {
      if constexpr (std::is_floating_point_v<T>) {
        *o++ = static_cast<T>((static_cast<double>(in(y, x, 0)) + in(y, x, 1) + in(y, x, 2)) / 3.0);
      } else {
        *o++ = static_cast<T>((static_cast<unsigned>(in(y, x, 0)) + in(y, x, 1) + in(y, x, 2) + 1) / 3);  // nearest
      }
    }
  }
  return out;
}

}  // namespace

py::array InForm(const py::array& colour, FrameForm form) {
  if (form == FrameForm::Colour) return colour;
  if (colour.dtype().is(py::dtype::of<uint8_t>())) return GreyOf<uint8_t>(colour, form);
  if (colour.dtype().is(py::dtype::of<uint16_t>())) return GreyOf<uint16_t>(colour, form);
  return GreyOf<float>(colour, form);
}

void WriteInterleaved(const ColorGrayImage& image, ChannelOrder order, SampleType type, void* out) {
  if (type == SampleType::Uint8) {
    WriteInterleaved(image, order, static_cast<uint8_t*>(out));
    return;
  }
  for (int c = 0; c < 3; ++c) {
    if (type == SampleType::Uint16) {
      WriteChannel(image, c, order, static_cast<uint16_t*>(out),
                   [](double v) { return static_cast<uint16_t>(std::clamp(std::lround(v * 257.0), 0L, 65535L)); });
    } else {
      WriteChannel(image, c, order, static_cast<float*>(out), [](double v) { return static_cast<float>(v / 255.0); });
    }
  }
}

}  // namespace lumet::python
