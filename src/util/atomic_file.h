#pragma once

#include <string>
#include <string_view>

namespace lumet {

// The one writer of every output file: the bytes go to a temporary file in the target's
// folder, which is then renamed over the target, so an interrupted write never leaves a
// truncated file. Missing parent folders are created. Throws lumet::Error naming the path
// when anything fails; the target is then left as it was.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// Reads a whole file. Throws lumet::Error naming the path when it cannot be read.
std::string ReadWholeFile(const std::string& path);

}  // namespace lumet
