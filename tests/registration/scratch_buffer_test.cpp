// The per-thread scratch buffers of the registration loops: buffers in use at the same time
// never share memory, whatever the slot and size.
#include "registration/scratch_buffer.h"

#include <gtest/gtest.h>

namespace lumet::detail {
namespace {

TEST(ScratchBuffer, BuffersInUseTogetherNeverOverlap) {
  const ScratchBuffer first(ScratchSlot::WarpRows, 1000);
  const ScratchBuffer nested(ScratchSlot::WarpRows, 500);
  const ScratchBuffer other(ScratchSlot::RowMaxima, 500);
  const ScratchBuffer large(ScratchSlot::WarpRows, size_t{1} << 20);
  // Each holds the size asked for: writing every element of one leaves the others as they are.
  for (int i = 0; i < 1000; ++i) first.Data()[i] = 1.0;
  for (int i = 0; i < 500; ++i) nested.Data()[i] = 2.0;
  for (int i = 0; i < 500; ++i) other.Data()[i] = 3.0;
  for (size_t i = 0; i < (size_t{1} << 20); ++i) large.Data()[i] = 4.0;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(first.Data()[i], 1.0) << i;
  for (int i = 0; i < 500; ++i) ASSERT_EQ(nested.Data()[i], 2.0) << i;
  for (int i = 0; i < 500; ++i) ASSERT_EQ(other.Data()[i], 3.0) << i;
}

}  // namespace
}  // namespace lumet::detail
