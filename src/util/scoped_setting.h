#pragma once

#include "util/non_copyable.h"

namespace lumet {

// Sets a process-wide setting for the life of the object and restores the one before (tests,
// benchmarks): Get reads the setting, Set changes it.
template <class T, T (*Get)(), void (*Set)(T)>
class ScopedSetting : NonCopyable {
 public:
  explicit ScopedSetting(T value) : previous_(Get()) { Set(value); }
  ~ScopedSetting() { Set(previous_); }

 private:
  T previous_;
};

}  // namespace lumet
