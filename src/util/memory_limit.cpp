#include "util/memory_limit.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

size_t MachineMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<size_t>(pages) * static_cast<size_t>(pageSize);
}

namespace {

// The first line of a file, empty when it cannot be read.
std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// A whole decimal number of bytes ("max" and anything else: none).
bool ParseBytes(const std::string& text, size_t& bytes) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value == 0) return false;
  bytes = static_cast<size_t>(value);
  return true;
}

// The lowest limit in file `name` of the group at `group` (a path in the hierarchy mounted at
// `mount`) and of every group that encloses it, up to the mount's own; `limit` lowered to it.
void LowerToGroupLimit(const std::string& mount, std::string group, const std::string& name, size_t& limit) {
  while (true) {
    size_t bytes = 0;
    if (ParseBytes(FirstLine(mount + group + "/" + name), bytes)) limit = std::min(limit, bytes);
    if (group.empty() || group == "/") break;
    const size_t slash = group.find_last_of('/');
    group = slash == std::string::npos ? std::string() : group.substr(0, slash);
  }
}

}  // namespace

size_t ProcessMemoryBytes(const std::string& root, const char* slurmMemPerNode) {
  size_t limit = MachineMemoryBytes();
  if (limit == 0) limit = static_cast<size_t>(-1);
  const std::string base = root.empty() || root.back() != '/' ? root : root.substr(0, root.size() - 1);
  // Lines "id:controllers:path"; v2 has id 0 and no controllers, v1 names "memory" among them.
  std::ifstream groups(base + "/proc/self/cgroup");
  std::string line;
  while (std::getline(groups, line)) {
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? std::string::npos : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    std::string path = line.substr(second + 1);
    if (!path.empty() && path.back() == '/') path.pop_back();
    if (controllers.empty() && line.compare(0, first, "0") == 0) {
      LowerToGroupLimit(base + "/sys/fs/cgroup", path, "memory.max", limit);
    } else {
      std::stringstream list(controllers);
      std::string controller;
      while (std::getline(list, controller, ',')) {
        if (controller == "memory") LowerToGroupLimit(base + "/sys/fs/cgroup/memory", path, "memory.limit_in_bytes", limit);
      }
    }
  }
  size_t mib = 0;
  if (slurmMemPerNode != nullptr && ParseBytes(slurmMemPerNode, mib) && mib <= (static_cast<size_t>(-1) >> 20)) {
    limit = std::min(limit, mib << 20);
  }
  return limit == static_cast<size_t>(-1) ? 0 : limit;
}

size_t DefaultMemoryLimit() {
  const size_t memory = ProcessMemoryBytes("/", std::getenv("SLURM_MEM_PER_NODE"));
  // A system that does not tell: no bound beyond the allocator's own.
  return memory == 0 ? static_cast<size_t>(-1) : memory / 4 * 3;
}

size_t ParseMemorySize(const std::string& text) {
  const std::string refusal = "memory size \"" + text + "\" is not a size such as 700M, 1.5G or 2000000000 (bytes)";
  if (text.empty()) throw Error(refusal);
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  const std::string unit(end);
  double factor = 1.0;
  if (unit == "K" || unit == "k") {
    factor = 1024.0;
  } else if (unit == "M" || unit == "m") {
    factor = 1024.0 * 1024.0;
  } else if (unit == "G" || unit == "g") {
    factor = 1024.0 * 1024.0 * 1024.0;
  } else if (unit == "T" || unit == "t") {
    factor = 1024.0 * 1024.0 * 1024.0 * 1024.0;
  } else if (!unit.empty()) {
    throw Error(refusal);
  }
  const double bytes = number * factor;
  if (end == text.c_str() || !(bytes >= 1.0) || bytes > 1.0e18) throw Error(refusal);
  return static_cast<size_t>(bytes);
}

std::string FormatMemorySize(size_t bytes) {
  constexpr double kMiB = 1024.0 * 1024.0;
  const double mib = static_cast<double>(bytes) / kMiB;
  if (mib < 1024.0) return Format("%.0f MiB", std::ceil(mib));
  return Format("%.1f GiB", std::ceil(mib / 1024.0 * 10.0) / 10.0);
}

void CheckMemoryNeed(const std::string& what, size_t needed, size_t limit, const std::string& advice) {
  if (needed <= limit) return;
  throw Error(what + " needs about " + FormatMemorySize(needed) + ", more than the memory limit of " +
              FormatMemorySize(limit) + " (--memory-limit); " + advice);
}

}  // namespace lumet
