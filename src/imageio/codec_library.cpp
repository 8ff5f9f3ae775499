#include "imageio/codec_library.h"

#include <dlfcn.h>
#include <elf.h>

#include <filesystem>
#include <fstream>
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

// A module file cut short (an interrupted copy or installation) would be mapped all the same
// and crash the program with SIGBUS when the loader touches its missing end; every segment
// and the section table must lie within the file. Empty when it does, else the reason.
std::string IncompleteModule(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return {};  // dlopen gives the reason
  const auto size = static_cast<unsigned long long>(file.tellg());
  Elf64_Ehdr header{};
  file.seekg(0);
  if (!file.read(reinterpret_cast<char*>(&header), sizeof header) || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_phentsize != sizeof(Elf64_Phdr)) {
    return {};  // not a 64-bit ELF file: dlopen says so without mapping it
  }
  const auto cut = [&] { return path + ": the file is incomplete (" + std::to_string(size) + " bytes)"; };
  if (header.e_shoff + static_cast<unsigned long long>(header.e_shnum) * header.e_shentsize > size) return cut();
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment{};
    file.seekg(static_cast<std::streamoff>(header.e_phoff + static_cast<unsigned long long>(i) * sizeof segment));
    if (!file.read(reinterpret_cast<char*>(&segment), sizeof segment)) return cut();
    if (segment.p_type == PT_LOAD && segment.p_offset + segment.p_filesz > size) return cut();
  }
  return {};
}

LoadedModule Load(codec::ModuleKind kind) {
  LoadedModule loaded;
  std::string path;
  try {
    path = CodecModulePath(kind);
  } catch (const std::filesystem::filesystem_error& e) {
    loaded.problem = std::string("the program's own location is unknown: ") + e.what();
    return loaded;
  }
  // Symbols resolved now, so a broken installation fails here rather than in mid-run; kept
  // local so that the module's libraries do not interpose on the program's.
  loaded.problem = IncompleteModule(path);
  if (!loaded.problem.empty()) return loaded;
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

std::string CodecModulePath(codec::ModuleKind kind) {
  const char* name = kind == codec::ModuleKind::kStill ? codec::kStillModuleFileName : codec::kMediaModuleFileName;
  {
    const std::lock_guard<std::mutex> lock(folderMutex);
    if (!ChosenFolder().empty()) return (std::filesystem::path(ChosenFolder()) / name).string();
  }
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
  return (program.parent_path().parent_path() / "lib" / "lumet" / name).string();
}

const codec::ModuleTable& CodecModule(codec::ModuleKind kind, const std::string& context) {
  // Each loaded at most once, from any thread (static initialisation is thread-safe).
  if (kind == codec::ModuleKind::kStill) {
    static const LoadedModule still = Load(codec::ModuleKind::kStill);
    if (still.table == nullptr) {
      throw Error(context + ": the PNG, JPEG and TIFF codec module cannot be loaded (" + still.problem + ")");
    }
    return *still.table;
  }
  static const LoadedModule media = Load(codec::ModuleKind::kMedia);
  if (media.table == nullptr) {
    throw Error(context + ": the image and video codec module cannot be loaded (" + media.problem + ")");
  }
  return *media.table;
}

void ThrowCodecFailure(codec::Status status, const std::string& message) {
  switch (status) {
    case codec::Status::kOutOfMemory: throw std::bad_alloc();
    case codec::Status::kFailed:
    case codec::Status::kUnreadable: throw Error(message);
    case codec::Status::kOk:
    case codec::Status::kEnd:
    case codec::Status::kUnsupported:
    case codec::Status::kInternal: break;
  }
  throw std::runtime_error(message.empty() ? std::string("the codec module failed") : message);
}

}  // namespace lumet
