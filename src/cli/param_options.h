#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "params/param_set.h"

namespace lumet::cli {

// The parameter options every command that adopts parameters accepts.
struct ParamOverrides {
  std::optional<std::string> lrPattern;
  std::optional<std::string> outputBase;
  std::optional<int> lrCount;
  bool lrCountAuto = false;  // --lr-count auto: the frames found from the start index, minus one
  std::optional<std::string> roi;  // X,Y,W,H
  std::optional<int> scale;
  std::optional<double> psfSigma;
  std::optional<double> alpha;
  std::optional<double> beta;
  std::optional<double> lambda;
  std::optional<double> filterSigma;
  std::optional<std::string> ransac;  // U/N
  std::optional<int> sadSize;
  std::optional<int> searchArea;
};

void AddParamOptions(CLI::App& command, ParamOverrides& overrides);

// Loads "param.txt" of the current folder onto the Init params values, applies the
// overrides and adopts the result (rewriting "./param.txt"). A value outside its range is
// a lumet::Error naming the option.
ParamSet AdoptWithOverrides(const ParamOverrides& overrides);

// The set printed as "name = value" lines, the derived names included.
std::string DescribeParams(const ParamSet& params);

}  // namespace lumet::cli
