#pragma once

#include <string>

#include "imageio/codec_module.h"

namespace lumet {

// The codec module (every still format but BMP, and video), loaded into the process the
// first time a file needs it, once, from any thread, and never unloaded. A program that
// reads only BMP frames never maps the imaging and video libraries.
//
// Returns its table, or throws lumet::Error "<context>: the image and video codec module
// cannot be loaded (<path and reason>)"; context names the file being read or written
// ("cannot read frame.png").
const codec::ModuleTable& CodecModule(const std::string& context);

// Where the module is looked for: <folder of the running program>/../lib/lumet/, the same
// in the build tree and in an installed tree, unless a folder was set.
std::string CodecModulePath();

// Makes the module be looked for in folder instead (a front end that is itself a loaded
// module, such as the Python module, whose program is the interpreter). Takes effect only
// before the first file needs the module.
void SetCodecModuleFolder(const std::string& folder);

// Turns a status other than kOk or kEnd into the exception it stands for: lumet::Error
// with the message, std::bad_alloc, or std::runtime_error for an unexpected failure.
[[noreturn]] void ThrowCodecFailure(codec::Status status, const std::string& message);

}  // namespace lumet
