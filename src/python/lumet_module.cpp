// The Python module `lumet`: the engine's commands over numpy arrays.
#include <dlfcn.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "imageio/codec_library.h"
#include "imageio/homography_file.h"
#include "imageio/image_file.h"
#include "numeric/projection.h"
#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "reconstruction/enhanced/backend.h"
#include "reconstruction/reconstruction_method.h"
#include "python/call_params.h"
#include "python/docstrings.h"
#include "python/engine_call.h"
#include "python/frame_arrays.h"
#include "python/python_port.h"
#include "workbench/frame_source.h"
#include "workbench/workbench.h"

namespace lumet::python {

namespace {

// A workbench set up for frames in memory and no files.
struct Call {
  Call(const py::handle& frames, const py::dict& keywords, const py::object& progress)
      : port(progress) {
    bench.frameImages = FramesFromPython(frames);
    bench.params = ParamsFromKeywords(keywords, static_cast<int>(bench.frameImages->size()));
    bench.writeFiles = false;
    bench.carryFrames = true;
  }
  Workbench bench;
  PythonPort port;
};

// roi, scale and method join the other keywords: one path for every value's checks.
py::dict Keywords(py::kwargs parameters, const py::object& roi, const py::object& scale, const py::object& method) {
  py::dict all(parameters);
  if (!roi.is_none()) all["roi"] = roi;
  if (!scale.is_none()) all["scale"] = scale;
  if (!method.is_none()) all["method"] = method;
  return all;
}

py::array_t<uint8_t> SuperResolve(const py::handle& frames, const py::object& roi, const py::object& scale,
                                  const py::object& method, const py::object& progress, py::kwargs parameters) {
  auto call = std::make_shared<Call>(frames, Keywords(std::move(parameters), roi, scale, method), progress);
  RunEngine(
      call->port,
      [call] {
        call->bench.Registration(call->port);
        call->bench.Reconstruction(call->port);
      },
      OnInterrupt::Return);
  return ImageToArray(call->bench.resultImage);
}

py::tuple Register(const py::handle& frames, const py::object& roi, const py::object& method,
                   const py::object& progress, py::kwargs parameters) {
  auto call = std::make_shared<Call>(frames, Keywords(std::move(parameters), roi, py::none(), method), progress);
  RunEngine(call->port, [call] { call->bench.Registration(call->port); }, OnInterrupt::Return);
  const int count = call->bench.params.lrCount + 1;
  py::array_t<double> homographies({static_cast<py::ssize_t>(count), py::ssize_t{3}, py::ssize_t{3}});
  py::array_t<double> errors({static_cast<py::ssize_t>(count), py::ssize_t{2}});
  auto h = homographies.mutable_unchecked<3>();
  auto e = errors.mutable_unchecked<2>();
  for (int k = 0; k < count; ++k) {
    const Matrix m = k == 0 ? IdentityHomography() : call->bench.homographies.at(k);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) h(k, i, j) = m.At1(i + 1, j + 1);
    }
    e(k, 0) = 0.0;
    e(k, 1) = 0.0;
  }
  for (const FrameScores& s : call->bench.registrationScores) {
    e(s.frame, 0) = s.search;
    e(s.frame, 1) = s.refinement;
  }
  return py::make_tuple(homographies, errors);
}

// Frames 1 .. needed - 1 of the given homographies, as their files would hold them.
void AdoptHomographies(Workbench& bench, const py::handle& given, int needed) {
  const py::array_t<double, py::array::c_style | py::array::forcecast> all =
      py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(given);
  if (!all || all.ndim() != 3 || all.shape(1) != 3 || all.shape(2) != 3) {
    throw py::value_error("homographies must be an (M, 3, 3) array of numbers, homographies[k] taking frame 0 to "
                          "frame k (as register returns them)");
  }
  if (all.shape(0) < needed) {
    throw py::value_error("homographies holds " + std::to_string(all.shape(0)) + ", but the reconstruction uses "
                          "frames 0 .. " + std::to_string(needed - 1) + ", so " + std::to_string(needed) +
                          " are needed (lr_count sets how many frames are used)");
  }
  const auto h = all.unchecked<3>();
  for (int k = 1; k < needed; ++k) {
    Matrix m(3, 3, 0.0);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) m.At1(i + 1, j + 1) = h(k, i, j);
    }
    try {
      bench.homographies[k] = StoredHomography(m);
    } catch (const Error& e) {
      throw py::value_error("homographies[" + std::to_string(k) + "]: " + e.what());
    }
  }
}

py::array_t<uint8_t> Reconstruct(const py::handle& frames, const py::handle& homographies, const py::object& roi,
                                 const py::object& scale, const py::object& method, const py::object& progress,
                                 py::kwargs parameters) {
  auto call = std::make_shared<Call>(frames, Keywords(std::move(parameters), roi, scale, method), progress);
  const ParamSet& p = call->bench.params;
  AdoptHomographies(call->bench, homographies, ReconstructionMethodFor(MethodOf(p)).FrameCount(p.lrCount));
  RunEngine(call->port, [call] { call->bench.Reconstruction(call->port); }, OnInterrupt::Return);
  return ImageToArray(call->bench.resultImage);
}

py::array_t<uint8_t> ReadFrames(const std::string& pattern, int start, const py::object& count) {
  const std::string problem = LrPatternProblem(pattern);
  if (!problem.empty()) throw py::value_error("pattern " + QuotedValue(pattern) + ": " + problem);
  if (start < 0) throw py::value_error("start must be 0 or more, not " + std::to_string(start));
  const int wanted = count.is_none() ? -1 : count.cast<int>();
  if (!count.is_none() && wanted < 1) throw py::value_error("count must be 1 or more, or None for every frame found");
  FrameSource source(pattern, start);
  FrameImages frames;
  PythonPort port{py::none()};
  std::string missing;
  RunEngine(
      port,
      [&] {
        const int found = source.CountFrames(wanted < 0 ? kMaxLrCount + 1 : wanted);
        if (found == 0 || (wanted > 0 && found < wanted)) {
          missing = source.Name(found);
          return;
        }
        frames.resize(static_cast<size_t>(found));
        for (int k = 0; k < found; ++k) {
          CheckCancel(port);
          source.Read(k, frames[static_cast<size_t>(k)]);
          if (frames[static_cast<size_t>(k)].Width() != frames[0].Width() ||
              frames[static_cast<size_t>(k)].Height() != frames[0].Height()) {
            throw Error(source.Name(k) + " is not of frame 0's size (" + source.Name(0) + ")");
          }
        }
      },
      OnInterrupt::Wait, PyExc_OSError);
  if (!missing.empty()) {
    RaiseFileNotFound("cannot read " + missing + (source.IsVideo() ? ": the video ends before it" : ": no such file") +
                          (frames.empty() ? source.StartIndexHint() : std::string()),
                      missing);
  }
  const int width = frames[0].Width();
  const int height = frames[0].Height();
  py::array_t<uint8_t> all({static_cast<py::ssize_t>(frames.size()), static_cast<py::ssize_t>(height),
                            static_cast<py::ssize_t>(width), py::ssize_t{3}});
  const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
  for (size_t k = 0; k < frames.size(); ++k) {
    const py::array_t<uint8_t> one = ImageToArray(frames[k]);
    std::copy(one.data(), one.data() + frameBytes, all.mutable_data() + k * frameBytes);
  }
  return all;
}

void WriteImage(const std::string& path, const py::handle& image) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ImageFormat format = ImageFormat::Bmp;
  if (extension == ".png") {
    format = ImageFormat::Png;
  } else if (extension == ".tif" || extension == ".tiff") {
    format = ImageFormat::Tiff;
  } else if (extension != ".bmp") {
    throw py::value_error(path + ": write_image writes .bmp, .png and .tif files; the name says which");
  }
  const ColorGrayImage pixels = ImageFromPython(image, "image");
  PythonPort port{py::none()};
  RunEngine(port, [&] { WriteImageFile(path, pixels, format); }, OnInterrupt::Wait, PyExc_OSError);
}

// The codec module lies beside the build's own programs (<build>/python/../lib/lumet) or,
// installed, in <prefix>/lib/lumet beside <prefix>/lib/python3/dist-packages.
void FindCodecModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&FindCodecModule), &info) == 0 || info.dli_fname == nullptr) return;
  const std::filesystem::path folder = std::filesystem::path(info.dli_fname).parent_path();
  for (const std::filesystem::path& candidate : {folder.parent_path() / "lib" / "lumet",
                                                 folder.parent_path().parent_path() / "lumet"}) {
    std::error_code ec;
    if (std::filesystem::exists(candidate / "liblumet-codecs.so", ec)) {
      SetCodecModuleFolder(candidate.string());
      SetBackendModuleFolder(candidate.string());  // backend modules lie beside the codec modules
      return;
    }
  }
}

}  // namespace

}  // namespace lumet::python

PYBIND11_MODULE(lumet, m) {
  namespace py = pybind11;
  using namespace lumet::python;
  FindCodecModule();
  // The docstrings start with the signatures as Python users write them.
  py::options options;
  options.disable_function_signatures();
  m.doc() = kModuleDoc;
  m.def("super_resolve", &SuperResolve, py::arg("frames"), py::arg("roi"), py::arg("scale") = 4,
        py::arg("method") = lumet::MethodName(lumet::Method::Classic), py::kw_only(), py::arg("progress") = py::none(), kSuperResolveDoc);
  m.def("register", &Register, py::arg("frames"), py::arg("roi"), py::arg("method") = lumet::MethodName(lumet::Method::Classic), py::kw_only(),
        py::arg("progress") = py::none(), kRegisterDoc);
  m.def("reconstruct", &Reconstruct, py::arg("frames"), py::arg("homographies"), py::arg("roi"),
        py::arg("scale") = 4, py::arg("method") = lumet::MethodName(lumet::Method::Classic), py::kw_only(), py::arg("progress") = py::none(),
        kReconstructDoc);
  m.def("read_frames", &ReadFrames, py::arg("pattern"), py::arg("start") = 0, py::arg("count") = py::none(),
        kReadFramesDoc);
  m.def("write_image", &WriteImage, py::arg("path"), py::arg("image"), kWriteImageDoc);
  m.attr("PARAMETERS") = py::tuple(py::str(KeywordList()).attr("split")(", "));
}
