#include "imageio/codec_library.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>

#include "util/error.h"

namespace lumet {

namespace {

struct LoadedModule {
  const codec::ModuleTable* table = nullptr;
  std::string problem;  // why table is null
};

std::string DlError(const std::string& path) {
  const char* text = dlerror();
  std::string reason = text != nullptr ? text : "unknown reason";
  // The loader's messages usually start with the path; make sure it is there.
  if (reason.find(path) == std::string::npos) reason = path + ": " + reason;
  return reason;
}

LoadedModule Load() {
  LoadedModule loaded;
  std::string path;
  try {
    path = CodecModulePath();
  } catch (const std::filesystem::filesystem_error& e) {
    loaded.problem = std::string("the program's own location is unknown: ") + e.what();
    return loaded;
  }
  // Symbols resolved now, so a broken installation fails here rather than in mid-run; kept
  // local so that the module's libraries do not interpose on the program's.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    loaded.problem = DlError(path);
    return loaded;
  }
  const auto entry = reinterpret_cast<codec::EntryPoint>(dlsym(handle, codec::kEntryPoint));
  if (entry == nullptr) {
    loaded.problem = DlError(path);
    return loaded;
  }
  const codec::ModuleTable* table = entry(codec::kModuleVersion);
  if (table == nullptr || table->tableSize != sizeof(codec::ModuleTable)) {
    loaded.problem = path + ": built for another version of this program";
    return loaded;
  }
  loaded.table = table;
  return loaded;
}

}  // namespace

namespace {

std::mutex folderMutex;
std::string& ChosenFolder() {
  static std::string folder;
  return folder;
}

}  // namespace

void SetCodecModuleFolder(const std::string& folder) {
  const std::lock_guard<std::mutex> lock(folderMutex);
  ChosenFolder() = folder;
}

std::string CodecModulePath() {
  {
    const std::lock_guard<std::mutex> lock(folderMutex);
    if (!ChosenFolder().empty()) return (std::filesystem::path(ChosenFolder()) / codec::kModuleFileName).string();
  }
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
  return (program.parent_path().parent_path() / "lib" / "lumet" / codec::kModuleFileName).string();
}

const codec::ModuleTable& CodecModule(const std::string& context) {
  static const LoadedModule loaded = Load();
  if (loaded.table == nullptr) {
    throw Error(context + ": the image and video codec module cannot be loaded (" + loaded.problem + ")");
  }
  return *loaded.table;
}

void ThrowCodecFailure(codec::Status status, const std::string& message) {
  switch (status) {
    case codec::Status::kOutOfMemory: throw std::bad_alloc();
    case codec::Status::kFailed:
    case codec::Status::kUnreadable: throw Error(message);
    case codec::Status::kOk:
    case codec::Status::kEnd:
    case codec::Status::kInternal: break;
  }
  throw std::runtime_error(message.empty() ? std::string("the codec module failed") : message);
}

}  // namespace lumet
