#pragma once

#include <cstddef>
#include <vector>

namespace lumet::detail {

// Buffers of doubles for the registration's hot loops. One the calling thread keeps between
// calls while it is small (frames of a few hundred thousand pixels), so that the hundreds of
// calls per frame neither allocate nor fault pages in; a larger one lives for the call alone,
// so that big frames hold no memory once registration has ended. Each slot is one buffer per
// thread: two buffers in use at once take different slots.
enum class ScratchSlot { DetectorPlanes, RowMaxima, WindowMaxima, WarpRows, kCount };

class ScratchBuffer {
 public:
  // At least size doubles, contents unspecified.
  ScratchBuffer(ScratchSlot slot, size_t size) {
    constexpr size_t kKeptLimit = size_t{2} << 20;  // 16 MB a slot
    thread_local std::vector<double> kept[static_cast<size_t>(ScratchSlot::kCount)];
    std::vector<double>& buffer = size <= kKeptLimit ? kept[static_cast<size_t>(slot)] : own_;
    if (buffer.size() < size) buffer.resize(size);
    data_ = buffer.data();
  }
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;
  double* Data() const { return data_; }

 private:
  std::vector<double> own_;
  double* data_ = nullptr;
};

}  // namespace lumet::detail
