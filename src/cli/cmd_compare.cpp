#include "cli/cli_commands.h"

namespace lumet::cli {

void AddCompareCommand(CLI::App&, CommandSlot&) {}

}  // namespace lumet::cli
