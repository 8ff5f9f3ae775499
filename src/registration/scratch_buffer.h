#pragma once

#include <cstddef>
#include <vector>

namespace lumet::detail {

// Buffers of doubles for the registration's hot loops. One the calling thread keeps between
// calls while it is small (frames up to about 80 000 pixels), so that the hundreds of
// calls per frame neither allocate nor fault pages in; a larger one lives for the call alone,
// so that big frames hold no memory once registration has ended. Each slot is one kept
// buffer per thread; a second buffer of a slot in use on the thread gets memory of its own.
// A buffer must end on the thread that made it.
enum class ScratchSlot { DetectorPlanes, RowMaxima, WindowMaxima, WarpRows, FramePlane, kCount };

class ScratchBuffer {
 public:
  // At least size doubles, contents unspecified.
  ScratchBuffer(ScratchSlot slot, size_t size) {
    // 4 MB a slot: the detector's six planes of a 320 x 240 frame fit, and no thread holds
    // more than some 10 MB once registration has ended.
    constexpr size_t kKeptLimit = size_t{1} << 19;
    struct Kept {
      std::vector<double> buffer;
      bool inUse = false;
    };
    thread_local Kept kept[static_cast<size_t>(ScratchSlot::kCount)];
    Kept& k = kept[static_cast<size_t>(slot)];
    std::vector<double>* buffer = &own_;
    if (size <= kKeptLimit && !k.inUse) {
      k.inUse = true;
      inUse_ = &k.inUse;
      buffer = &k.buffer;
    }
    if (buffer->size() < size) buffer->resize(size);
    data_ = buffer->data();
  }
  ~ScratchBuffer() {
    if (inUse_ != nullptr) *inUse_ = false;
  }
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;
  double* Data() const { return data_; }

 private:
  std::vector<double> own_;
  double* data_ = nullptr;
  bool* inUse_ = nullptr;
};

}  // namespace lumet::detail
