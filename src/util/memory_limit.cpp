#include "util/memory_limit.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "util/error.h"
#include "util/text_format.h"

namespace lumet {

size_t MachineMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<size_t>(pages) * static_cast<size_t>(pageSize);
}

size_t DefaultMemoryLimit() {
  const size_t machine = MachineMemoryBytes();
  // A system that does not tell: no bound beyond the allocator's own.
  return machine == 0 ? static_cast<size_t>(-1) : machine / 4 * 3;
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
