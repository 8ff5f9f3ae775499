// Makes a DNG burst with the truth of frame 0 from one camera raw file, for measuring the
// methods on real sensor data end to end (bench/raw/run_raw.sh):
//
//   lumet-raw-burst RAW OUT FRAMES SCALE X,Y,W,H [dng|png]
//
// RAW is developed by LibRaw as the engine develops camera raw frames (linear, 16 bits, the
// camera's white balance, sRGB primaries) and taken as the scene, exposed so that its
// brightest half percent reaches 0.95 of white. One LR pixel spans F = 2 SCALE scene pixels:
// frame k sees the scene from an offset of whole scene pixels (none for frame 0, 0 to 2 F - 1
// across and down for the others), through the centred filter of F + 1 taps whose ends have
// half weight, one LR pixel every F scene pixels: exact translations in steps of 1 / F LR
// pixel, so that the frames do not repeat each other's phases as whole HR steps would. Each
// frame is written as a camera lays a DNG out (a small preview first, the RGGB mosaic in a
// sub-directory, 12 bits: tests/support/dng_writer.h), as OUT/images/lr-K.dng. X,Y,W,H is
// the ROI in LR pixels of frame 0: OUT/truth/hr.bmp is the scene over it at SCALE, each HR
// pixel the scene through the filter of 3 taps (8-bit linear levels, what the engine's
// result of linear frames holds), OUT/truth/bicubic.bmp the bicubic enlargement of frame 0
// as the engine reads it back, and OUT/truth/shifts.txt each frame's true shift in LR pixels.
// With png the frames are written as 16-bit PNG files of all three colours instead (a sensor
// without a mosaic), OUT/images/lr-K.png: what the mosaic and its demosaicing cost.
#include <libraw/libraw.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "evaluation/bicubic_baseline.h"
#include "imageio/bmp_file.h"
#include "imageio/image_file.h"
#include "support/dng_writer.h"

namespace {

using namespace lumet;

// Linear levels, 0 black .. 1 white, three interleaved a pixel.
struct Scene {
  int width = 0;
  int height = 0;
  std::vector<double> v;
  double At(int x, int y, int c) const { return v[(static_cast<size_t>(y) * width + x) * 3 + c]; }
};

// The raw file developed as the engine's camera raw reader develops it.
Scene Develop(const std::string& path) {
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
  int code = raw->open_file(path.c_str());
  if (code == LIBRAW_SUCCESS) code = raw->unpack();
  libraw_output_params_t& params = raw->imgdata.params;
  params.output_bps = 16;
  params.gamm[0] = 1.0;
  params.gamm[1] = 1.0;
  params.no_auto_bright = 1;
  params.use_camera_wb = 1;
  params.output_color = 1;
  if (code == LIBRAW_SUCCESS) code = raw->dcraw_process();
  if (code != LIBRAW_SUCCESS) throw std::runtime_error(path + ": " + libraw_strerror(code));
  int made = LIBRAW_SUCCESS;
  std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> image(
      raw->dcraw_make_mem_image(&made), [](libraw_processed_image_t* p) { LibRaw::dcraw_clear_mem(p); });
  if (!image || made != LIBRAW_SUCCESS || image->colors != 3 || image->bits != 16) {
    throw std::runtime_error(path + ": LibRaw gave no 16-bit RGB image");
  }
  Scene scene;
  scene.width = image->width;
  scene.height = image->height;
  const size_t count = static_cast<size_t>(image->width) * image->height * 3;
  const auto* samples = reinterpret_cast<const uint16_t*>(image->data);
  scene.v.assign(samples, samples + count);
  // Exposure: the brightest half percent of the pixels' largest channel at 0.95.
  std::vector<double> peaks(count / 3);
  for (size_t i = 0; i < peaks.size(); ++i) {
    peaks[i] = std::max({scene.v[3 * i], scene.v[3 * i + 1], scene.v[3 * i + 2]});
  }
  const size_t at = peaks.size() * 995 / 1000;
  std::nth_element(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(at), peaks.end());
  const double gain = 0.95 / std::max(1.0, peaks[at]);
  for (double& s : scene.v) s = std::min(1.0, s * gain);
  return scene;
}

// Scene pixels per HR pixel.
constexpr int kSceneSteps = 2;

// The box of `span` scene pixels centred on one of them (span even): span + 1 taps whose
// ends have half weight.
std::vector<double> BoxTaps(int span) {
  std::vector<double> taps(static_cast<size_t>(span + 1), 1.0 / span);
  taps.front() = taps.back() = 0.5 / span;
  return taps;
}

// The scene through the separable taps, centred on scene pixel (x, y), channel c.
double Filtered(const Scene& scene, const std::vector<double>& taps, int x, int y, int c) {
  const int half = static_cast<int>(taps.size()) / 2;
  double s = 0.0;
  for (size_t j = 0; j < taps.size(); ++j) {
    for (size_t i = 0; i < taps.size(); ++i) {
      s += taps[i] * taps[j] * scene.At(x + static_cast<int>(i) - half, y + static_cast<int>(j) - half, c);
    }
  }
  return s;
}

uint8_t Quantise(double level) { return static_cast<uint8_t>(std::clamp(std::lround(level * 255.0), 0L, 255L)); }

int Run(int argc, char** argv) {
  const std::string kind = argc == 7 ? argv[6] : "dng";
  if ((argc != 6 && argc != 7) || (kind != "dng" && kind != "png")) {
    std::fprintf(stderr, "usage: lumet-raw-burst RAW OUT FRAMES SCALE X,Y,W,H [dng|png]\n");
    return 2;
  }
  const std::string out = argv[2];
  const int frames = std::atoi(argv[3]);
  const int scale = std::atoi(argv[4]);
  int rx = 0, ry = 0, rw = 0, rh = 0;
  if (frames < 1 || scale < 2 || scale > 4 || std::sscanf(argv[5], "%d,%d,%d,%d", &rx, &ry, &rw, &rh) != 4) {
    std::fprintf(stderr, "FRAMES at least 1, SCALE 2 to 4, ROI as X,Y,W,H\n");
    return 2;
  }
  const Scene scene = Develop(argv[1]);
  const int span = kSceneSteps * scale;
  const std::vector<double> taps = BoxTaps(span);
  const int half = span / 2;
  // Scene position of frame 0's LR pixel (0, 0): room for the filter and the offsets.
  const int base = half;
  const int reach = 2 * span - 1 + half;
  const int width = (scene.width - base - reach - 1) / span / 2 * 2;
  const int height = (scene.height - base - reach - 1) / span / 2 * 2;
  if (width < 8 || height < 8 || rx < 0 || ry < 0 || rw < 1 || rh < 1 || rx + rw > width || ry + rh > height) {
    std::fprintf(stderr, "the frames are %d x %d: the ROI must lie inside them\n", width, height);
    return 2;
  }
  std::filesystem::create_directories(out + "/images");
  std::filesystem::create_directories(out + "/truth");
  std::mt19937 random(7);
  std::uniform_int_distribution<int> offset(0, 2 * span - 1);
  FILE* shifts = std::fopen((out + "/truth/shifts.txt").c_str(), "w");
  if (shifts == nullptr) throw std::runtime_error("cannot write " + out + "/truth/shifts.txt");
  std::vector<double> level(static_cast<size_t>(width) * height * 3);
  for (int k = 0; k < frames; ++k) {
    const int ox = k == 0 ? 0 : offset(random);
    const int oy = k == 0 ? 0 : offset(random);
    std::fprintf(shifts, "%d %.6f %.6f\n", k, static_cast<double>(ox) / span, static_cast<double>(oy) / span);
    for (int v = 0; v < height; ++v) {
      for (int u = 0; u < width; ++u) {
        for (int c = 0; c < 3; ++c) {
          level[(static_cast<size_t>(v) * width + u) * 3 + c] =
              Filtered(scene, taps, base + ox + span * u, base + oy + span * v, c);
        }
      }
    }
    const std::string name = out + "/images/lr-" + std::to_string(k) + "." + kind;
    if (kind == "png") {
      std::vector<uint16_t> samples(level.size());
      for (size_t i = 0; i < level.size(); ++i) samples[i] = static_cast<uint16_t>(std::lround(level[i] * 65535.0));
      WriteSamples16Bit(name, width, height, samples, ImageFormat::Png);
      continue;
    }
    testing::DngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.scene = [&](int x, int y, int c) { return level[(static_cast<size_t>(y) * width + x) * 3 + c]; };
    if (!testing::WriteDng(name, layout)) throw std::runtime_error("cannot write " + name);
  }
  std::fclose(shifts);
  // The truth at frame 0's HR grid, whose pixel X sits at LR position X / SCALE.
  const std::vector<double> hrTaps = BoxTaps(kSceneSteps);
  ColorGrayImage truth;
  truth.Create(rw * scale, rh * scale);
  for (int y = 0; y < truth.Height(); ++y) {
    for (int x = 0; x < truth.Width(); ++x) {
      for (int c = 0; c < 3; ++c) {
        truth.channels[c].Row(y)[x] = Quantise(Filtered(scene, hrTaps, base + (rx * scale + x) * kSceneSteps,
                                                        base + (ry * scale + y) * kSceneSteps, c));
      }
    }
  }
  BmpFile::WriteImage(out + "/truth/hr.bmp", truth, 0, 0, truth.Width(), truth.Height());
  ColorGrayImage frame0;
  ReadImageFile(out + "/images/lr-0." + kind, frame0);
  RoiRect roi;
  roi.left = rx;
  roi.top = ry;
  roi.right = rx + rw;
  roi.bottom = ry + rh;
  const ColorGrayImage bicubic = BicubicEnlarge(frame0, roi, scale);
  BmpFile::WriteImage(out + "/truth/bicubic.bmp", bicubic, 0, 0, bicubic.Width(), bicubic.Height());
  std::printf("%d frames of %d x %d from a %d x %d scene\n", frames, width, height, scene.width, scene.height);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumet-raw-burst: %s\n", e.what());
    return 1;
  }
}
