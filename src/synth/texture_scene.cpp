#include "synth/texture_scene.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "synth/split_mix_random.h"

namespace lumet {

namespace {

constexpr int kCellLayer = 0;
constexpr int kTintLayer = 1;
constexpr int kGrainLayer = 2;
constexpr double kGrainPeriods[TextureScene::kGrainOctaves] = {8.0, 4.0, 2.0, 1.0, 0.5};
constexpr double kGrainAmplitudes[TextureScene::kGrainOctaves] = {0.40, 0.25, 0.16, 0.11, 0.08};

double Smooth(double t) { return t * t * (3.0 - 2.0 * t); }

double UnitFrom20Bits(uint64_t word, int shift) { return static_cast<double>((word >> shift) & 0xFFFFF) * 0x1.0p-20; }

}  // namespace

TextureScene::TextureScene(uint64_t seed)
    : permutation_(kTableSize), words_(static_cast<size_t>(kLayers) * kTableSize) {
  SplitMixRandom random(HashWords(seed, 0x54455854ull));  // "TEXT"
  std::iota(permutation_.begin(), permutation_.end(), uint16_t{0});
  for (int i = kTableSize - 1; i > 0; --i) {
    const auto j = static_cast<int>(random.NextBits() % static_cast<uint64_t>(i + 1));
    std::swap(permutation_[static_cast<size_t>(i)], permutation_[static_cast<size_t>(j)]);
  }
  for (uint64_t& word : words_) word = random.NextBits();
}

uint64_t TextureScene::CellWord(int layer, int64_t i, int64_t j) const {
  constexpr int64_t kMask = kTableSize - 1;
  const int64_t a = permutation_[static_cast<size_t>((i + 97 * layer) & kMask)];
  const int64_t b = permutation_[static_cast<size_t>((a + j) & kMask)];
  return words_[static_cast<size_t>(layer) * kTableSize + static_cast<size_t>(b)];
}

double TextureScene::ValueNoise(int layer, double x, double y, double period) const {
  constexpr int64_t kMask = kTableSize - 1;
  const double u = x / period;
  const double v = y / period;
  const double fu = std::floor(u);
  const double fv = std::floor(v);
  const auto i = static_cast<int64_t>(fu);
  const auto j = static_cast<int64_t>(fv);
  const double a = Smooth(u - fu);
  const double b = Smooth(v - fv);
  // CellWord for the four corners, sharing the column lookups.
  const int64_t c0 = permutation_[static_cast<size_t>((i + 97 * layer) & kMask)];
  const int64_t c1 = permutation_[static_cast<size_t>((i + 1 + 97 * layer) & kMask)];
  const uint64_t* words = words_.data() + static_cast<size_t>(layer) * kTableSize;
  const double v00 = UnitFromBits(words[permutation_[static_cast<size_t>((c0 + j) & kMask)]]);
  const double v10 = UnitFromBits(words[permutation_[static_cast<size_t>((c1 + j) & kMask)]]);
  const double v01 = UnitFromBits(words[permutation_[static_cast<size_t>((c0 + j + 1) & kMask)]]);
  const double v11 = UnitFromBits(words[permutation_[static_cast<size_t>((c1 + j + 1) & kMask)]]);
  const double top = v00 + (v10 - v00) * a;
  const double bottom = v01 + (v11 - v01) * a;
  return top + (bottom - top) * b;
}

Rgb TextureScene::At(double x, double y) const {
  // Pebbles: the cells of jittered points on an 11-pixel lattice (a Voronoi diagram).
  constexpr double kCell = 11.0;
  const auto ci = static_cast<int64_t>(std::floor(x / kCell));
  const auto cj = static_cast<int64_t>(std::floor(y / kCell));
  double nearest = 1e300;  // squared distances until the end
  double second = 1e300;
  uint64_t nearestWord = 0;
  for (int64_t dj = -1; dj <= 1; ++dj) {
    for (int64_t di = -1; di <= 1; ++di) {
      const uint64_t w = CellWord(kCellLayer, ci + di, cj + dj);
      const double px = (static_cast<double>(ci + di) + 0.1 + 0.8 * UnitFrom20Bits(w, 0)) * kCell;
      const double py = (static_cast<double>(cj + dj) + 0.1 + 0.8 * UnitFrom20Bits(w, 20)) * kCell;
      const double d = (x - px) * (x - px) + (y - py) * (y - py);
      if (d < nearest) {
        second = nearest;
        nearest = d;
        nearestWord = w;
      } else if (d < second) {
        second = d;
      }
    }
  }
  // Half the difference of the two distances is close to the distance to the border.
  const double edge = 0.5 * (std::sqrt(second) - std::sqrt(nearest));

  // Earthy colours: a brightness, a warm or cool cast, and a slow tint over large areas.
  const uint64_t look = MixBits(nearestWord);
  const double brightness = 70.0 + 120.0 * UnitFrom20Bits(look, 0);
  const double warmth = UnitFrom20Bits(look, 20);
  const double green = UnitFrom20Bits(look, 40);
  const double tint = ValueNoise(kTintLayer, x, y, 64.0);
  Rgb c{brightness * (0.85 + 0.35 * warmth), brightness * (0.75 + 0.35 * green + 0.1 * tint),
        brightness * (0.55 + 0.3 * (1.0 - warmth) + 0.25 * tint)};

  // Fractal grain from 8 pixels down to half a pixel, about 0 on average, within +-0.5.
  double grain = 0.0;
  double total = 0.0;
  for (int octave = 0; octave < kGrainOctaves; ++octave) {
    grain += kGrainAmplitudes[octave] * (ValueNoise(kGrainLayer + octave, x, y, kGrainPeriods[octave]) - 0.5);
    total += kGrainAmplitudes[octave];
  }
  grain /= total;

  // Rounded shading towards the border, a dark gap between pebbles, and the grain.
  double factor = (0.7 + 0.3 * Smooth(std::min(1.0, edge / 3.5))) * (1.0 + 0.45 * grain);
  if (edge < 0.6) factor *= 0.3;
  c.r = std::clamp(c.r * factor, 10.0, 245.0);
  c.g = std::clamp(c.g * factor, 10.0, 245.0);
  c.b = std::clamp(c.b * factor, 10.0, 245.0);
  return c;
}

}  // namespace lumet
