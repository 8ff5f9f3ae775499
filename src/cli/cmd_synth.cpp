#include "cli/cli_commands.h"

namespace lumet::cli {

void AddSynthCommand(CLI::App&, CommandSlot&) {}

}  // namespace lumet::cli
