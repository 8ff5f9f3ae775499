#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "numeric/image_plane.h"
#include "workbench/frame_source.h"

namespace lumet::python {

namespace py = pybind11;

// The order of the three samples of a pixel in the arrays of a call: channel 0 red (RGB,
// the default) or blue (BGR, as OpenCV holds images). The engine's images are RGB.
enum class ChannelOrder { Rgb, Bgr };

// channel_order="RGB" or "BGR"; anything else is refused with ValueError.
ChannelOrder ChannelOrderOf(const py::handle& value);

// The sample types frames may come in: uint8 (the 8-bit channels alone), uint16 (each
// sample v also kept at depth as v / 257, the engine's deep planes) and float32 (0 .. 1,
// kept at depth as v * 255, clamped, not a number as 0; the 8-bit channels those rounded).
enum class SampleType { Uint8, Uint16, Float32 };

// How a call's frames hold their samples: three a pixel, or one (grey, each sample all
// three of the engine's channels) with or without a last axis of 1. Results come back in
// frame 0's form.
enum class FrameForm { Colour, Grey, GreyWithAxis };

// The frames a call gives: an (N, H, W, 3) array of colour frames or an (N, H, W) or
// (N, H, W, 1) one of grey frames, or any sequence or iterable (a list, a tuple, a
// generator) of (H, W, 3), (H, W) or (H, W, 1) arrays, of uint8, uint16 or float32 samples,
// row 0 at the top, C-contiguous. Anything else is refused with TypeError or ValueError
// saying what is accepted. Called with the GIL held. firstType and firstForm (not null)
// receive frame 0's sample type and form.
// The pixels of an (N, H, W, 3) array and of the arrays of a list or tuple are not copied:
// the arrays are held (their references let go of with the GIL) and each frame is converted
// when a stage reads it, so they must not change while the call runs. Any other iterable's
// frames are copied as they come, since an iterator may fill one buffer again and again.
std::shared_ptr<const MemoryFrames> FramesFromPython(const py::handle& frames, ChannelOrder order,
                                                     SampleType* firstType = nullptr, FrameForm* firstForm = nullptr);

// One (H, W, 3) uint8 image, or a grey (H, W) or (H, W, 1) one as three equal channels;
// what names it in messages ("image").
ColorGrayImage ImageFromPython(const py::handle& image, const std::string& what, ChannelOrder order);

// One (H, W, 3) image of T samples (uint16_t or float), or a grey one, as H x W x 3
// interleaved RGB samples as they are (channel_order undone); ValueError for another dtype.
template <typename T>
std::vector<T> SamplesFromPython(const py::handle& image, const std::string& what, ChannelOrder order, int& width,
                                 int& height);

// The bytes of one frame's samples of type in an array (1, 2 or 4).
size_t SampleBytes(SampleType type);

// An image as a new (H, W, 3) uint8 array.
py::array_t<uint8_t> ImageToArray(const ColorGrayImage& image, ChannelOrder order);

// A colour (H, W, 3) array in another form: unchanged for Colour, else the mean of its
// three samples rounded (for integer types) as (H, W) or (H, W, 1).
py::array InForm(const py::array& colour, FrameForm form);

// An image's pixels as H x W x 3 interleaved samples into out (needs no GIL).
void WriteInterleaved(const ColorGrayImage& image, ChannelOrder order, uint8_t* out);
// The same as samples of type, read at depth where the frame has deep planes: uint8 its
// 8-bit channels; uint16 the deep values times 257, rounded and clamped (8-bit levels a as
// a * 257); float32 the deep values over 255 (1.0 the nominal white, a floating-point
// file's values beyond 0 .. 1 kept; 8-bit levels a as a / 255).
void WriteInterleaved(const ColorGrayImage& image, ChannelOrder order, SampleType type, void* out);

}  // namespace lumet::python
