#include "cli/enhanced_options.h"

#include <cmath>

#include "util/error.h"
#include "util/text_format.h"

namespace lumet::cli {

void AddMethodOptions(CLI::App& command, EnhancedOptions& options, bool reconstructs) {
  command.add_option("--method", options.method, "classic (default) or enhanced")->type_name("NAME");
  if (!reconstructs) return;
  command
      .add_option("--iterations", options.iterations,
                  "enhanced method: iteration cap per colour band (default " +
                      std::to_string(kEnhancedMaxIterations) + ")")
      ->type_name("N");
  command
      .add_option("--tolerance", options.tolerance,
                  "enhanced method: stop a band when an iteration changes the estimate by less than this share "
                  "(default " + FormatG6(kEnhancedTolerance) + ")")
      ->type_name("X");
}

void ApplyMethodOptions(const EnhancedOptions& options, Workbench& bench) {
  if (options.method) {
    if (*options.method == "classic") {
      bench.method = Method::Classic;
    } else if (*options.method == "enhanced") {
      bench.method = Method::Enhanced;
    } else {
      throw Error("--method " + *options.method + " is neither classic nor enhanced");
    }
  }
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
