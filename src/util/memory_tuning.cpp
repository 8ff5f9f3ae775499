#include "util/memory_tuning.h"

#include <malloc.h>

namespace lumet {

void KeepFreedMemoryForReuse() {
  // Blocks up to 64 MiB come from the heap, where a freed one is reused; larger ones (the
  // whole-frame job's images) still map their own memory. Freed memory at the top of the
  // heap is kept up to 256 MiB. Where the allocator does not take these settings (a
  // sanitizer's), nothing changes.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

void ReturnFreedMemory() { malloc_trim(0); }

}  // namespace lumet
