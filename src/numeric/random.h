#pragma once

#include <cstdint>

namespace lumet {

// The classic 15-bit linear congruential generator (state = state * 214013 + 2531011,
// value = (state >> 16) & 0x7FFF, first state 1). Owned by whoever needs repeatable
// draws, never a global, so that runs and tests repeat exactly.
class LcgRandom {
 public:
  static constexpr int kMax = 0x7FFF;
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFFu);
  }
  void Reset(uint32_t state = 1) { state_ = state; }
  uint32_t State() const { return state_; }

 private:
  uint32_t state_ = 1;
};

}  // namespace lumet
