#pragma once

#include <string>
#include <string_view>

#include "util/input_file.h"

namespace lumet {

// The one writer of every output file: the bytes go to a temporary file in the target's
// folder, which is then renamed over the target, so an interrupted write never leaves a
// truncated file. The temporary file is flushed to the disk before the rename and the
// folder after it, so the new file survives a power loss too. Missing parent folders are
// created. Throws lumet::Error naming the path when anything fails (a full disk, a
// file-size limit, ...); the target is then left as it was and no temporary file remains.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// Makes a write beyond the file-size limit (ulimit -f) fail with EFBIG, which the writer
// reports, instead of ending the process by SIGXFSZ without a word. Both programs call it
// first thing in main; the writer calls it too, so every user of the engine has it.
void IgnoreFileSizeSignal();

}  // namespace lumet
