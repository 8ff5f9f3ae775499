#include "library/conversions.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <mutex>

#include "imageio/codec_library.h"
#include "imageio/homography_file.h"
#include "numeric/pixel_map.h"
#include "params/algorithm_options.h"
#include "params/param_description.h"
#include "reconstruction/gray_conversion.h"
#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

void CheckFrame(const Frame& frame, const std::string& name) {
  const size_t pixels = static_cast<size_t>(std::max(0, frame.width)) * static_cast<size_t>(std::max(0, frame.height));
  if (frame.Empty() || frame.rgb.size() != 3 * pixels) {
    throw Error(name + " is " + std::to_string(frame.width) + " x " + std::to_string(frame.height) + " pixels with " +
                std::to_string(frame.rgb.size()) + " samples; a frame needs three samples a pixel and at least one pixel");
  }
}

ColorGrayImage ToColorImage(const Frame& frame, const std::string& name) {
  CheckFrame(frame, name);
  ColorGrayImage image;
  image.Create(frame.width, frame.height);
  for (int y = 0; y < frame.height; ++y) {
    const std::uint8_t* in = frame.rgb.data() + 3 * static_cast<size_t>(y) * static_cast<size_t>(frame.width);
    for (size_t c = 0; c < 3; ++c) {
      std::uint8_t* out = image.channels[c].Row(y);
      for (int x = 0; x < frame.width; ++x) out[x] = in[3 * static_cast<size_t>(x) + c];
    }
  }
  return image;
}

Frame ToFrame(const ColorGrayImage& image) {
  Frame frame;
  frame.width = image.Width();
  frame.height = image.Height();
  frame.rgb.resize(3 * static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height));
  for (int y = 0; y < frame.height; ++y) {
    std::uint8_t* out = frame.rgb.data() + 3 * static_cast<size_t>(y) * static_cast<size_t>(frame.width);
    for (size_t c = 0; c < 3; ++c) {
      const std::uint8_t* in = image.channels[c].Row(y);
      for (int x = 0; x < frame.width; ++x) out[3 * static_cast<size_t>(x) + c] = in[x];
    }
  }
  return frame;
}

Estimate ToEstimate(const ColorDoubleImage& estimate) {
  Estimate out;
  out.width = estimate.Width();
  out.height = estimate.Height();
  for (size_t c = 0; c < 3; ++c) {
    std::vector<double>& band = out.band[c];
    band.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    for (int y = 0; y < out.height; ++y) {
      const double* row = estimate.channels[c].Row(y);
      std::copy(row, row + out.width, band.begin() + static_cast<std::ptrdiff_t>(y) * out.width);
    }
  }
  return out;
}

ColorDoubleImage ToDoubleImage(const Estimate& estimate) {
  ColorDoubleImage out;
  out.Create(estimate.width, estimate.height);
  for (size_t c = 0; c < 3; ++c) {
    const std::vector<double>& band = estimate.band[c];
    for (int y = 0; y < estimate.height; ++y) {
      const auto row = band.begin() + static_cast<std::ptrdiff_t>(y) * estimate.width;
      std::copy(row, row + estimate.width, out.channels[c].Row(y));
    }
  }
  return out;
}

namespace {

// The values Settings holds as ParamSet does, the same name and meaning: copy(field of
// ParamSet, field of Settings) for each, so that both directions copy the same list.
template <typename Copy>
void ForEachSharedValue(Copy copy) {
  copy(&ParamSet::filterSigma, &Settings::filterSigma);
  copy(&ParamSet::ransacFirst, &Settings::ransacFirst);
  copy(&ParamSet::ransacSecond, &Settings::ransacSecond);
  copy(&ParamSet::sadSize, &Settings::sadSize);
  copy(&ParamSet::searchArea, &Settings::searchArea);
  copy(&ParamSet::scale, &Settings::scale);
  copy(&ParamSet::psfSigma, &Settings::psfSigma);
  copy(&ParamSet::alpha, &Settings::alpha);
  copy(&ParamSet::beta, &Settings::beta);
  copy(&ParamSet::lambda, &Settings::lambda);
}

}  // namespace

void FillSettings(const ParamSet& p, Settings& s) {
  s.roi = Rect{p.roi.left, p.roi.top, static_cast<int>(p.roi.Width()), static_cast<int>(p.roi.Height())};
  ForEachSharedValue([&](auto param, auto setting) { s.*setting = p.*param; });
  s.method = MethodName(MethodOf(p));
  s.methodParams = p.methodValues;
}

ParamSet ToParamSet(const Settings& s) {
  ParamSet p = InitParams();
  const int64_t right = int64_t{s.roi.x} + s.roi.width;
  const int64_t bottom = int64_t{s.roi.y} + s.roi.height;
  if (right > INT32_MAX || bottom > INT32_MAX || right < INT32_MIN || bottom < INT32_MIN) {
    throw Error(Format("the ROI %d,%d,%d,%d reaches beyond any frame", s.roi.x, s.roi.y, s.roi.width, s.roi.height));
  }
  p.roi = RoiRect{s.roi.x, s.roi.y, static_cast<int32_t>(right), static_cast<int32_t>(bottom)};
  ForEachSharedValue([&](auto param, auto setting) { p.*param = s.*setting; });
  p.method = s.method;
  // Those left out keep their defaults.
  for (const auto& [name, value] : s.methodParams) p.methodValues[name] = value;
  CheckParams(p);
  return p;
}

Matrix ToMatrix(const PixelHomography& h) {
  PixelMap map;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) map.p[i][j] = h(i, j);
  }
  if (!(map.p[2][2] != 0.0)) throw Error("a homography's bottom-right entry must not be 0");
  return StoredHomography(HomographyOf(map));
}

PixelHomography ToPixelHomography(const Matrix& h) {
  const PixelMap map = PixelMapOf(h);
  PixelHomography out;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out.m[static_cast<size_t>(3 * i + j)] = map.p[i][j];
  }
  return out;
}

void UseModulesBesideLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&UseModulesBesideLibrary), &info) == 0 || info.dli_fname == nullptr) return;
    const std::filesystem::path folder = std::filesystem::path(info.dli_fname).parent_path();
    // In the build tree and in a prefix whose libraries are in lib/ the modules are in
    // lib/lumet/; with a multiarch library folder they are one level up.
    for (const char* relative : {"lumet", LUMET_MODULES_FROM_LIBRARY}) {
      std::error_code ec;
      if (std::filesystem::exists(folder / relative / "liblumet-stills.so", ec)) {
        SetCodecModuleFolder((folder / relative).lexically_normal().string());
        return;
      }
    }
  });
}

}  // namespace lumet
