// lumet-cli: the command-line front end of the Lumet engine.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_docs.h"
#include "cli/command_line_hints.h"
#include "util/atomic_file.h"
#include "util/error.h"
#include "util/memory_tuning.h"

namespace lumet::cli {

int ParseCommandLine(int argc, const char* const* argv, std::string& folder, CommandSlot& slot, std::ostream& out,
                     std::ostream& err, FILE* hints) {
  CLI::App app{
      "Lumet multi-frame super-resolution, command line.\n"
      "Works in the current folder (or in DIR with -C DIR): the parameters live in ./param.txt, the frames\n"
      "are named by the LR pattern (./images/lr-%d.bmp), results go under the output base (./result/hr).",
      "lumet-cli"};
  app.set_version_flag("--version", "lumet-cli 1.0");
  app.add_option("-C", folder, "run in DIR instead of the current folder (give it before the command)")->type_name("DIR");
  app.require_subcommand(1);
  app.fallthrough(false);

  AddParamCommands(app, slot);
  AddPipelineCommands(app, slot);
  AddSynthCommand(app, slot);
  AddCompareCommand(app, slot);
  AddDemoCommand(app, slot);
  AddBatchCommand(app, slot);
  AddVideoCommand(app, slot);

  app.footer(
      "The commands params, show-reference, register, reconstruct and run take the parameter options: "
      "see lumet-cli params --help.");

  // The build writes the manual page and the completion script from these definitions.
  if (GenerateDocs(app, argc, argv)) return kExitOk;

  // Nothing asked: the same help as --help.
  if (argc <= 1) {
    out << app.help();
    return kExitOk;
  }
  if (RefuseCommandLine(app, std::vector<std::string>(argv + 1, argv + argc), hints)) return kExitUsage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }
  return kParsedCommand;
}

}  // namespace lumet::cli

// Left out where only the parsing is wanted (the command-line fuzz target).
#ifndef LUMET_CLI_NO_MAIN
namespace {

int Run(int argc, char** argv) {
  using namespace lumet::cli;
  std::string folder;
  CommandSlot slot;
  const int parsed = ParseCommandLine(argc, argv, folder, slot, std::cout, std::cerr);
  if (parsed != kParsedCommand) return parsed;

  try {
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
      throw lumet::Error("cannot change to folder " + folder + ": " + std::strerror(errno));
    }
    if (!slot.run) return kExitUsage;
    return slot.run();
  } catch (const lumet::Error& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "Error: %s\n", e.what());
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "Error: out of memory\n");
    return kExitFailure;
  }
}

}  // namespace

int main(int argc, char** argv) {
  lumet::IgnoreFileSizeSignal();
  lumet::KeepFreedMemoryForReuse();
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: internal failure: %s\n", e.what());
    return lumet::cli::kExitFailure;
  }
}
#endif
