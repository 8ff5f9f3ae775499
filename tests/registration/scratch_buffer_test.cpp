// The per-thread scratch buffers of the registration loops.
#include "registration/scratch_buffer.h"

#include <gtest/gtest.h>

#include <thread>

namespace lumet::detail {
namespace {

TEST(ScratchBuffer, KeepsSmallBuffersPerSlotAndNeverHandsOneOutTwice) {
  double* kept = nullptr;
  {
    const ScratchBuffer a(ScratchSlot::WarpRows, 1000);
    kept = a.Data();
    a.Data()[999] = 1.0;  // the size asked for is there
  }
  {
    const ScratchBuffer again(ScratchSlot::WarpRows, 500);
    EXPECT_EQ(again.Data(), kept);  // the kept buffer comes back
    // While it is in use, the slot gives others memory of their own; other slots are apart.
    const ScratchBuffer nested(ScratchSlot::WarpRows, 500);
    const ScratchBuffer other(ScratchSlot::RowMaxima, 500);
    EXPECT_NE(nested.Data(), kept);
    EXPECT_NE(other.Data(), kept);
    EXPECT_NE(other.Data(), nested.Data());
  }
  {
    // Large buffers are not kept: the kept one stays as it was.
    const ScratchBuffer large(ScratchSlot::WarpRows, size_t{1} << 20);
    EXPECT_NE(large.Data(), kept);
    large.Data()[(size_t{1} << 20) - 1] = 2.0;
  }
  const ScratchBuffer last(ScratchSlot::WarpRows, 1000);
  EXPECT_EQ(last.Data(), kept);
  // Another thread has its own.
  double* elsewhere = nullptr;
  std::thread([&] { elsewhere = ScratchBuffer(ScratchSlot::WarpRows, 1000).Data(); }).join();
  EXPECT_NE(elsewhere, kept);
}

}  // namespace
}  // namespace lumet::detail
