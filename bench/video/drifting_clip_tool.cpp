// lumet-drifting-clip DIR [FRAMES] [--moving-object] [--blur SIGMA] [--noise SIGMA]
// [--seed N] [--scene texture|chart]: a 160 x 120 clip of a drifting texture (or chart; the
// seed draws the scene and the drift) (seen through a Gaussian blur of SIGMA LR pixels on
// top of each pixel's square, with Gaussian noise of SIGMA grey levels, when given)
// with the x2 truth of every frame's ROI 20,20,120,80 (DIR/images/lr-k.bmp,
// DIR/truth/truth-k.bmp) and the bicubic enlargement of each frame (DIR/bicubic/bicubic-k.bmp).
// With --moving-object a square of another texture moves across it on its own; DIR/object.txt
// then holds, a line per frame, the square's pixels on the truth's grid (x y w h).
// lumet-drifting-clip --score DIR PATTERN: against the truth, for PATTERN's frames and the
// bicubic ones: the mean PSNR, the flicker (the RMS change of the error from one frame to the
// next, in grey levels: what a viewer sees shimmer) and, with a moving object, the PSNR
// inside the object.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "evaluation/bicubic_baseline.h"
#include "evaluation/quality.h"
#include "imageio/image_file.h"
#include "params/param_set.h"
#include "synth/drifting_clip.h"
#include "util/error.h"

namespace {

int Make(const std::string& dir, int frames, bool movingObject, double blur, double noise, uint64_t seed,
         const std::string& scene) {
  lumet::DriftingClipOptions options;
  options.frames = frames;
  options.seed = seed;
  options.scene = scene;
  options.movingObject = movingObject;
  options.blur = blur;
  options.noise = noise;
  const lumet::DriftingClip clip = lumet::MakeDriftingClip(options);
  std::ofstream boxes;
  if (movingObject) {
    // The images make their folders as they are written; the boxes come first.
    std::filesystem::create_directories(dir);
    boxes.open(dir + "/object.txt");
    if (!boxes) throw lumet::Error("cannot write " + dir + "/object.txt");
  }
  for (int k = 0; k < frames; ++k) {
    const auto i = static_cast<size_t>(k);
    const std::string n = std::to_string(k);
    lumet::WriteImageFile(dir + "/images/lr-" + n + ".bmp", clip.frames[i], lumet::ImageFormat::Bmp);
    lumet::WriteImageFile(dir + "/truth/truth-" + n + ".bmp", clip.truths[i], lumet::ImageFormat::Bmp);
    lumet::WriteImageFile(dir + "/bicubic/bicubic-" + n + ".bmp",
                          lumet::BicubicEnlarge(clip.frames[i], options.roi, options.scale), lumet::ImageFormat::Bmp);
    if (movingObject) {
      // The object's pixels on the truth's grid, clipped to it.
      const lumet::RoiRect b = lumet::MovingObjectBox(k);
      const int s = options.scale;
      const auto clip1 = [](long v, long lo, long hi) { return v < lo ? lo : v > hi ? hi : v; };
      const long w = (options.roi.right - options.roi.left) * s;
      const long h = (options.roi.bottom - options.roi.top) * s;
      const long x0 = clip1((b.left - options.roi.left) * s, 0, w);
      const long y0 = clip1((b.top - options.roi.top) * s, 0, h);
      const long x1 = clip1((b.right - options.roi.left) * s, 0, w);
      const long y1 = clip1((b.bottom - options.roi.top) * s, 0, h);
      boxes << x0 << ' ' << y0 << ' ' << x1 - x0 << ' ' << y1 - y0 << '\n';
    }
  }
  return 0;
}

struct Box {
  int x = 0, y = 0, w = 0, h = 0;
};

// The error of a result against the truth, sample by sample (all three channels).
std::vector<double> ErrorOf(const lumet::ColorGrayImage& result, const lumet::ColorGrayImage& truth) {
  if (result.Width() != truth.Width() || result.Height() != truth.Height()) {
    throw lumet::Error("a result is " + std::to_string(result.Width()) + " x " + std::to_string(result.Height()) +
                       ", its truth " + std::to_string(truth.Width()) + " x " + std::to_string(truth.Height()));
  }
  std::vector<double> e;
  e.reserve(static_cast<size_t>(3 * truth.Width() * truth.Height()));
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < truth.Height(); ++y) {
      for (int x = 0; x < truth.Width(); ++x) e.push_back(double(result.channels[c].Row(y)[x]) - truth.channels[c].Row(y)[x]);
    }
  }
  return e;
}

double PsnrOf(double sumSquares, double n) { return 10 * std::log10(255.0 * 255.0 * n / std::max(sumSquares, 1e-12)); }

// One series of results against the truth.
struct Series {
  double psnr = 0;
  double flicker = 0;
  double objectPsnr = 0;
  std::vector<double> last;

  void Add(const std::vector<double>& e, const lumet::ColorGrayImage& truth, const Box* object) {
    double ss = 0;
    for (const double v : e) ss += v * v;
    psnr += PsnrOf(ss, static_cast<double>(e.size()));
    if (!last.empty()) {
      double change = 0;
      for (size_t i = 0; i < e.size(); ++i) change += (e[i] - last[i]) * (e[i] - last[i]);
      flicker += std::sqrt(change / static_cast<double>(e.size()));
    }
    last = e;
    if (object != nullptr && object->w > 0 && object->h > 0) {
      double os = 0;
      const size_t plane = static_cast<size_t>(truth.Width()) * static_cast<size_t>(truth.Height());
      for (int c = 0; c < 3; ++c) {
        for (int y = object->y; y < object->y + object->h; ++y) {
          for (int x = object->x; x < object->x + object->w; ++x) {
            const double v = e[c * plane + static_cast<size_t>(y) * static_cast<size_t>(truth.Width()) + static_cast<size_t>(x)];
            os += v * v;
          }
        }
      }
      objectPsnr += PsnrOf(os, 3.0 * object->w * object->h);
    }
  }
};

int Score(const std::string& dir, const std::string& pattern) {
  std::vector<Box> boxes;
  {
    std::ifstream in(dir + "/object.txt");
    Box b;
    while (in >> b.x >> b.y >> b.w >> b.h) boxes.push_back(b);
  }
  Series sr, bicubic;
  int n = 0;
  for (;; ++n) {
    const std::string k = std::to_string(n);
    const std::string truthPath = dir + "/truth/truth-" + k + ".bmp";
    if (std::FILE* f = std::fopen(truthPath.c_str(), "rb")) {
      std::fclose(f);
    } else {
      break;
    }
    lumet::ColorGrayImage truth, result, baseline;
    lumet::ReadImageFile(truthPath, truth);
    lumet::ReadImageFile(lumet::FormatFrameName(pattern, n), result);
    lumet::ReadImageFile(dir + "/bicubic/bicubic-" + k + ".bmp", baseline);
    const Box* object = static_cast<size_t>(n) < boxes.size() ? &boxes[static_cast<size_t>(n)] : nullptr;
    const double a = lumet::Psnr(result, truth);
    const double b = lumet::Psnr(baseline, truth);
    std::printf("frame %d: %.2f dB, bicubic %.2f dB\n", n, a, b);
    sr.Add(ErrorOf(result, truth), truth, object);
    bicubic.Add(ErrorOf(baseline, truth), truth, object);
  }
  if (n == 0) return 1;
  std::printf("mean over %d frames: %.2f dB, bicubic %.2f dB\n", n, sr.psnr / n, bicubic.psnr / n);
  if (n > 1) {
    std::printf("flicker: %.2f grey levels, bicubic %.2f\n", sr.flicker / (n - 1), bicubic.flicker / (n - 1));
  }
  if (!boxes.empty()) {
    std::printf("inside the moving object: %.2f dB, bicubic %.2f dB\n", sr.objectPsnr / n, bicubic.objectPsnr / n);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::string(argv[1]) == "--score") return Score(argv[2], argv[3]);
    std::vector<std::string> args;
    bool moving = false;
    double blur = 0;
    double noise = 0;
    uint64_t seed = lumet::DriftingClipOptions{}.seed;
    std::string scene = lumet::DriftingClipOptions{}.scene;
    bool ok = true;
    for (int i = 1; i < argc && ok; ++i) {
      const std::string a = argv[i];
      if (a == "--moving-object") {
        moving = true;
      } else if (a == "--seed" && i + 1 < argc) {
        char* end = nullptr;
        seed = std::strtoull(argv[++i], &end, 10);
        ok = end != argv[i] && *end == '\0';
      } else if (a == "--scene" && i + 1 < argc) {
        scene = argv[++i];
        ok = scene == "texture" || scene == "chart";
      } else if ((a == "--blur" || a == "--noise") && i + 1 < argc) {
        char* end = nullptr;
        const double v = std::strtod(argv[++i], &end);
        ok = end != argv[i] && *end == '\0' && v >= 0 && v <= 5 * (a == "--blur" ? 1 : 10);
        (a == "--blur" ? blur : noise) = v;
      } else {
        // An option it does not know (--help among them) is not a folder to write into.
        ok = !a.empty() && a[0] != '-';
        args.push_back(a);
      }
    }
    if (ok && (args.size() == 1 || args.size() == 2)) {
      return Make(args[0], args.size() == 2 ? std::atoi(args[1].c_str()) : 12, moving, blur, noise, seed, scene);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: lumet-drifting-clip DIR [FRAMES] [--moving-object] [--blur SIGMA] [--noise SIGMA] [--seed N] "
               "[--scene texture|chart] | --score DIR PATTERN\n");
  return 2;
}
