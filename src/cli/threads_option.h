#pragma once

#include <CLI/CLI.hpp>

namespace lumet::cli {

// --threads N on a command that computes: N threads (0 = every core, the default). It sets
// the engine's thread count when the command line is parsed; it is a choice of this run,
// not a parameter, so it is never written to param.txt, and every N gives the same files.
void AddThreadsOption(CLI::App& command);

}  // namespace lumet::cli
