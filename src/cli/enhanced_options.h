#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "workbench/workbench.h"

namespace lumet::cli {

// The method switch and the enhanced reconstruction's own values.
struct EnhancedOptions {
  std::optional<std::string> method;
  std::optional<int> iterations;
  std::optional<double> tolerance;
};

// --method on every command that registers or reconstructs; --iterations and --tolerance
// where the command reconstructs.
void AddMethodOptions(CLI::App& command, EnhancedOptions& options, bool reconstructs);

// Sets the workbench's method and values; refuses (lumet::Error naming the option) a
// method other than classic or enhanced, an iteration cap outside 1 .. 100000 and a
// tolerance outside [0, 1), before any work starts.
void ApplyMethodOptions(const EnhancedOptions& options, Workbench& bench);

}  // namespace lumet::cli
