#include "cli/threads_option.h"

#include "util/parallel.h"

namespace lumet::cli {

namespace {
// Far more than any machine this runs on; a larger count is a typing error.
constexpr int kMostThreads = 1024;
}  // namespace

void AddThreadsOption(CLI::App& command) {
  command
      .add_option_function<int>(
          "--threads", [](const int& threads) { SetThreadCount(threads); },
          "threads to compute with (0 = every core, the default); the results are the same for every N")
      ->type_name("N")
      ->check(CLI::Range(0, kMostThreads));
}

}  // namespace lumet::cli
