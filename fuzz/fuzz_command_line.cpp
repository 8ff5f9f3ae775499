// lumet-cli's command line: the input is split at NUL bytes into arguments; any argument
// list is parsed into a command or answered with help, version or a usage error, and
// nothing is run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kMaxArguments = 64;
  std::vector<std::string> args = {"lumet-cli"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < kMaxArguments; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty() && args.size() < kMaxArguments) args.push_back(current);
  // The documentation switches write files by design; they are not a parse.
  if (args.size() > 1 && args[1].rfind("--generate-", 0) == 0) return 0;
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());

  std::string folder;
  lumet::cli::CommandSlot slot;
  std::ostringstream out, err;
  const int status =
      lumet::cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), folder, slot, out, err);
  if (status != lumet::cli::kParsedCommand && status != lumet::cli::kExitOk && status != lumet::cli::kExitUsage) {
    std::abort();
  }
  return 0;
}
