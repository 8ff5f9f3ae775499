#pragma once

#include <string>

#include "imageio/bmp_file.h"
#include "imageio/codec_interface.h"

namespace lumet {

// The limits every frame decoder applies before allocating: BMP's sides and pixel count,
// and at most as many bytes of decoded samples as the largest BMP pixel array holds
// (32 bits for each of BmpFile::kMaxPixels pixels, 512 MiB).
inline codec::FrameLimits FrameFileLimits() {
  return codec::FrameLimits{BmpFile::kMaxDimension, BmpFile::kMaxPixels, 4 * BmpFile::kMaxPixels};
}

// The codec modules (the still module: PNG, JPEG, TIFF; the media module: every other still
// format, and video), each loaded into the process the first time a file needs it, once,
// from any thread, and never unloaded. A program that reads only BMP frames maps neither; one
// that reads PNG, JPEG or TIFF frames maps only the small still module.
//
// Returns the table, or throws lumet::Error "<context>: the ... codec module cannot be
// loaded (<path and reason>)"; context names the file being read or written
// ("cannot read frame.png").
const codec::ModuleTable& CodecModule(codec::ModuleKind kind, const std::string& context);

// Where a module is looked for: <folder of the running program>/../lib/lumet/, the same in
// the build tree and in an installed tree, unless a folder was set.
std::string CodecModulePath(codec::ModuleKind kind);

// Makes the modules be looked for in folder instead (a front end that is itself a loaded
// module, such as the Python module, whose program is the interpreter). Takes effect only
// before the first file needs the module.
void SetCodecModuleFolder(const std::string& folder);

// Turns a status other than kOk or kEnd into the exception it stands for: lumet::Error
// with the message, std::bad_alloc, or std::runtime_error for an unexpected failure.
[[noreturn]] void ThrowCodecFailure(codec::Status status, const std::string& message);

}  // namespace lumet
