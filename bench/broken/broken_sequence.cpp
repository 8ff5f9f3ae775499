// Writes a synthetic sequence in which one assumption of the reconstruction's model is
// broken, with the truth of frame 0 and the bicubic enlargement of frame 0, for measuring
// how the methods behave on footage that does not obey them:
//
//   lumet-broken-sequence KIND SCENE SEED DIR [NOISE [SCALE]]
//
// KIND: ideal (nothing broken), object (a patch moves on its own over the ROI), pan (the
// camera pans up to 30 px), psf (the true blur is sigma 1.0, param.txt says 0.6), gain
// (every frame has its own gain and offset), wobble (a smooth non-rigid displacement of
// 0.4 px on top of the homography). SCENE: chart or texture. Frames are 320 x 240, 31 of
// them, scale SCALE (3 unless given), noise sigma NOISE (2 unless given), the standard ROI;
// truth/clean-0.bmp is frame 0 without its noise, which measures what a frame deviates by
// (compare). Compression is applied afterwards to the ideal sequence
// (bench/broken/run_broken.sh), which then remakes the bicubic baseline from the compressed
// frame 0, the one a user of such footage has:
//
//   lumet-broken-sequence bicubic DIR
//
// or through the engine's own H.264 encoder at constant rate factor CRF (frames encoded
// into DIR/clip.mp4, decoded back over DIR/images, the bicubic baseline remade):
//
//   lumet-broken-sequence h264 DIR CRF
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "evaluation/bicubic_baseline.h"
#include "imageio/bmp_file.h"
#include "imageio/image_file.h"
#include "imageio/video_file.h"
#include "imageio/video_writer.h"
#include "numeric/cubic_kernel.h"
#include "numeric/pixel_map.h"
#include "params/param_file.h"
#include "params/param_set.h"
#include "synth/split_mix_random.h"
#include "synth/synthetic_scene.h"

namespace {

using namespace lumet;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 31;
constexpr int kScale = 3;  // unless SCALE says otherwise
constexpr int kOver = 4;  // raster texels per LR pixel

struct Raster {
  int width = 0;
  int height = 0;
  double originX = 0.0;  // LR position of texel (0, 0)'s corner
  double originY = 0.0;
  std::vector<float> c[4];  // red, green, blue, coverage
  float& At(int ch, int i, int j) { return c[ch][static_cast<size_t>(j) * width + i]; }
  float At(int ch, int i, int j) const { return c[ch][static_cast<size_t>(j) * width + i]; }
};

void Blur(Raster& r, double sigma, int channels) {
  const int radius = std::max(1, static_cast<int>(std::ceil(4.0 * sigma)));
  std::vector<double> w(static_cast<size_t>(2 * radius + 1));
  double total = 0.0;
  for (int k = -radius; k <= radius; ++k) total += (w[static_cast<size_t>(k + radius)] = std::exp(-0.5 * k * k / (sigma * sigma)));
  for (double& v : w) v /= total;
  std::vector<float> tmp(r.c[0].size());
  for (int ch = 0; ch < channels; ++ch) {
    for (int j = 0; j < r.height; ++j) {
      for (int i = 0; i < r.width; ++i) {
        double a = 0.0;
        for (int k = -radius; k <= radius; ++k) a += w[static_cast<size_t>(k + radius)] * r.At(ch, std::clamp(i + k, 0, r.width - 1), j);
        tmp[static_cast<size_t>(j) * r.width + i] = static_cast<float>(a);
      }
    }
    for (int j = 0; j < r.height; ++j) {
      for (int i = 0; i < r.width; ++i) {
        double a = 0.0;
        for (int k = -radius; k <= radius; ++k) {
          a += w[static_cast<size_t>(k + radius)] * tmp[static_cast<size_t>(std::clamp(j + k, 0, r.height - 1)) * r.width + i];
        }
        r.At(ch, i, j) = static_cast<float>(a);
      }
    }
  }
}

// Cubic interpolation of channel ch at LR position (x, y); zero beyond the raster.
double Sample(const Raster& r, int ch, double x, double y) {
  const double tx = (x - r.originX) * kOver - 0.5;
  const double ty = (y - r.originY) * kOver - 0.5;
  const double fx = std::floor(tx);
  const double fy = std::floor(ty);
  if (fx < 1 || fy < 1 || fx > r.width - 3 || fy > r.height - 3) return 0.0;
  double wx[4];
  double wy[4];
  CubicWeights(tx - fx, wx);
  CubicWeights(ty - fy, wy);
  double v = 0.0;
  for (int b = 0; b < 4; ++b) {
    for (int a = 0; a < 4; ++a) v += wy[b] * wx[a] * r.At(ch, static_cast<int>(fx) - 1 + a, static_cast<int>(fy) - 1 + b);
  }
  return v;
}

// The patch that moves on its own: a 12 x 12 LR pixel square of a second scene.
constexpr double kObjectSize = 12.0;
constexpr double kObjectX = 172.0;  // top-left corner in frame 0, inside the ROI
constexpr double kObjectY = 108.0;

void ObjectOffset(int k, double& dx, double& dy) {
  dx = 5.0 * std::sin(0.45 * k);
  dy = 4.0 * (1.0 - std::cos(0.45 * k));
}

Raster Render(const SyntheticScene& scene, double x0, double y0, double w, double h, double sigma, bool coverage) {
  Raster r;
  r.originX = x0;
  r.originY = y0;
  r.width = static_cast<int>(std::ceil(w * kOver));
  r.height = static_cast<int>(std::ceil(h * kOver));
  for (auto& plane : r.c) plane.assign(static_cast<size_t>(r.width) * r.height, 0.0f);
  for (int j = 0; j < r.height; ++j) {
    for (int i = 0; i < r.width; ++i) {
      double s[3] = {0, 0, 0};
      double cover = 0.0;
      for (int b = 0; b < 2; ++b) {
        for (int a = 0; a < 2; ++a) {
          const double x = x0 + (i + 0.25 + 0.5 * a) / kOver;
          const double y = y0 + (j + 0.25 + 0.5 * b) / kOver;
          const Rgb v = scene.At(x, y);
          const bool in = !coverage || (x >= 0 && x < kObjectSize && y >= 0 && y < kObjectSize);
          if (!in) continue;
          s[0] += v.r;
          s[1] += v.g;
          s[2] += v.b;
          cover += 1.0;
        }
      }
      for (int ch = 0; ch < 3; ++ch) r.At(ch, i, j) = static_cast<float>(s[ch] / 4.0);
      r.At(3, i, j) = static_cast<float>(cover / 4.0);
    }
  }
  Blur(r, sigma * kOver, coverage ? 4 : 3);
  return r;
}

PixelMap DrawMotion(SplitMixRandom& random, const std::string& kind, int k) {
  const double tx = random.NextSymmetric(3.0) + (kind == "pan" ? -30.0 * k / (kFrames - 1) : 0.0);
  const double ty = random.NextSymmetric(3.0) + (kind == "pan" ? -12.0 * k / (kFrames - 1) : 0.0);
  const double angle = random.NextSymmetric(std::numbers::pi / 180.0);
  const double zoom = 1.0 + random.NextSymmetric(0.01);
  const double cx = 0.5 * (kWidth - 1);
  const double cy = 0.5 * (kHeight - 1);
  PixelMap m;  // reference -> frame
  m.p[0][0] = zoom * std::cos(angle);
  m.p[0][1] = -zoom * std::sin(angle);
  m.p[1][0] = zoom * std::sin(angle);
  m.p[1][1] = zoom * std::cos(angle);
  m.p[0][2] = cx + tx - (m.p[0][0] * cx + m.p[0][1] * cy);
  m.p[1][2] = cy + ty - (m.p[1][0] * cx + m.p[1][1] * cy);
  return m;
}

uint8_t Quantise(double v) { return static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }

// truth/bicubic.bmp from DIR's frame 0 as it is now, at the ROI of DIR/param.txt.
int RemakeBicubic(const std::string& dir) {
  ParamSet params = InitParams();
  if (LoadParams(dir + "/param.txt", params) != 17) {
    std::fprintf(stderr, "cannot read the 17 values of %s/param.txt\n", dir.c_str());
    return 1;
  }
  ColorGrayImage frame0;
  ReadImageFile(dir + "/images/lr-0.bmp", frame0);
  const ColorGrayImage bicubic = BicubicEnlarge(frame0, params.roi, params.scale);
  BmpFile::WriteImage(dir + "/truth/bicubic.bmp", bicubic, 0, 0, bicubic.Width(), bicubic.Height());
  return 0;
}

// DIR's frames (images/lr-0.bmp on, as many as there are) through H.264 at rate factor crf
// and back, in place; then truth/bicubic.bmp again where the sequence has one.
int Compress(const std::string& dir, int crf) {
  const std::string clip = dir + "/clip.mp4";
  VideoWriter::Options options;
  options.quality = crf;
  std::unique_ptr<VideoWriter> writer;
  const VideoTiming timing;  // 25 frames a second
  const auto framePath = [&dir](int k) { return dir + "/images/lr-" + std::to_string(k) + ".bmp"; };
  for (int k = 0; k == 0 || std::filesystem::exists(framePath(k)); ++k) {
    ColorGrayImage frame;
    ReadImageFile(framePath(k), frame);
    if (!writer) writer = std::make_unique<VideoWriter>(clip, frame.Width(), frame.Height(), timing, options);
    writer->Write(frame, k);
  }
  writer->Finish();
  VideoFile video(clip);
  ColorGrayImage frame;
  for (int k = 0; video.ReadNext(&frame); ++k) {
    BmpFile::WriteImage(dir + "/images/lr-" + std::to_string(k) + ".bmp", frame, 0, 0, frame.Width(), frame.Height());
  }
  return std::filesystem::exists(dir + "/truth/bicubic.bmp") ? RemakeBicubic(dir) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "h264") {
    try {
      return Compress(argv[2], std::atoi(argv[3]));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  if (argc == 3 && std::string(argv[1]) == "bicubic") {
    try {
      return RemakeBicubic(argv[2]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  if (argc < 5 || argc > 7) {
    std::fprintf(stderr,
                 "usage: %s ideal|object|pan|psf|gain|wobble chart|texture SEED DIR [NOISE [SCALE]]\n"
                 "       %s bicubic DIR\n"
                 "       %s h264 DIR CRF\n",
                 argv[0], argv[0], argv[0]);
    return 2;
  }
  const std::string kind = argv[1];
  const std::string sceneName = argv[2];
  const uint64_t seed = std::strtoull(argv[3], nullptr, 10);
  const std::string dir = argv[4];
  const double kNoise = argc >= 6 ? std::strtod(argv[5], nullptr) : 2.0;
  const int scale = argc == 7 ? std::atoi(argv[6]) : kScale;
  if (scale < 2 || scale > 4) {
    std::fprintf(stderr, "SCALE must be 2, 3 or 4\n");
    return 2;
  }
  const auto scene = MakeScene(sceneName, seed);
  const auto objectScene = MakeScene(sceneName == "chart" ? "texture" : "chart", seed + 7);
  const double sigma = kind == "psf" ? 1.0 : 0.6;
  const double pad = 12.0;
  const Raster background = Render(*scene, -40.0 - pad, -20.0 - pad, kWidth + 40.0 + 2 * pad, kHeight + 20.0 + 2 * pad, sigma, false);
  const Raster object = Render(*objectScene, -pad / 4, -pad / 4, kObjectSize + pad / 2, kObjectSize + pad / 2, sigma, true);

  SplitMixRandom random(seed * 7919 + 17);
  std::filesystem::create_directories(dir + "/images");
  std::filesystem::create_directories(dir + "/truth");
  std::vector<ColorGrayImage> frames(kFrames);
  ColorGrayImage clean;
  clean.Create(kWidth, kHeight);
  clean.mask.Fill(0);
  for (int k = 0; k < kFrames; ++k) {
    const PixelMap toFrame = k == 0 ? PixelMap{} : DrawMotion(random, kind, k);
    PixelMap toRef;
    const double det = Adjugate(toFrame, toRef);
    (void)det;
    const double gain = kind == "gain" && k > 0 ? 1.0 + random.NextSymmetric(0.2) : 1.0;
    const double offset = kind == "gain" && k > 0 ? random.NextSymmetric(15.0) : 0.0;
    const double phase[2] = {random.NextSymmetric(std::numbers::pi), random.NextSymmetric(std::numbers::pi)};
    double odx = 0.0;
    double ody = 0.0;
    ObjectOffset(k, odx, ody);
    ColorGrayImage& f = frames[static_cast<size_t>(k)];
    f.Create(kWidth, kHeight);
    f.mask.Fill(0);
    SplitMixRandom noise(seed * 104729 + static_cast<uint64_t>(k));
    for (int v = 0; v < kHeight; ++v) {
      for (int u = 0; u < kWidth; ++u) {
        double x = 0.0;
        double y = 0.0;
        toRef.Apply(u, v, x, y);
        if (kind == "wobble" && k > 0) {
          x += 0.4 * std::sin(2.0 * std::numbers::pi * y / 37.0 + phase[0]);
          y += 0.4 * std::sin(2.0 * std::numbers::pi * x / 43.0 + phase[1]);
        }
        const double a = kind == "object" ? std::clamp(Sample(object, 3, x - kObjectX - odx, y - kObjectY - ody), 0.0, 1.0) : 0.0;
        for (int ch = 0; ch < 3; ++ch) {
          double value = Sample(background, ch, x, y);
          if (a > 0.0) value = value * (1.0 - a) + Sample(object, ch, x - kObjectX - odx, y - kObjectY - ody);
          value = gain * value + offset;
          if (k == 0) clean.channels[static_cast<size_t>(ch)].Row(v)[u] = Quantise(value);
          f.channels[static_cast<size_t>(ch)].Row(v)[u] = Quantise(value + kNoise * noise.NextNormal());
        }
      }
    }
    BmpFile::WriteImage(dir + "/images/lr-" + std::to_string(k) + ".bmp", f, 0, 0, kWidth, kHeight);
  }

  // Truth: the scene of frame 0 (the object at its place) averaged over each HR pixel.
  ParamSet params = InitParams();
  params.lrCount = kFrames - 1;
  params.scale = scale;
  params.psfSigma = 0.6;
  const double x0 = params.roi.left * scale;
  const double y0 = params.roi.top * scale;
  const int gw = (params.roi.right - params.roi.left) * scale;
  const int gh = (params.roi.bottom - params.roi.top) * scale;
  ColorGrayImage truth;
  truth.Create(gw, gh);
  truth.mask.Fill(0);
  for (int r = 0; r < gh; ++r) {
    for (int c = 0; c < gw; ++c) {
      double s[3] = {0, 0, 0};
      for (int b = 0; b < 4; ++b) {
        for (int a = 0; a < 4; ++a) {
          const double x = (c + x0) / scale + ((a + 0.5) / 4 - 0.5) / scale;
          const double y = (r + y0) / scale + ((b + 0.5) / 4 - 0.5) / scale;
          const bool in = kind == "object" && x >= kObjectX && x < kObjectX + kObjectSize && y >= kObjectY &&
                          y < kObjectY + kObjectSize;
          const Rgb v = in ? objectScene->At(x - kObjectX, y - kObjectY) : scene->At(x, y);
          s[0] += v.r;
          s[1] += v.g;
          s[2] += v.b;
        }
      }
      for (int ch = 0; ch < 3; ++ch) truth.channels[static_cast<size_t>(ch)].Row(r)[c] = Quantise(s[ch] / 16.0);
    }
  }
  BmpFile::WriteImage(dir + "/truth/hr.bmp", truth, 0, 0, gw, gh);
  BmpFile::WriteImage(dir + "/truth/clean-0.bmp", clean, 0, 0, kWidth, kHeight);
  const ColorGrayImage bicubic = BicubicEnlarge(frames[0], params.roi, scale);
  BmpFile::WriteImage(dir + "/truth/bicubic.bmp", bicubic, 0, 0, bicubic.Width(), bicubic.Height());
  SaveParams(dir + "/param.txt", params);
  return 0;
}
