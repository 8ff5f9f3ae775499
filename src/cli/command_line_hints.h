#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace lumet::cli {

// The number of single-character insertions, deletions and substitutions between a and b.
size_t EditDistance(const std::string& a, const std::string& b);

// The candidate closest to word when it is close enough to be a likely misspelling (or
// word is the start of just one candidate); "" otherwise.
std::string ClosestName(const std::string& word, const std::vector<std::string>& candidates);

// Looks at the words before CLI11 parses them, to say what is wrong in the user's terms:
// no command (a short usage listing the commands), an unknown command or option (with the
// closest name: "did you mean --scale?"), -C after the command, a command's option before
// it. Prints the message to out and returns true when the command line is to be refused
// (exit 2); help and version requests are left to the parser.
bool RefuseCommandLine(CLI::App& app, const std::vector<std::string>& words, FILE* out = stderr);

}  // namespace lumet::cli
