// lumet-drifting-clip DIR [FRAMES]: a 160 x 120 clip of a drifting texture with the x2 truth
// of every frame's ROI 20,20,120,80 (DIR/images/lr-k.bmp, DIR/truth/truth-k.bmp) and the
// bicubic enlargement of each frame (DIR/bicubic/bicubic-k.bmp).
// lumet-drifting-clip --score DIR PATTERN: the mean PSNR of PATTERN's frames and of the
// bicubic ones against the truth.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "evaluation/bicubic_baseline.h"
#include "evaluation/quality.h"
#include "imageio/image_file.h"
#include "params/param_set.h"
#include "synth/drifting_clip.h"
#include "util/error.h"

namespace {

int Make(const std::string& dir, int frames) {
  lumet::DriftingClipOptions options;
  options.frames = frames;
  const lumet::DriftingClip clip = lumet::MakeDriftingClip(options);
  for (int k = 0; k < frames; ++k) {
    const auto i = static_cast<size_t>(k);
    const std::string n = std::to_string(k);
    lumet::WriteImageFile(dir + "/images/lr-" + n + ".bmp", clip.frames[i], lumet::ImageFormat::Bmp);
    lumet::WriteImageFile(dir + "/truth/truth-" + n + ".bmp", clip.truths[i], lumet::ImageFormat::Bmp);
    lumet::WriteImageFile(dir + "/bicubic/bicubic-" + n + ".bmp",
                          lumet::BicubicEnlarge(clip.frames[i], options.roi, options.scale), lumet::ImageFormat::Bmp);
  }
  return 0;
}

int Score(const std::string& dir, const std::string& pattern) {
  double sr = 0;
  double bicubic = 0;
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
    const double a = lumet::Psnr(result, truth);
    const double b = lumet::Psnr(baseline, truth);
    std::printf("frame %d: %.2f dB, bicubic %.2f dB\n", n, a, b);
    sr += a;
    bicubic += b;
  }
  if (n == 0) return 1;
  std::printf("mean over %d frames: %.2f dB, bicubic %.2f dB\n", n, sr / n, bicubic / n);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::string(argv[1]) == "--score") return Score(argv[2], argv[3]);
    if (argc == 2 || argc == 3) return Make(argv[1], argc == 3 ? std::atoi(argv[2]) : 12);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: lumet-drifting-clip DIR [FRAMES] | --score DIR PATTERN\n");
  return 2;
}
