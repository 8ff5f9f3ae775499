// The Python module `lumet`: the engine's commands over numpy arrays.
#include <dlfcn.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "imageio/codec_library.h"
#include "library/conversions.h"
#include "library/sequence_source.h"
#include "lumet/stages.h"
#include "lumet/video.h"
#include "imageio/image_file.h"
#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "reconstruction/enhanced/backend.h"
#include "reconstruction/reconstruction_method.h"
#include "python/call_params.h"
#include "python/docstrings.h"
#include "python/engine_call.h"
#include "python/frame_arrays.h"
#include "python/homography_arrays.h"
#include "python/keyword_text.h"
#include "python/python_port.h"
#include "util/parallel.h"
#include "workbench/frame_source.h"

namespace lumet::python {

namespace {

// The stages' observer of a call: progress and warnings to its port, cancelled through it.
class PortObserver final : public Observer {
 public:
  explicit PortObserver(PythonPort& port) : port_(port) {}
  void OnProgress(const Progress& p) override { port_.ReportProgress(p.stage, p.step, p.total); }
  void OnWarning(const Warning& w) override {
    for (size_t i = 0; i < w.frames.size(); ++i) {
      port_.Warn(FrameWarning{w.frames[i], w.kind, i < w.details.size() ? w.details[i] : std::string(), w.remedy});
    }
  }
  void OnLog(const std::string& line) override { port_.AppendLog(line); }
  bool CancelRequested() override { return port_.CancelRequested(); }

 private:
  PythonPort& port_;
};

// What a call computes from: its frames (the arrays' pixels, held once), its checked
// parameters as the stages' settings, its reference frame, and what it gives back.
struct Call {
  Call(const py::handle& frames, const py::dict& keywords, const py::object& progress, const py::handle& channelOrder,
       const py::handle& threadCount, const py::handle& referenceIndex)
      : port(progress), order(ChannelOrderOf(channelOrder)) {
    auto images = FramesFromPython(frames, order, &inputType, &inputForm);
    const int count = static_cast<int>(images->Count());
    sequence = Sequence::FromSource(std::make_shared<Sequence::Source>(std::string(), 0, std::move(images)));
    params = ParamsFromKeywords(keywords, count);
    FillSettings(params, settings);
    settings.threads = ThreadsOf(threadCount);
    reference = ReferenceOf(referenceIndex, params.lrCount);
  }
  // Frames 0 .. lr_count but the reference.
  std::vector<int> Others(int count) const {
    std::vector<int> frames;
    for (int k = 0; k < count; ++k) {
      if (k != reference) frames.push_back(k);
    }
    return frames;
  }

  // Enough frames for lr_count, or the advice in lr_count's words.
  void CheckFrameCount(bool registration) const {
    FrameSource& source = sequence.source()->frames;
    const int given = source.CountFrames(kMaxLrCount + 2);
    const int lrCount = params.lrCount;
    if (registration && lrCount + 1 > given) throw Error(RegistrationShortage(source, lrCount, given));
    const int needed = ReconstructionMethodFor(MethodOf(params)).FrameCount(lrCount);
    if (!registration && needed > given) throw Error(ReconstructionShortage(source, lrCount, needed, given));
  }

  PythonPort port;
  ChannelOrder order;
  SampleType inputType = SampleType::Uint8;  // frame 0's
  FrameForm inputForm = FrameForm::Colour;    // frame 0's
  Sequence sequence = Sequence::FromFrames({});
  ParamSet params;
  Settings settings;
  int reference = 0;
  Registration registration;
  Result result;
};

// Runs the call's stages; the caller may leave on Ctrl+C, so the work owns the call.
// reconstructFrames: the frames the reconstruction takes, none for those the method takes
// of the registered ones.
// window (not empty): the frames registered and reconstructed from, whatever lr_count says.
void RunCall(const std::shared_ptr<Call>& call, bool registration, bool reconstruction,
             std::vector<int> reconstructFrames = {}, std::vector<int> window = {}) {
  RunEngine(
      call->port,
      [call, registration, reconstruction, frames = std::move(reconstructFrames), window = std::move(window)] {
        if (window.empty()) call->CheckFrameCount(registration);
        PortObserver observer(call->port);
        if (registration) {
          call->registration =
              lumet::Register(call->sequence, call->reference,
                              window.empty() ? call->Others(call->params.lrCount + 1) : window, call->settings, &observer);
        }
        if (reconstruction) {
          call->result =
              lumet::Reconstruct(call->sequence, call->registration, call->reference, frames, call->settings, &observer);
        }
      },
      OnInterrupt::Return);
}

// roi, scale and method join the other keywords: one path for every value's checks.
py::dict Keywords(py::kwargs parameters, const py::object& roi, const py::object& scale, const py::object& method) {
  py::dict all(parameters);
  if (!roi.is_none()) all["roi"] = roi;
  if (!scale.is_none()) all["scale"] = scale;
  if (!method.is_none()) all["method"] = method;
  return all;
}

// dtype=None: input (for a result, frame 0's sample type); else "uint8", "uint16" or
// "float32" (or numpy's type objects for them).
SampleType ResultTypeOf(const py::object& dtype, SampleType input) {
  if (dtype.is_none()) return input;
  py::dtype d;
  try {
    d = py::dtype::from_args(dtype);
  } catch (const py::error_already_set&) {
    d = py::dtype();
  }
  if (d.is(py::dtype::of<uint8_t>())) return SampleType::Uint8;
  if (d.is(py::dtype::of<uint16_t>())) return SampleType::Uint16;
  if (d.is(py::dtype::of<float>())) return SampleType::Float32;
  throw py::value_error("dtype must be None, numpy.uint8, numpy.uint16 or numpy.float32, not " +
                        py::repr(dtype).cast<std::string>());
}

// The estimate as an (H, W, 3) array of type: uint8 the result files' 8 bits (each value
// truncated and clamped), uint16 their 16 bits (EstimateTo16Bit, whose samples over 257 are
// those 8 bits), float32 the estimate over 255, clamped to 0 .. 1 unless frame 0 was
// float32 too (scene-linear values beyond white are then the scene's own).
py::array ColourResultArray(const Estimate& e, ChannelOrder order, SampleType inputType, SampleType type) {
  if (type == SampleType::Uint8) return ImageToArray(ToColorImage(e), order);
  const size_t width = static_cast<size_t>(std::max(e.width, 0));
  const size_t height = static_cast<size_t>(std::max(e.height, 0));
  const std::vector<py::ssize_t> shape = {static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width), 3};
  const auto sampleOf = [&](int c) { return static_cast<size_t>(order == ChannelOrder::Bgr ? 2 - c : c); };
  if (type == SampleType::Uint16) {
    py::array_t<uint16_t> out(shape);
    uint16_t* data = out.mutable_data();
    for (int c = 0; c < 3; ++c) {
      for (size_t p = 0; p < width * height; ++p) data[3 * p + sampleOf(c)] = EstimateTo16Bit(e.band[static_cast<size_t>(c)][p]);
    }
    return out;
  }
  const bool unclamped = inputType == SampleType::Float32;
  py::array_t<float> out(shape);
  float* data = out.mutable_data();
  for (int c = 0; c < 3; ++c) {
    for (size_t p = 0; p < width * height; ++p) {
      const double v = e.band[static_cast<size_t>(c)][p] / 255.0;
      const double kept = !std::isfinite(v) ? 0.0 : unclamped ? v : std::clamp(v, 0.0, 1.0);
      data[3 * p + sampleOf(c)] = static_cast<float>(kept);
    }
  }
  return out;
}

// The estimate in frame 0's form: grey frames give a grey result.
py::array ResultArray(const Call& call, SampleType type) {
  return InForm(ColourResultArray(call.result.estimate, call.order, call.inputType, type), call.inputForm);
}

py::array SuperResolve(const py::handle& frames, const py::object& roi, const py::object& scale,
                       const py::object& method, const py::object& channelOrder, const py::object& progress,
                       const py::object& threads, const py::object& memoryLimit, const py::object& reference,
                       const py::object& radius, const py::object& dtype, py::kwargs parameters) {
  auto call = std::make_shared<Call>(frames, Keywords(std::move(parameters), roi, scale, method), progress,
                                     channelOrder, threads, reference);
  const SampleType resultType = ResultTypeOf(dtype, call->inputType);
  call->settings.memoryLimit = MemoryLimitOf(memoryLimit);
  if (radius.is_none()) {
    RunCall(call, true, true);
  } else {
    // The reference's window of the frames given, as `lumet-cli video` makes its output frame.
    const int r = RadiusOf(radius);
    if (call->sequence.Count() < 2) throw py::value_error("radius=" + std::to_string(r) + ": only the reference was given");
    RunEngine(
        call->port,
        [call, r] {
          PortObserver observer(call->port);
          VideoSuperResolver clip(call->sequence, r, call->settings, false);
          call->result = clip.Frame(call->reference, &observer);
        },
        OnInterrupt::Return);
  }
  return ResultArray(*call, resultType);
}

// The output frames of super_resolve_video, each made when the caller asks for it.
class VideoFrames {
 public:
  VideoFrames(const py::object& progress, ChannelOrder order, const py::object& dtype)
      : port_(progress), order_(order), dtype_(dtype) {}

  // frames: a path (a frame pattern or a video file), read forward as the frames are made,
  // or the frames themselves.
  void Open(const py::handle& frames, const py::dict& keywords, const py::handle& threads, size_t memoryLimit,
            int radius, int start, bool wholeFrame, bool warmStart) {
    std::optional<Sequence> given;
    std::string path;
    if (py::isinstance<py::str>(frames) || py::hasattr(frames, "__fspath__")) {
      path = py::module_::import("os").attr("fspath")(frames).cast<std::string>();
    } else {
      given = Sequence::FromSource(
          std::make_shared<Sequence::Source>(std::string(), 0, FramesFromPython(frames, order_, &inputType_, &form_)));
    }
    const ParamSet params = ParamsFromKeywords(keywords, given ? given->Count() : kMaxLrCount + 1);
    FillSettings(params, settings_);
    settings_.threads = ThreadsOf(threads);
    settings_.memoryLimit = memoryLimit;
    port_.startKeyword = "start";
    RunEngine(
        port_,
        [&] {
          clip_ = given ? std::make_unique<VideoSuperResolver>(*given, radius, settings_, wholeFrame)
                        : std::make_unique<VideoSuperResolver>(path, start, radius, settings_, wholeFrame);
          clip_->SetWarmStart(warmStart);
          if (!given) inputType_ = FirstFrameType(path, start);
        },
        OnInterrupt::Wait, given ? PyExc_ValueError : PyExc_OSError);
    resultType_ = ResultTypeOf(dtype_, inputType_);
  }

  // Output frames first .. last (None: the clip's last).
  void Range(int first, const py::object& last) {
    const int count = clip_->Count();
    last_ = last.is_none() ? count - 1 : last.cast<int>();
    if (first < 0 || first > last_ || last_ >= count) {
      throw py::value_error("first=" + std::to_string(first) + ", last=" + std::to_string(last_) +
                            ": not within the clip's frames 0 .. " + std::to_string(count - 1));
    }
    next_ = first;
  }

  py::array Next() {
    if (next_ > last_) throw py::stop_iteration();
    Result result;
    RunEngine(
        port_,
        [&] {
          PortObserver observer(port_);
          result = clip_->Frame(next_, &observer);
        },
        OnInterrupt::Wait);
    ++next_;
    return InForm(ColourResultArray(result.estimate, order_, inputType_, resultType_), form_);
  }

  int Left() const { return last_ - next_ + 1; }

 private:
  PythonPort port_;
  // The sample type of a path's first frame: 16-bit files and deep video give uint16,
  // floating-point files float32.
  static SampleType FirstFrameType(const std::string& path, int start) {
    ColorGrayImage first;
    Sequence::FromPattern(path, start).source()->ReadChecked(0, first);
    switch (InputDepthOf(first)) {
      case InputDepth::Bits8: return SampleType::Uint8;
      case InputDepth::Bits16: return SampleType::Uint16;
      case InputDepth::Float: return SampleType::Float32;
    }
    return SampleType::Uint8;
  }

  ChannelOrder order_;
  py::object dtype_;
  SampleType inputType_ = SampleType::Uint8;   // frame 0's
  SampleType resultType_ = SampleType::Uint8;  // the output frames'
  FrameForm form_ = FrameForm::Colour;  // the given frames' (a path's are colour)
  Settings settings_;
  std::unique_ptr<VideoSuperResolver> clip_;
  int next_ = 0;
  int last_ = -1;
};

std::unique_ptr<VideoFrames> SuperResolveVideo(const py::handle& frames, const py::object& roi,
                                               const py::object& scale, const py::object& method, int radius,
                                               int first, const py::object& last, int start, bool warmStart,
                                               const py::object& channelOrder, const py::object& progress,
                                               const py::object& threads, const py::object& memoryLimit,
                                               const py::object& dtype, py::kwargs parameters) {
  if (radius < 1) throw py::value_error("radius=" + std::to_string(radius) + ": a window needs radius 1 or more");
  if (start < 0) throw py::value_error("start must be 0 or more, not " + std::to_string(start));
  auto video = std::make_unique<VideoFrames>(progress, ChannelOrderOf(channelOrder), dtype);
  video->Open(frames, Keywords(std::move(parameters), roi, scale, method), threads, MemoryLimitOf(memoryLimit),
              radius, start, roi.is_none(), warmStart);
  video->Range(first, last);
  return video;
}

py::tuple Register(const py::handle& frames, const py::object& roi, const py::object& method,
                   const py::object& channelOrder, const py::object& progress, const py::object& threads,
                   const py::object& units, const py::object& reference, py::kwargs parameters) {
  const HomographyUnits unitsWanted = HomographyUnitsOf(units);
  auto call = std::make_shared<Call>(frames, Keywords(std::move(parameters), roi, py::none(), method), progress,
                                     channelOrder, threads, reference);
  RunCall(call, true, false);
  const int count = call->params.lrCount + 1;
  py::array_t<double> errors({static_cast<py::ssize_t>(count), py::ssize_t{2}});
  auto e = errors.mutable_unchecked<2>();
  std::map<int, Matrix> stored;
  for (int k = 0; k < count; ++k) {
    const std::optional<RegistrationScores> scores = call->registration.Scores(call->reference, k);
    e(k, 0) = scores ? scores->search : 0.0;
    e(k, 1) = scores ? scores->refinement : 0.0;
    if (k != call->reference) stored[k] = ToMatrix(call->registration.Pixels(call->reference, k));
  }
  return py::make_tuple(HomographiesToArray(stored, count, call->reference, unitsWanted), errors);
}

py::array Reconstruct(const py::handle& frames, const py::handle& homographies, const py::object& roi,
                      const py::object& scale, const py::object& method, const py::object& units,
                      const py::object& channelOrder, const py::object& progress, const py::object& threads,
                      const py::object& memoryLimit, const py::object& reference, const py::object& dtype,
                      py::kwargs parameters) {
  const HomographyUnits unitsGiven = HomographyUnitsOf(units);
  auto call = std::make_shared<Call>(frames, Keywords(std::move(parameters), roi, scale, method), progress,
                                     channelOrder, threads, reference);
  const SampleType resultType = ResultTypeOf(dtype, call->inputType);
  call->settings.memoryLimit = MemoryLimitOf(memoryLimit);
  const ParamSet& p = call->params;
  const int needed = ReconstructionMethodFor(MethodOf(p)).FrameCount(p.lrCount);
  std::map<int, Matrix> stored;
  AdoptHomographies(homographies, needed, call->reference, unitsGiven, stored);
  for (const auto& [k, h] : stored) {
    FileHomography file{};
    for (int i = 0; i < 8; ++i) file[static_cast<size_t>(i)] = h.At1(i / 3 + 1, i % 3 + 1);
    call->registration.SetFileUnits(call->reference, k, file);
  }
  RunCall(call, false, true, call->Others(needed));
  return ResultArray(*call, resultType);
}

py::array ReadFrames(const std::string& pattern, int start, const py::object& count, const py::object& channelOrder,
                     const py::object& dtype) {
  const ChannelOrder order = ChannelOrderOf(channelOrder);
  const SampleType type = ResultTypeOf(dtype, SampleType::Uint8);
  const std::string problem = LrPatternProblem(pattern);
  if (!problem.empty()) throw py::value_error("pattern " + QuotedValue(pattern) + ": " + problem);
  if (start < 0) throw py::value_error("start must be 0 or more, not " + std::to_string(start));
  const int wanted = count.is_none() ? -1 : count.cast<int>();
  if (!count.is_none() && wanted < 1) throw py::value_error("count must be 1 or more, or None for every frame found");
  FrameSource source(pattern, start);
  // The frames' samples go straight into the array's memory, one decoded frame at a time.
  std::unique_ptr<std::vector<uint8_t>> samples;
  int found = 0;
  int width = 0;
  int height = 0;
  PythonPort port{py::none()};
  port.startKeyword = "start";
  std::string missing;
  RunEngine(
      port,
      [&] {
        found = source.CountFrames(wanted < 0 ? kMaxLrCount + 1 : wanted);
        if (found == 0 || (wanted > 0 && found < wanted)) {
          missing = source.Name(found);
          return;
        }
        ColorGrayImage frame;
        size_t frameBytes = 0;
        for (int k = 0; k < found; ++k) {
          CheckCancel(port);
          source.Read(k, frame);
          if (k == 0) {
            width = frame.Width();
            height = frame.Height();
            frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3 * SampleBytes(type);
            samples = std::make_unique<std::vector<uint8_t>>(static_cast<size_t>(found) * frameBytes);
          } else if (frame.Width() != width || frame.Height() != height) {
            throw Error(source.Name(k) + " is not of frame 0's size (" + source.Name(0) + ")");
          }
          WriteInterleaved(frame, order, type, samples->data() + static_cast<size_t>(k) * frameBytes);
        }
      },
      OnInterrupt::Wait, PyExc_OSError);
  if (!missing.empty()) {
    RaiseFileNotFound(port.InCallersWords("cannot read " + missing +
                                          (source.IsVideo() ? ": the video ends before it" : ": no such file") +
                                          source.StartIndexHint()),
                      missing);
  }
  const uint8_t* data = samples->data();
  const py::capsule owner(samples.get(), [](void* p) { delete static_cast<std::vector<uint8_t>*>(p); });
  samples.release();  // the array's now
  const py::dtype dtypes[] = {py::dtype::of<uint8_t>(), py::dtype::of<uint16_t>(), py::dtype::of<float>()};
  return py::array(dtypes[static_cast<int>(type)],
                   {static_cast<py::ssize_t>(found), static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width),
                    py::ssize_t{3}},
                   data, owner);
}

// The dtype of an image given to write_image.
bool HasDtype(const py::handle& image, const py::dtype& dtype) {
  return py::isinstance<py::array>(image) && py::reinterpret_borrow<py::array>(image).dtype().is(dtype);
}

// The ICC profile and EXIF block given to write_image; refused when the format cannot keep them.
std::shared_ptr<const FileMetadata> MetadataToWrite(const std::string& path, ImageFormat format,
                                                    const py::object& iccProfile, const py::object& exif) {
  FileMetadata metadata;
  if (!iccProfile.is_none()) metadata.iccProfile = py::bytes(iccProfile);
  if (!exif.is_none()) metadata.exif = py::bytes(exif);
  if (metadata.Empty()) return nullptr;
  const DroppedMetadata dropped = MetadataDroppedBy(format, metadata);
  if (!dropped.parts.empty()) {
    throw py::value_error(path + ": the " + dropped.parts + " cannot be written (" + dropped.reason + ")");
  }
  return std::make_shared<const FileMetadata>(std::move(metadata));
}

void WriteImage(const std::string& path, const py::handle& image, const py::object& channelOrder,
                const py::object& iccProfile, const py::object& exif) {
  const ChannelOrder order = ChannelOrderOf(channelOrder);
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ImageFormat format = ImageFormat::Bmp;
  if (extension == ".png") {
    format = ImageFormat::Png;
  } else if (extension == ".tif" || extension == ".tiff") {
    format = ImageFormat::Tiff;
  } else if (extension == ".exr") {
    format = ImageFormat::Exr;
  } else if (extension != ".bmp") {
    throw py::value_error(path + ": write_image writes .bmp, .png, .tif and .exr files; the name says which");
  }
  const std::shared_ptr<const FileMetadata> metadata = MetadataToWrite(path, format, iccProfile, exif);
  PythonPort port{py::none()};
  int width = 0;
  int height = 0;
  if (HasDtype(image, py::dtype::of<uint16_t>())) {
    if (format == ImageFormat::Bmp || format == ImageFormat::Exr) {
      const char* holds = format == ImageFormat::Bmp ? "a BMP file holds 8 bits" : "an OpenEXR file holds floats";
      throw py::value_error(path + ": " + holds + " a sample; write uint16 images as .png or .tif");
    }
    const std::vector<uint16_t> rgb = SamplesFromPython<uint16_t>(image, "image", order, width, height);
    RunEngine(port, [&] { WriteSamples16Bit(path, width, height, rgb, format, metadata.get()); }, OnInterrupt::Wait,
              PyExc_OSError);
    return;
  }
  if (HasDtype(image, py::dtype::of<float>())) {
    if (format != ImageFormat::Exr && format != ImageFormat::Tiff) {
      throw py::value_error(path + ": a " + (format == ImageFormat::Bmp ? "BMP" : "PNG") +
                            " file holds integers; write float32 images as .exr or .tif");
    }
    const std::vector<float> rgb = SamplesFromPython<float>(image, "image", order, width, height);
    RunEngine(port, [&] { WriteSamplesFloat(path, width, height, rgb, format, metadata.get()); }, OnInterrupt::Wait,
              PyExc_OSError);
    return;
  }
  if (HasDtype(image, py::dtype("float16"))) {
    if (format != ImageFormat::Exr) throw py::value_error(path + ": write float16 images as .exr (half floats)");
    const py::object floats = image.attr("astype")(py::dtype::of<float>());
    const std::vector<float> rgb = SamplesFromPython<float>(floats, "image", order, width, height);
    RunEngine(port, [&] { WriteSamplesHalf(path, width, height, rgb, format, metadata.get()); }, OnInterrupt::Wait,
              PyExc_OSError);
    return;
  }
  ColorGrayImage pixels = ImageFromPython(image, "image", order);
  pixels.metadata = metadata;
  RunEngine(port, [&] { WriteImageFile(path, pixels, format); }, OnInterrupt::Wait, PyExc_OSError);
}

// The ICC profile and EXIF of a still file, as write_image takes them.
py::dict ReadMetadata(const std::string& path) {
  ColorGrayImage image;
  PythonPort port{py::none()};
  RunEngine(port, [&] { ReadImageFile(path, image); }, OnInterrupt::Wait, PyExc_OSError);
  py::dict out;
  const FileMetadata* m = image.metadata.get();
  out["icc_profile"] = m != nullptr && !m->iccProfile.empty() ? py::object(py::bytes(m->iccProfile)) : py::object(py::none());
  out["exif"] = m != nullptr && !m->exif.empty() ? py::object(py::bytes(m->exif)) : py::object(py::none());
  return out;
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

// Every function takes or returns numpy arrays: without numpy the import fails, saying what
// to install, rather than the first call with pybind11's own message. (A C++ exception out of
// the module's initialisation becomes an ImportError with its text.)
void RequireNumpy() {
  namespace py = pybind11;
  try {
    py::module_::import("numpy");
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ImportError)) throw;
    throw std::runtime_error(
        "lumet needs numpy, which this Python cannot import (" + std::string(py::str(e.value())) +
        "): install it (Debian: apt install python3-numpy; in a virtual environment: pip install numpy, "
        "or create the environment with --system-site-packages to use Debian's)");
  }
}

}  // namespace

}  // namespace lumet::python

PYBIND11_MODULE(lumet, m) {
  namespace py = pybind11;
  using namespace lumet::python;
  RequireNumpy();
  FindCodecModule();
  // The docstrings start with the signatures inspect.signature reads (name(...)\n--\n\n).
  py::options options;
  options.disable_function_signatures();
  m.doc() = kModuleDoc;
  const std::string classic = lumet::MethodName(lumet::Method::Classic);
  static const std::string superResolveDoc =
      SignatureText("super_resolve", "frames, roi, scale=4, method='classic', *, channel_order='RGB', progress=None, "
                                     "threads=None, memory_limit=None, reference=0, radius=None, dtype=None") +
      kSuperResolveDoc;
  static const std::string registerDoc =
      SignatureText("register", "frames, roi, method='classic', *, units='pixel', channel_order='RGB', "
                                "progress=None, threads=None, reference=0") + kRegisterDoc;
  static const std::string reconstructDoc =
      SignatureText("reconstruct", "frames, homographies, roi, scale=4, method='classic', *, units='pixel', "
                                   "channel_order='RGB', progress=None, threads=None, memory_limit=None, "
                                   "reference=0, dtype=None") +
      kReconstructDoc;
  const auto rgb = py::arg("channel_order") = "RGB";
  const auto progress = py::arg("progress") = py::none();
  const auto threads = py::arg("threads") = py::none();
  const auto memoryLimit = py::arg("memory_limit") = py::none();
  const auto units = py::arg("units") = "pixel";
  const auto reference = py::arg("reference") = 0;
  m.def("super_resolve", &SuperResolve, py::arg("frames"), py::arg("roi"), py::arg("scale") = 4,
        py::arg("method") = classic, py::kw_only(), rgb, progress, threads, memoryLimit, reference,
        py::arg("radius") = py::none(), py::arg("dtype") = py::none(), superResolveDoc.c_str());
  static const std::string superResolveVideoDoc =
      SignatureText("super_resolve_video", "frames, roi=None, scale=4, method='classic', *, radius=2, first=0, "
                                           "last=None, start=0, warm_start=True, channel_order='RGB', "
                                           "progress=None, threads=None, memory_limit=None, dtype=None") +
      kSuperResolveVideoDoc;
  py::class_<VideoFrames>(m, "VideoFrames", "The output frames of super_resolve_video, made one at a time.")
      .def("__iter__", [](VideoFrames& v) -> VideoFrames& { return v; })
      .def("__next__", &VideoFrames::Next)
      .def("__len__", &VideoFrames::Left, "The output frames still to come.");
  m.def("super_resolve_video", &SuperResolveVideo, py::arg("frames"), py::arg("roi") = py::none(),
        py::arg("scale") = 4, py::arg("method") = classic, py::kw_only(), py::arg("radius") = 2,
        py::arg("first") = 0, py::arg("last") = py::none(), py::arg("start") = 0, py::arg("warm_start") = true, rgb,
        progress, threads, memoryLimit, py::arg("dtype") = py::none(), superResolveVideoDoc.c_str());
  m.def("register", &Register, py::arg("frames"), py::arg("roi"), py::arg("method") = classic, py::kw_only(), rgb,
        progress, threads, units, reference, registerDoc.c_str());
  m.def("reconstruct", &Reconstruct, py::arg("frames"), py::arg("homographies"), py::arg("roi"),
        py::arg("scale") = 4, py::arg("method") = classic, py::kw_only(), units, rgb, progress, threads, memoryLimit,
        reference, py::arg("dtype") = py::none(), reconstructDoc.c_str());
  m.def("read_frames", &ReadFrames, py::arg("pattern"), py::arg("start") = 0, py::arg("count") = py::none(),
        py::kw_only(), rgb, py::arg("dtype") = py::none(), kReadFramesDoc);
  m.def("write_image", &WriteImage, py::arg("path"), py::arg("image"), py::kw_only(), rgb,
        py::arg("icc_profile") = py::none(), py::arg("exif") = py::none(), kWriteImageDoc);
  m.def("read_metadata", &ReadMetadata, py::arg("path"), kReadMetadataDoc);
  m.attr("PARAMETERS") = py::tuple(py::str(KeywordList()).attr("split")(", "));
}
