#pragma once

#include <cstddef>
#include <string>

namespace lumet {

// The program itself beside its working images: code, libraries, stacks, small buffers.
inline constexpr size_t kProgramBytes = size_t{32} << 20;

// The machine's memory (physical pages times their size), 0 when the system does not say.
size_t MachineMemoryBytes();

// The memory this process may have: the machine's, or less where the system says so — the
// memory limit of its control group (memory.max under cgroup v2, memory.limit_in_bytes
// under v1, its own group's and every enclosing one's) and a batch job's allocation
// (slurmMemPerNode: the value of SLURM_MEM_PER_NODE, in MiB; null or not a number: none).
// root is the file system root the control-group files are read under ("/"; tests give a
// folder of fake files). 0 when nothing tells.
size_t ProcessMemoryBytes(const std::string& root, const char* slurmMemPerNode);

// The share of that memory a command may use when no limit is given: three quarters,
// leaving the rest to the system and the other programs.
size_t DefaultMemoryLimit();

// "700M", "1.5G", "512K", "2T" (binary units: K = 1024 bytes) or a number of bytes.
// lumet::Error naming the text when it is none of these or is 0.
size_t ParseMemorySize(const std::string& text);

// bytes in MiB below 1 GiB, else in GiB with one decimal ("640 MiB", "1.4 GiB"), rounded up
// so that a figure given back as a limit is enough.
std::string FormatMemorySize(size_t bytes);

// Throws lumet::Error when needed exceeds limit: "<what> needs about <needed>, more than the
// memory limit of <limit> (--memory-limit); <advice>".
void CheckMemoryNeed(const std::string& what, size_t needed, size_t limit, const std::string& advice);

}  // namespace lumet
