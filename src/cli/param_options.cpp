#include "cli/param_options.h"

#include <cmath>
#include <cstdio>

#include "util/error.h"
#include "workbench/frame_source.h"
#include "util/text_format.h"

namespace lumet::cli {

namespace {

// Parses "A<sep>B<sep>..." into exactly `count` integers.
bool ParseInts(const std::string& text, char sep, int count, int* out) {
  size_t pos = 0;
  for (int i = 0; i < count; ++i) {
    const size_t end = (i + 1 < count) ? text.find(sep, pos) : text.size();
    if (end == std::string::npos) return false;
    const std::string part = text.substr(pos, end - pos);
    if (part.empty()) return false;
    size_t used = 0;
    try {
      const long value = std::stol(part, &used);
      if (used != part.size() || value < INT32_MIN || value > INT32_MAX) return false;
      out[i] = static_cast<int>(value);
    } catch (...) {
      return false;
    }
    pos = end + 1;
  }
  return true;
}

std::string CheckRoiText(const std::string& text) {
  int v[4];
  return ParseInts(text, ',', 4, v) ? std::string() : "expected X,Y,W,H (four integers), got '" + text + "'";
}

std::string CheckRansacText(const std::string& text) {
  int v[2];
  return ParseInts(text, '/', 2, v) ? std::string() : "expected U/N (two integers), got '" + text + "'";
}

void RequireFinite(double value, const char* option) {
  if (!std::isfinite(value)) throw Error(Format("%s must be a finite number", option));
}

void RequirePositive(double value, const char* option) {
  if (!(value > 0.0) || !std::isfinite(value)) throw Error(Format("%s must be greater than 0 (got %g)", option, value));
}

void RequireNonNegative(int value, const char* option) {
  if (value < 0) throw Error(Format("%s must not be negative (got %d)", option, value));
}

}  // namespace

void AddParamOptions(CLI::App& command, ParamOverrides& o) {
  const char* group = "Parameters (stored in param.txt)";
  command.add_option("--lr-pattern", o.lrPattern, "LR frame file pattern with one %d for the frame number")->group(group);
  command.add_option("--output", o.outputBase, "output base name (result BASE.bmp, homographies BASE_hom-K.txt)")->group(group);
  command
      .add_option_function<std::string>(
          "--lr-count",
          [&o](const std::string& text) {
            o.lrCountAuto = text == "auto";
            if (!o.lrCountAuto) o.lrCount = std::stoi(text);
          },
          "number of LR frames N registered against frame 0 (N + 1 frames are read); auto: the frames found, minus one")
      ->type_name("N|auto")
      ->check(CLI::Validator(
          [](const std::string& text) {
            int v;
            return text == "auto" || ParseInts(text, ',', 1, &v) ? std::string()
                                                                 : "expected a whole number or auto, got '" + text + "'";
          },
          "N|auto"))
      ->group(group);
  command.add_option("--roi", o.roi, "region of interest in reference-frame pixels")
      ->type_name("X,Y,W,H")
      ->check(CLI::Validator(CheckRoiText, "X,Y,W,H"))
      ->group(group);
  command.add_option("--scale", o.scale, "scale factor, 3 or 4")->type_name("3|4")->group(group);
  command.add_option("--psf-sigma", o.psfSigma, "PSF sigma in LR pixels")->group(group);
  command.add_option("--alpha", o.alpha, "regulariser decay over shift distance")->group(group);
  command.add_option("--beta", o.beta, "gradient scale")->group(group);
  command.add_option("--lambda", o.lambda, "regulariser weight")->group(group);
  command.add_option("--filter-sigma", o.filterSigma, "sigma of the registration's derivative filters")->group(group);
  command.add_option("--ransac", o.ransac, "pairs per homography trial / pool of best pairs drawn from")
      ->type_name("U/N")
      ->check(CLI::Validator(CheckRansacText, "U/N"))
      ->group(group);
  command.add_option("--sad-size", o.sadSize, "half size S of the (2S+1)x(2S+1) matching block")->group(group);
  command.add_option("--search-area", o.searchArea, "largest displacement D allowed between matched points")->group(group);
}

ParamSet AdoptWithOverrides(const ParamOverrides& o) {
  ParamSet p = InitParams();
  LoadParams(kParamFileName, p);
  // The scale is a choice between x3 and x4, as in the desktop window: a stored value
  // below 4 selects x3, anything else x4.
  p.scale = p.scale < 4.0 ? 3.0 : 4.0;
  if (o.lrPattern) p.lrPattern = *o.lrPattern;
  if (o.outputBase) p.outputBase = *o.outputBase;
  if (o.lrCount) {
    RequireNonNegative(*o.lrCount, "--lr-count");
    p.lrCount = *o.lrCount;
  }
  if (o.roi) {
    int v[4];
    ParseInts(*o.roi, ',', 4, v);
    if (v[2] < 0 || v[3] < 0) throw Error("--roi width and height must not be negative (got " + *o.roi + ")");
    if (static_cast<long long>(v[0]) + v[2] > INT32_MAX || static_cast<long long>(v[1]) + v[3] > INT32_MAX) {
      throw Error("--roi " + *o.roi + " lies beyond the largest coordinate");
    }
    p.roi = RoiRect{v[0], v[1], v[0] + v[2], v[1] + v[3]};
  }
  if (o.scale) {
    if (*o.scale != 3 && *o.scale != 4) throw Error(Format("--scale must be 3 or 4 (got %d)", *o.scale));
    p.scale = *o.scale;
  }
  if (o.psfSigma) {
    RequirePositive(*o.psfSigma, "--psf-sigma");
    p.psfSigma = *o.psfSigma;
  }
  if (o.alpha) {
    RequireFinite(*o.alpha, "--alpha");
    p.alpha = *o.alpha;
  }
  if (o.beta) {
    RequireFinite(*o.beta, "--beta");
    p.beta = *o.beta;
  }
  if (o.lambda) {
    RequireFinite(*o.lambda, "--lambda");
    p.lambda = *o.lambda;
  }
  if (o.filterSigma) {
    RequirePositive(*o.filterSigma, "--filter-sigma");
    p.filterSigma = *o.filterSigma;
  }
  if (o.ransac) {
    int v[2];
    ParseInts(*o.ransac, '/', 2, v);
    if (v[0] < 1 || v[1] < 1) throw Error("--ransac values must be at least 1 (got " + *o.ransac + ")");
    p.ransacFirst = v[0];
    p.ransacSecond = v[1];
  }
  if (o.sadSize) {
    RequireNonNegative(*o.sadSize, "--sad-size");
    p.sadSize = *o.sadSize;
  }
  if (o.searchArea) {
    RequireNonNegative(*o.searchArea, "--search-area");
    p.searchArea = *o.searchArea;
  }
  if (o.lrCountAuto) {
    CheckTextParams(p);
    p.lrCount = AutoLrCount(p);
  }
  AdoptParams(p);
  return p;
}

std::string DescribeParams(const ParamSet& p) {
  std::string s;
  s += "lrPattern = " + p.lrPattern + "\n";
  s += "outputBase = " + p.outputBase + "\n";
  s += Format("lrCount = %d\n", p.lrCount);
  s += Format("roi = %d,%d,%d,%d (x,y,w,h; stored as left %d, top %d, right %d, bottom %d)\n", p.roi.left, p.roi.top,
              p.roi.Width(), p.roi.Height(), p.roi.left, p.roi.top, p.roi.right, p.roi.bottom);
  s += "scale = " + FormatG6(p.scale) + "\n";
  s += "psfSigma = " + FormatG6(p.psfSigma) + "\n";
  s += "alpha = " + FormatG6(p.alpha) + "\n";
  s += "beta = " + FormatG6(p.beta) + "\n";
  s += "lambda = " + FormatG6(p.lambda) + "\n";
  s += "filterSigma = " + FormatG6(p.filterSigma) + "\n";
  s += Format("ransacFirst = %d\n", p.ransacFirst);
  s += Format("ransacSecond = %d\n", p.ransacSecond);
  s += Format("sadSize = %d\n", p.sadSize);
  s += Format("searchArea = %d\n", p.searchArea);
  s += "referenceFile = " + p.referenceFile + "\n";
  s += "resultFile = " + p.resultFile + "\n";
  s += "homographyPattern = " + p.homographyPattern + "\n";
  return s;
}

}  // namespace lumet::cli
