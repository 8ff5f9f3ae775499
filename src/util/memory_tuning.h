#pragma once

namespace lumet {

// Keeps freed memory in the process for reuse instead of handing every large block back to
// the system at once. The engine makes and drops frame-sized buffers over and over (the
// registration's filter images, the warped rows); handed back and asked for again, each
// one costs a page fault per 4 KiB on its first touch, some tenth of the registration's
// time. Both programs call it first thing in main. The peak memory stays what the work
// needs at its largest; only the release of memory between steps is deferred.
void KeepFreedMemoryForReuse();

// Hands the freed memory the process keeps back to the system, where a step that frees
// large parts of its working set (and will not need them again) lowers the peak that way.
void ReturnFreedMemory();

}  // namespace lumet
