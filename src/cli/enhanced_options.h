#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "workbench/workbench.h"

namespace lumet::cli {

// The enhanced reconstruction's own values, given on the command line only.
struct EnhancedOptions {
  std::optional<int> iterations;
  std::optional<double> tolerance;
};

// --iterations and --tolerance, on the commands that reconstruct.
void AddEnhancedOptions(CLI::App& command, EnhancedOptions& options);

// Sets the workbench's values; refuses (lumet::Error naming the option) an iteration cap
// outside 1 .. 100000 and a tolerance outside [0, 1), before any work starts.
void ApplyMethodOptions(const EnhancedOptions& options, Workbench& bench);

}  // namespace lumet::cli
