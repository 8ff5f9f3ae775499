#pragma once

#include <cstdint>
#include <vector>

#include "synth/synthetic_scene.h"

namespace lumet {

// A natural-looking pseudo-random colour texture: shaded pebbles of varied colours with
// dark gaps, a fractal grain down to half an LR pixel and a slow tint over large areas.
class TextureScene : public SyntheticScene {
 public:
  static constexpr int kGrainOctaves = 5;
  // Random lattices: pebble centres and looks, the tint, one per grain octave.
  static constexpr int kLayers = 2 + kGrainOctaves;
  // Lattice values come from tables of this size (a power of two); the patterns repeat
  // after that many lattice cells, far beyond any frame.
  static constexpr int kTableSize = 1024;

  explicit TextureScene(uint64_t seed);
  Rgb At(double x, double y) const override;

 private:
  // The random word of lattice cell (i, j) of a layer.
  uint64_t CellWord(int layer, int64_t i, int64_t j) const;
  // Smoothly blended lattice values in [0, 1) at the given period.
  double ValueNoise(int layer, double x, double y, double period) const;

  std::vector<uint16_t> permutation_;  // kTableSize entries
  std::vector<uint64_t> words_;        // kLayers x kTableSize
};

}  // namespace lumet
