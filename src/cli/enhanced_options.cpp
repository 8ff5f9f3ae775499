#include "cli/enhanced_options.h"

#include "util/error.h"
#include "util/text_format.h"

namespace lumet::cli {

void AddEnhancedOptions(CLI::App& command, EnhancedOptions& options) {
  command
      .add_option("--iterations", options.iterations,
                  "enhanced method: iteration cap per colour band, 1.." + std::to_string(kEnhancedIterationLimit) +
                      " (default " + std::to_string(kEnhancedMaxIterations) + ")")
      ->type_name("N");
  command
      .add_option("--tolerance", options.tolerance,
                  "enhanced method: a band stops when an iteration changes the estimate by less than this share of "
                  "it, 0 <= X < 1 (default " +
                      FormatG6(kEnhancedTolerance) + ")")
      ->type_name("X");
}

void ApplyMethodOptions(const EnhancedOptions& options, Workbench& bench) {
  if (options.iterations) {
    if (*options.iterations < 1 || *options.iterations > kEnhancedIterationLimit) {
      throw Error("--iterations " + std::to_string(*options.iterations) + " is outside 1 .. " +
                  std::to_string(kEnhancedIterationLimit));
    }
    bench.enhancedIterations = *options.iterations;
  }
  if (options.tolerance) {
    if (!(*options.tolerance >= 0.0 && *options.tolerance < 1.0)) {
      throw Error("--tolerance " + FormatG6(*options.tolerance) + " is outside [0, 1)");
    }
    bench.enhancedTolerance = *options.tolerance;
  }
}

}  // namespace lumet::cli
