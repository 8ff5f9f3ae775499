#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <iosfwd>
#include <string>

namespace lumet::cli {

// Exit statuses of lumet-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the command failed ("Error: ..." on stderr)
inline constexpr int kExitUsage = 2;    // unknown command or option, malformed argument

// Each command file registers its subcommand on the app and sets `run` to the function
// that executes it after parsing (and after the -C folder change). The function returns
// the exit status; a lumet::Error it throws is reported as "Error: <message>", exit 1.
struct CommandSlot {
  std::function<int()> run;
};

void AddParamCommands(CLI::App& app, CommandSlot& slot);     // init-params, params, show-reference
void AddPipelineCommands(CLI::App& app, CommandSlot& slot);  // register, reconstruct, run
void AddSynthCommand(CLI::App& app, CommandSlot& slot);      // synth
void AddCompareCommand(CLI::App& app, CommandSlot& slot);    // compare
void AddDemoCommand(CLI::App& app, CommandSlot& slot);       // demo
void AddBatchCommand(CLI::App& app, CommandSlot& slot);      // batch
void AddVideoCommand(CLI::App& app, CommandSlot& slot);      // video

// What ParseCommandLine returns when a command was chosen (never an exit status).
inline constexpr int kParsedCommand = -1;

// Parses the command line of lumet-cli without running anything: the chosen command is
// left in slot.run and the -C folder in folder, and kParsedCommand is returned. Help,
// version and usage errors are written to out and err (the hints on a refused command
// line to hints), and their exit status returned.
int ParseCommandLine(int argc, const char* const* argv, std::string& folder, CommandSlot& slot, std::ostream& out,
                     std::ostream& err, FILE* hints = stderr);

}  // namespace lumet::cli
