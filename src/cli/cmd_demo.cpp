#include "cli/cli_commands.h"

namespace lumet::cli {

void AddDemoCommand(CLI::App&, CommandSlot&) {}

}  // namespace lumet::cli
