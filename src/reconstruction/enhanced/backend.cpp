#include "reconstruction/enhanced/backend.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "util/error.h"

namespace lumet {

namespace {

using BackendEntry = const EnhancedBackend* (*)(int version);

// Built into the program: name and instance, the default first.
struct BuiltIn {
  const char* name;
  const EnhancedBackend& (*instance)();
};
constexpr BuiltIn kBuiltIn[] = {{kDoubleBackend, CpuEnhancedBackend}, {kSingleBackend, SingleCpuEnhancedBackend}};

// A module file name may carry letters, digits, '-' and '_' only: a name is never a path.
bool IsModuleName(const std::string& name) {
  if (name.empty()) return false;
  for (const char ch : name) {
    const bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                       ch == '-' || ch == '_';
    if (!plain) return false;
  }
  return true;
}

std::mutex folderMutex;
std::string& ChosenFolder() {
  static std::string folder;
  return folder;
}

// <program folder>/../lib/lumet/liblumet-backend-NAME.so, beside the codec modules, or in
// the folder SetBackendModuleFolder chose.
std::string ModulePath(const std::string& name) {
  const std::string file = "liblumet-backend-" + name + ".so";
  {
    const std::lock_guard<std::mutex> lock(folderMutex);
    if (!ChosenFolder().empty()) return (std::filesystem::path(ChosenFolder()) / file).string();
  }
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw Error("the program's own location is unknown (" + error.message() + ")");
  return (program.parent_path().parent_path() / "lib" / "lumet" / file).string();
}

std::string KnownNames() {
  std::string names;
  for (const std::string& n : BuiltInBackendNames()) names += (names.empty() ? "" : ", ") + n;
  return names;
}

// The backend of module `name`, mapped the first time (RTLD_LOCAL: its libraries do not
// interpose on the program's) and never unmapped; lumet::Error when it cannot be.
const EnhancedBackend& LoadModule(const std::string& name) {
  static std::mutex mutex;
  static std::map<std::string, const EnhancedBackend*> loaded;
  const std::lock_guard<std::mutex> lock(mutex);
  if (const auto found = loaded.find(name); found != loaded.end()) return *found->second;
  const std::string refusal = "unknown enhanced backend \"" + name + "\" (built in: " + KnownNames() + ")";
  if (!IsModuleName(name)) throw Error(refusal);
  const std::string path = ModulePath(name);
  if (!std::filesystem::exists(path)) throw Error(refusal + "; no backend module " + path);
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  const auto entry = handle != nullptr ? reinterpret_cast<BackendEntry>(dlsym(handle, kBackendEntryPoint)) : nullptr;
  if (entry == nullptr) {
    const char* reason = dlerror();
    throw Error("the enhanced backend module " + path + " cannot be loaded (" +
                (reason != nullptr ? reason : "no entry point") + ")");
  }
  const EnhancedBackend* backend = entry(kBackendModuleVersion);
  if (backend == nullptr) throw Error("the enhanced backend module " + path + " was built for another version");
  loaded.emplace(name, backend);
  return *backend;
}

}  // namespace

void SetBackendModuleFolder(const std::string& folder) {
  const std::lock_guard<std::mutex> lock(folderMutex);
  ChosenFolder() = folder;
}

std::vector<std::string> BuiltInBackendNames() {
  std::vector<std::string> names;
  for (const BuiltIn& b : kBuiltIn) names.emplace_back(b.name);
  return names;
}

const EnhancedBackend& EnhancedBackendNamed(const std::string& name) {
  std::string chosen = name;
  if (chosen.empty()) {
    const char* variable = std::getenv(kBackendVariable);
    chosen = variable != nullptr && *variable != '\0' ? variable : kDefaultBackend;
  }
  for (const BuiltIn& b : kBuiltIn) {
    if (chosen == b.name) return b.instance();
  }
  return LoadModule(chosen);
}

std::vector<double> FrameResiduals(const EnhancedBackend& backend, const ObservationModel& model, int c,
                                   const Plane& x, ObjectiveScratch& scratch, const std::vector<double>* scale) {
  backend.Forward(model, x, scratch);
  const std::vector<double>& values = model.Values(c);
  const std::vector<double>& predicted = scratch.predicted;
  if (scale != nullptr) {
    return model.FrameMeans([&](size_t o) { return std::fabs(predicted[o] - values[o]) * (*scale)[o]; });
  }
  return model.FrameMeans([&](size_t o) { return std::fabs(predicted[o] - values[o]); });
}

}  // namespace lumet
