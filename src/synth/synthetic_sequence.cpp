#include "synth/synthetic_sequence.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>

#include "imageio/bmp_file.h"
#include "numeric/pixel_map.h"
#include "numeric/projection.h"
#include "reconstruction/hr_geometry.h"
#include "imageio/homography_file.h"
#include "numeric/cubic_kernel.h"
#include "synth/split_mix_random.h"
#include "synth/synthetic_scene.h"
#include "util/error.h"
#include "util/folder_lock.h"
#include "util/text_format.h"
#include "util/parallel.h"

namespace lumet {

namespace {

// Scene raster texels per LR pixel. The camera blur is applied to this raster, which is
// then interpolated at the warped pixel positions; the blurred scene has almost nothing
// left near the raster's Nyquist frequency, so cubic interpolation is accurate there.
constexpr int kOversampling = 4;
// Samples per HR pixel side for the truth image (box average over the HR pixel): a first
// pass of 4 x 4, then 8 x 8 where the first samples spread widely.
constexpr int kTruthSamples = 4;
constexpr int kTruthRefinedSamples = 8;
// Texels (and truth pixels) whose first samples spread by more grey levels than this
// (an edge, fine detail) are sampled again on a finer grid; smooth content is not.
constexpr double kRefineSpread = 10.0;

// Distinct streams of the generator.
constexpr uint64_t kMotionStream = 0x4D4F54494F4Eull;  // "MOTION"
constexpr uint64_t kNoiseStream = 0x4E4F495345ull;     // "NOISE"

// A multiple of the inverse, which a projective map does not mind.
PixelMap Invert(const PixelMap& a) {
  PixelMap m;
  Adjugate(a, m);
  return m;
}

// The value a homography file gives back for v.
double RoundLikeFile(double v) {
  const std::string text = FormatG6(v);
  double parsed = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), parsed);
  return parsed;
}

// A small random camera motion about the frame centre: translation within +-motion,
// rotation within +-1 degree, scale within +-1 %, and a slight perspective (the
// denominator changes by at most 0.2 % at the frame border). Entries are rounded as
// the homography file stores them, so that the file describes the frame exactly.
Matrix DrawHomography(SplitMixRandom& random, const SynthOptions& options) {
  const double tx = random.NextSymmetric(options.motion);
  const double ty = random.NextSymmetric(options.motion);
  const double angle = random.NextSymmetric(std::numbers::pi / 180.0);
  const double zoom = 1.0 + random.NextSymmetric(0.01);
  const double limit = 0.004 / std::max(options.width, options.height);
  const double q1 = random.NextSymmetric(limit);
  const double q2 = random.NextSymmetric(limit);
  const double cx = 0.5 * (options.width - 1);
  const double cy = 0.5 * (options.height - 1);

  PixelMap toCentre;
  toCentre.p[0][2] = -cx;
  toCentre.p[1][2] = -cy;
  PixelMap warp;
  warp.p[0][0] = zoom * std::cos(angle);
  warp.p[0][1] = -zoom * std::sin(angle);
  warp.p[1][0] = zoom * std::sin(angle);
  warp.p[1][1] = zoom * std::cos(angle);
  warp.p[2][0] = q1;
  warp.p[2][1] = q2;
  PixelMap back;
  back.p[0][2] = cx + tx;
  back.p[1][2] = cy + ty;

  Matrix h = HomographyOf(Compose(back, Compose(warp, toCentre)));
  for (int k = 1; k <= 8; ++k) h.Flat1(k) = RoundLikeFile(h.Flat1(k));
  h.At1(3, 3) = 1.0;
  return h;
}

// The scene sampled on a fine grid: texel (i, j) covers
// [originX + i / F, originX + (i + 1) / F) x [originY + j / F, ...) in LR coordinates.
struct SceneRaster {
  int width = 0, height = 0;
  double originX = 0.0, originY = 0.0;
  std::vector<float> planes[3];

  float* Row(int channel, int j) {
    return planes[channel].data() + static_cast<size_t>(j) * static_cast<size_t>(width);
  }
  const float* Row(int channel, int j) const {
    return planes[channel].data() + static_cast<size_t>(j) * static_cast<size_t>(width);
  }
};

// The mean of the scene over an n x n grid of points in the square of side `size` centred
// at (x, y); spread receives the largest difference between samples of one channel.
Rgb BoxMean(const SyntheticScene& scene, double x, double y, double size, int n, double& spread) {
  double sum[3] = {0.0, 0.0, 0.0};
  double lo[3] = {1e300, 1e300, 1e300};
  double hi[3] = {-1e300, -1e300, -1e300};
  for (int b = 0; b < n; ++b) {
    const double dy = ((b + 0.5) / n - 0.5) * size;
    for (int a = 0; a < n; ++a) {
      const double dx = ((a + 0.5) / n - 0.5) * size;
      const Rgb v = scene.At(x + dx, y + dy);
      const double c[3] = {v.r, v.g, v.b};
      for (int ch = 0; ch < 3; ++ch) {
        sum[ch] += c[ch];
        lo[ch] = std::min(lo[ch], c[ch]);
        hi[ch] = std::max(hi[ch], c[ch]);
      }
    }
  }
  spread = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  const double count = static_cast<double>(n) * n;
  return {sum[0] / count, sum[1] / count, sum[2] / count};
}

// Each texel is the mean of 2 x 2 scene samples, or of 4 x 4 where those differ
// (edges, fine detail), so hard edges are anti-aliased at a fraction of the cost.
void RenderRaster(const SyntheticScene& scene, SceneRaster& raster) {
  const double f = kOversampling;
  ParallelFor(0, raster.height, 200L * raster.width, [&](int lo, int hi) {
    for (int j = lo; j < hi; ++j) {
      float* rows[3] = {raster.Row(0, j), raster.Row(1, j), raster.Row(2, j)};
      const double y = raster.originY + (j + 0.5) / f;
      for (int i = 0; i < raster.width; ++i) {
        const double x = raster.originX + (i + 0.5) / f;
        double spread = 0.0;
        Rgb mean = BoxMean(scene, x, y, 1.0 / f, 2, spread);
        if (spread > kRefineSpread) mean = BoxMean(scene, x, y, 1.0 / f, 4, spread);
        rows[0][i] = static_cast<float>(mean.r);
        rows[1][i] = static_cast<float>(mean.g);
        rows[2][i] = static_cast<float>(mean.b);
      }
    }
  });
}

// Separable Gaussian blur of sigma texels, the raster's edge texels repeated outward.
void BlurRaster(SceneRaster& raster, double sigma) {
  const int radius = std::max(1, static_cast<int>(std::ceil(4.0 * sigma)));
  std::vector<double> weights(static_cast<size_t>(2 * radius + 1));
  double total = 0.0;
  for (int k = -radius; k <= radius; ++k) {
    const double w = std::exp(-0.5 * k * k / (sigma * sigma));
    weights[static_cast<size_t>(k + radius)] = w;
    total += w;
  }
  for (double& w : weights) w /= total;

  const int width = raster.width;
  const int height = raster.height;
  std::vector<float> temporary(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int c = 0; c < 3; ++c) {
    ParallelFor(0, height, 20L * width * radius, [&](int lo, int hi) {
      for (int j = lo; j < hi; ++j) {
        const float* in = raster.Row(c, j);
        float* out = temporary.data() + static_cast<size_t>(j) * static_cast<size_t>(width);
        for (int i = 0; i < width; ++i) {
          double acc = 0.0;
          for (int k = -radius; k <= radius; ++k) {
            const int x = std::clamp(i + k, 0, width - 1);
            acc += weights[static_cast<size_t>(k + radius)] * in[x];
          }
          out[i] = static_cast<float>(acc);
        }
      }
    });
    ParallelFor(0, height, 20L * width * radius, [&](int lo, int hi) {
      for (int j = lo; j < hi; ++j) {
        std::vector<double> acc(static_cast<size_t>(width), 0.0);
        for (int k = -radius; k <= radius; ++k) {
          const int y = std::clamp(j + k, 0, height - 1);
          const float* in = temporary.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
          const double w = weights[static_cast<size_t>(k + radius)];
          for (int i = 0; i < width; ++i) acc[static_cast<size_t>(i)] += w * in[i];
        }
        float* out = raster.Row(c, j);
        for (int i = 0; i < width; ++i) out[i] = static_cast<float>(acc[static_cast<size_t>(i)]);
      }
    });
  }
}

struct Bounds {
  double minX = 1e300;
  double minY = 1e300;
  double maxX = -1e300;
  double maxY = -1e300;
  void Add(double x, double y) {
    minX = std::min(minX, x);
    minY = std::min(minY, y);
    maxX = std::max(maxX, x);
    maxY = std::max(maxY, y);
  }
};

uint8_t Quantise(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<uint8_t>(std::floor(v + 0.5));
}

// Frame k: every pixel (c, r) shows the blurred scene at the reference position that
// H_k maps onto it, plus noise, quantised.
void RenderFrame(const SceneRaster& blurred, const PixelMap& frameToReference, const SynthOptions& options, int k,
                 ColorGrayImage& frame) {
  frame.Create(options.width, options.height);
  frame.mask.Fill(0);
  const double f = kOversampling;
  ParallelFor(0, options.height, 100L * options.width, [&](int lo, int hi) {
    for (int r = lo; r < hi; ++r) {
      SplitMixRandom random(HashWords(options.seed, kNoiseStream, static_cast<uint64_t>(k), static_cast<uint64_t>(r)));
      uint8_t* out[3] = {frame.channels[0].Row(r), frame.channels[1].Row(r), frame.channels[2].Row(r)};
      for (int c = 0; c < options.width; ++c) {
        double x = 0.0;
        double y = 0.0;
        frameToReference.Apply(c, r, x, y);
        const CubicTaps tx = MakeCubicTaps((x - blurred.originX) * f - 0.5, blurred.width);
        const CubicTaps ty = MakeCubicTaps((y - blurred.originY) * f - 0.5, blurred.height);
        const auto& wx = tx.weight;
        const auto& xs = tx.index;
        for (int ch = 0; ch < 3; ++ch) {
          double value = 0.0;
          for (int b = 0; b < 4; ++b) {
            const float* row = blurred.Row(ch, ty.index[b]);
            value += ty.weight[b] * (wx[0] * row[xs[0]] + wx[1] * row[xs[1]] + wx[2] * row[xs[2]] + wx[3] * row[xs[3]]);
          }
          if (options.noise > 0.0) value += options.noise * random.NextNormal();
          out[ch][c] = Quantise(value);
        }
      }
    }
  });
}

void RenderTruth(const SyntheticScene& scene, const SynthOptions& options, ColorGrayImage& truth) {
  const HrGeometry grid = MakeHrGeometry(SynthRoi(), static_cast<double>(options.scale));
  const double s = grid.scale;
  truth.Create(grid.width, grid.height);
  truth.mask.Fill(0);
  ParallelFor(0, grid.height, 1000L * grid.width, [&](int lo, int hi) {
    for (int r = lo; r < hi; ++r) {
      const double y = (r + grid.y0) / s;
      for (int c = 0; c < grid.width; ++c) {
        const double x = (c + grid.x0) / s;
        double spread = 0.0;
        Rgb mean = BoxMean(scene, x, y, 1.0 / s, kTruthSamples, spread);
        if (spread > kRefineSpread) mean = BoxMean(scene, x, y, 1.0 / s, kTruthRefinedSamples, spread);
        truth.channels[0].Row(r)[c] = Quantise(mean.r);
        truth.channels[1].Row(r)[c] = Quantise(mean.g);
        truth.channels[2].Row(r)[c] = Quantise(mean.b);
      }
    }
  });
}

}  // namespace

std::vector<Matrix> SyntheticHomographies(const SynthOptions& options) {
  options.Check();
  std::vector<Matrix> homographies;
  homographies.reserve(static_cast<size_t>(options.lrCount) + 1);
  homographies.push_back(IdentityHomography());
  SplitMixRandom motion(HashWords(options.seed, kMotionStream));
  for (int k = 1; k <= options.lrCount; ++k) homographies.push_back(DrawHomography(motion, options));
  return homographies;
}

SyntheticSequence MakeSyntheticSequence(const SynthOptions& options) {
  options.Check();
  const std::unique_ptr<SyntheticScene> scene = MakeScene(options.scene, options.seed);
  const int n = options.lrCount;

  SyntheticSequence sequence;
  sequence.homographies = SyntheticHomographies(options);

  // The raster covers every position a frame pixel looks at, plus the blur's reach and
  // the interpolation's support.
  std::vector<PixelMap> frameToReference;
  Bounds bounds;
  for (const Matrix& h : sequence.homographies) {
    frameToReference.push_back(Invert(PixelMapOf(h)));
    const double xs[2] = {-0.5, options.width - 0.5};
    const double ys[2] = {-0.5, options.height - 0.5};
    for (double y : ys) {
      for (double x : xs) {
        double u = 0.0;
        double v = 0.0;
        frameToReference.back().Apply(x, y, u, v);
        bounds.Add(u, v);
      }
    }
  }
  const double blurSigma = options.psfSigma * kOversampling;
  const double pad = std::ceil(4.0 * blurSigma) / kOversampling + 3.0;
  SceneRaster raster;
  raster.originX = std::floor(bounds.minX - pad) - 0.5;
  raster.originY = std::floor(bounds.minY - pad) - 0.5;
  raster.width = static_cast<int>(std::ceil((bounds.maxX + pad - raster.originX) * kOversampling));
  raster.height = static_cast<int>(std::ceil((bounds.maxY + pad - raster.originY) * kOversampling));
  for (auto& plane : raster.planes)
    plane.assign(static_cast<size_t>(raster.width) * static_cast<size_t>(raster.height), 0.0f);

  RenderRaster(*scene, raster);
  BlurRaster(raster, blurSigma);

  sequence.frames.resize(static_cast<size_t>(n) + 1);
  for (int k = 0; k <= n; ++k) {
    RenderFrame(raster, frameToReference[static_cast<size_t>(k)], options, k, sequence.frames[static_cast<size_t>(k)]);
  }
  RenderTruth(*scene, options, sequence.truth);

  sequence.params = InitParams();
  sequence.params.lrCount = n;
  sequence.params.scale = options.scale;
  sequence.params.psfSigma = options.psfSigma;
  return sequence;
}

std::string SynthFramePath(const std::string& dir, int k) { return dir + "/images/lr-" + std::to_string(k) + ".bmp"; }
std::string SynthTruthImagePath(const std::string& dir) { return dir + "/truth/hr.bmp"; }
std::string SynthTruthHomographyPath(const std::string& dir, int k) {
  return dir + "/truth/hom-" + std::to_string(k) + ".txt";
}
std::string SynthParamPath(const std::string& dir) { return dir + "/param.txt"; }

void WriteSyntheticSequence(const std::string& dir, const SynthOptions& options) {
  options.Check();
  // Refused before the (longer) rendering starts.
  std::error_code error;
  if (std::filesystem::exists(dir, error) && !std::filesystem::is_directory(dir, error)) {
    throw Error(dir + " exists and is not a folder");
  }
  // One writer per folder: a run working there meanwhile would mix its files with these.
  std::filesystem::create_directories(dir, error);
  const ScopedFolderLock writer(dir);
  const SyntheticSequence sequence = MakeSyntheticSequence(options);
  for (size_t k = 0; k < sequence.frames.size(); ++k) {
    const ColorGrayImage& frame = sequence.frames[k];
    BmpFile::WriteImage(SynthFramePath(dir, static_cast<int>(k)), frame, 0, 0, frame.Width(), frame.Height());
  }
  BmpFile::WriteImage(SynthTruthImagePath(dir), sequence.truth, 0, 0, sequence.truth.Width(), sequence.truth.Height());
  for (size_t k = 1; k < sequence.homographies.size(); ++k) {
    WriteHomographyFile(SynthTruthHomographyPath(dir, static_cast<int>(k)), sequence.homographies[k]);
  }
  SaveParams(SynthParamPath(dir), sequence.params);
}

}  // namespace lumet
