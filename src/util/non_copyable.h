#pragma once

namespace lumet {

// Base of the classes that own what their destructor releases (a descriptor, a lock, a
// decoder, a setting to put back): a copy would release it twice.
class NonCopyable {
 public:
  NonCopyable(const NonCopyable&) = delete;
  NonCopyable& operator=(const NonCopyable&) = delete;

 protected:
  NonCopyable() = default;
  ~NonCopyable() = default;
};

}  // namespace lumet
