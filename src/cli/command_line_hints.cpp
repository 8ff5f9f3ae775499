#include "cli/command_line_hints.h"

#include <algorithm>
#include <cstdio>

namespace lumet::cli {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::vector<CLI::App*> Commands(CLI::App& app) {
  return app.get_subcommands([](CLI::App*) { return true; });
}

void PrintUsage(CLI::App& app, FILE* out) {
  std::string text = "Usage: lumet-cli [-C DIR] COMMAND [OPTIONS]\n\nCommands:\n";
  for (CLI::App* command : Commands(app)) {
    std::string name = command->get_name();
    name.resize(std::max<size_t>(name.size(), 16), ' ');
    text += "  " + name + command->get_description().substr(0, command->get_description().find('\n')) + "\n";
  }
  text += "\nRun lumet-cli COMMAND --help for the options of a command.\n";
  std::fputs(text.c_str(), out);
}

// The long option names a command knows, with their dashes.
std::vector<std::string> LongNames(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
  }
  return names;
}

std::string DidYouMean(const std::string& closest) { return closest.empty() ? "" : "; did you mean " + closest + "?"; }

}  // namespace

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string ClosestName(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  size_t bestDistance = 0;
  std::vector<std::string> extending;
  for (const std::string& candidate : candidates) {
    if (StartsWith(candidate, word.c_str())) extending.push_back(candidate);
    const size_t d = EditDistance(word, candidate);
    if (best.empty() || d < bestDistance) best = candidate, bestDistance = d;
  }
  if (extending.size() == 1 && word.size() >= 3) return extending.front();
  // A third of the word may be wrong, at least two characters of it.
  const size_t allowed = std::max<size_t>(2, word.size() / 3);
  return !best.empty() && bestDistance <= allowed ? best : std::string();
}

bool RefuseCommandLine(CLI::App& app, const std::vector<std::string>& words, FILE* out) {
  std::vector<std::string> commandNames;
  for (CLI::App* command : Commands(app)) commandNames.push_back(command->get_name());
  size_t i = 0;
  for (; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "-h" || word == "--help" || word == "--version") return false;
    if (word == "-C") {
      ++i;
      continue;
    }
    if (StartsWith(word, "-C")) continue;  // -CDIR
    if (!StartsWith(word, "-")) break;
    // A command's option given before the command.
    const std::string name = word.substr(0, word.find('='));
    std::string owner;  // the command given later if it knows the option, else the first that does
    for (CLI::App* command : Commands(app)) {
      if (command->get_option_no_throw(name) == nullptr) continue;
      if (owner.empty() || std::find(words.begin() + static_cast<long>(i), words.end(), command->get_name()) != words.end()) {
        owner = command->get_name();
      }
    }
    if (!owner.empty()) {
      std::fprintf(out, "lumet-cli: %s is an option of the command and goes after it: lumet-cli %s %s ...\n",
                   name.c_str(), owner.c_str(), name.c_str());
      return true;
    }
    std::fprintf(out, "lumet-cli: unknown option %s%s\nRun lumet-cli --help for the options and commands.\n",
                 name.c_str(), DidYouMean(ClosestName(name, {"--help", "--version"})).c_str());
    return true;
  }
  // A trailing "-C" skips past the end of the words.
  if (i >= words.size()) {
    PrintUsage(app, out);
    return true;
  }
  const std::string& commandName = words[i];
  const auto found = std::find(commandNames.begin(), commandNames.end(), commandName);
  if (found == commandNames.end()) {
    std::fprintf(out, "lumet-cli: unknown command \"%s\"%s\n", commandName.c_str(),
                 DidYouMean(ClosestName(commandName, commandNames)).c_str());
    PrintUsage(app, out);
    return true;
  }
  CLI::App* command = app.get_subcommand(commandName);
  for (size_t j = i + 1; j < words.size(); ++j) {
    const std::string& word = words[j];
    if (word == "--") break;  // the rest are values
    if (word == "-C" || (StartsWith(word, "-C") && command->get_option_no_throw("-C") == nullptr)) {
      std::fprintf(out, "lumet-cli: -C goes before the command: lumet-cli -C DIR %s ...\n", commandName.c_str());
      return true;
    }
    if (!StartsWith(word, "--")) continue;
    const std::string name = word.substr(0, word.find('='));
    const CLI::Option* option = command->get_option_no_throw(name);
    if (option == nullptr) {
      std::fprintf(out, "lumet-cli %s: unknown option %s%s\nRun lumet-cli %s --help for its options.\n",
                   commandName.c_str(), name.c_str(), DidYouMean(ClosestName(name, LongNames(*command))).c_str(),
                   commandName.c_str());
      return true;
    }
    // The next word is this option's value, whatever it looks like.
    if (word.find('=') == std::string::npos && option->get_items_expected_max() > 0) ++j;
  }
  return false;
}

}  // namespace lumet::cli
