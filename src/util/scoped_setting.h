#pragma once

namespace lumet {

// Sets a process-wide setting for the life of the object and restores the one before (tests,
// benchmarks): Get reads the setting, Set changes it.
template <class T, T (*Get)(), void (*Set)(T)>
class ScopedSetting {
 public:
  explicit ScopedSetting(T value) : previous_(Get()) { Set(value); }
  ~ScopedSetting() { Set(previous_); }
  ScopedSetting(const ScopedSetting&) = delete;
  ScopedSetting& operator=(const ScopedSetting&) = delete;

 private:
  T previous_;
};

}  // namespace lumet
