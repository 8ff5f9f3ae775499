#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>

#include "params/param_set.h"

namespace lumet::python {

namespace py = pybind11;

// The parameters of a call: the standard values, then the keyword arguments, named as the
// command-line options with "_" for "-" (psf_sigma=0.6, ransac=(20, 25), roi=(x, y, w, h);
// lambda_ for lambda, a Python word). A value out of its range is refused with ValueError
// naming its keyword ("psf_sigma=7.0 is out of range ..."); an unknown name, or one about
// files, with TypeError.
// frameCount is the number of frames given: lr_count defaults to frameCount - 1, every
// frame after frame 0 registered.
ParamSet ParamsFromKeywords(const py::dict& keywords, int frameCount);

// The keyword names, in the parameter table's order (for the docstrings and the stub).
std::string KeywordList();

// threads=: None or 0 for every core, else the count (at most kMostThreads).
int ThreadsOf(const py::handle& value);
inline constexpr int kMostThreads = 1024;

// radius=: a whole number, 1 or more (the frames reference - radius .. reference + radius).
int RadiusOf(const py::handle& value);

// reference=: the frame the others are registered against and the result shows, one of
// frames 0 .. lrCount (ValueError otherwise).
int ReferenceOf(const py::handle& value, int lrCount);

// memory_limit=: None for the default share of the machine, a number of bytes, or a size's
// text ("700M", "1.5G").
size_t MemoryLimitOf(const py::handle& value);

// A keyword that takes one of a few words (channel_order=, units=): the choice of the word
// given, ValueError otherwise, expected followed by ", not " and the value's repr.
template <typename T>
T ChosenWord(const py::handle& value, std::initializer_list<std::pair<const char*, T>> choices,
             const std::string& expected) {
  if (py::isinstance<py::str>(value)) {
    const std::string word = value.cast<std::string>();
    for (const auto& [name, choice] : choices) {
      if (word == name) return choice;
    }
  }
  throw py::value_error(expected + ", not " + py::repr(value).cast<std::string>());
}

}  // namespace lumet::python
