#pragma once

#include <cmath>
#include <cstdint>

namespace lumet {

// SplitMix64 finaliser: a bijective 64-bit mix, used to hash lattice cells and to derive
// independent streams from (seed, frame, row).
constexpr uint64_t MixBits(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Hash of a list of words, order-sensitive.
constexpr uint64_t HashWords(uint64_t a, uint64_t b) { return MixBits(a + 0x9E3779B97F4A7C15ull * (b + 1)); }
constexpr uint64_t HashWords(uint64_t a, uint64_t b, uint64_t c) { return HashWords(HashWords(a, b), c); }
constexpr uint64_t HashWords(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
  return HashWords(HashWords(a, b, c), d);
}

// The top 53 bits of a word as a double in [0, 1).
constexpr double UnitFromBits(uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1.0p-53; }

// The synthetic data's own generator: SplitMix64 with Box-Muller normals. Written out here
// rather than taken from <random>, whose distributions may change between library
// versions, so that the same seed gives the same files everywhere.
class SplitMixRandom {
 public:
  explicit SplitMixRandom(uint64_t seed) : state_(seed) {}

  uint64_t NextBits() {
    state_ += 0x9E3779B97F4A7C15ull;
    return MixBits(state_);
  }
  // Uniform in [0, 1).
  double NextUnit() { return UnitFromBits(NextBits()); }
  // Uniform in [-limit, limit).
  double NextSymmetric(double limit) { return (2.0 * NextUnit() - 1.0) * limit; }
  // Standard normal; Box-Muller, both values of a pair used in turn.
  double NextNormal() {
    if (hasSpare_) {
      hasSpare_ = false;
      return spare_;
    }
    const double u1 = 1.0 - NextUnit();  // (0, 1]: the logarithm stays finite
    const double u2 = NextUnit();
    const double radius = std::sqrt(-2.0 * std::log(u1));
    const double angle = 6.283185307179586 * u2;
    spare_ = radius * std::sin(angle);
    hasSpare_ = true;
    return radius * std::cos(angle);
  }

 private:
  uint64_t state_;
  double spare_ = 0.0;
  bool hasSpare_ = false;
};

}  // namespace lumet
