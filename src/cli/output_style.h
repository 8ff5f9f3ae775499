#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "reconstruction/reconstruction_method.h"

namespace lumet::cli {

// What a command prints on stdout: its log and a closing line (the default), nothing but
// errors and warnings (--quiet), that and the parameters it ran with first (--verbose), or
// one JSON object of its results instead of the log (--json).
enum class OutputStyle { Normal, Quiet, Verbose, Json };

// -q/--quiet, -v/--verbose and --json on a command, excluding one another.
void AddOutputStyleOptions(CLI::App& command, OutputStyle& style);

// A run's results as one JSON line: the command, the files written and, when it
// reconstructed, its outcome (method, frames given and used, the classic threshold, the
// iterations, the PSF sigma chosen, a fallback taken, the warnings with their frames).
std::string ResultsJson(const std::string& command, const std::vector<std::string>& written,
                        const ReconstructionOutcome* outcome);

// compare's results as one JSON line; an infinite PSNR (identical images) is null.
std::string CompareJson(double psnr, double ssim);

}  // namespace lumet::cli
