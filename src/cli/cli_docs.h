#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace lumet::cli {

// The manual page (roff, section 1) of the command tree, from the same option definitions
// the parser uses.
std::string ManPage(const CLI::App& app);

// A bash completion script for the command tree: commands, each command's options, and
// the values of options with a fixed set of choices, files or folders.
std::string BashCompletion(const CLI::App& app);

// Handles "--generate-man FILE" and "--generate-bash-completion FILE" (used by the build):
// writes the file and returns true; false for any other command line.
bool GenerateDocs(const CLI::App& app, int argc, char** argv);

}  // namespace lumet::cli
