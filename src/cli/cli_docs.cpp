#include "cli/cli_docs.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "util/atomic_file.h"

namespace lumet::cli {

namespace {

// The option's value placeholder without the validator texts CLI11 appends after ':'.
std::string ValueName(const CLI::Option* option) {
  if (option->get_type_size_max() == 0) return {};
  std::string name = option->get_type_name();
  const size_t colon = name.find(':');
  if (colon != std::string::npos) name.erase(colon);
  return name;
}

std::vector<std::string> Names(const CLI::Option* option) {
  std::vector<std::string> names;
  for (const auto& s : option->get_snames()) names.push_back("-" + s);
  for (const auto& l : option->get_lnames()) names.push_back("--" + l);
  return names;
}

std::vector<const CLI::Option*> Visible(const CLI::App& app) {
  // Hidden options have no group.
  return app.get_options([](const CLI::Option* o) { return !o->get_group().empty() && o->nonpositional(); });
}

// roff text: backslashes doubled, hyphens as minus signs, a leading dot or quote guarded.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  std::string guarded;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && (line[0] == '.' || line[0] == '\'')) line = "\\&" + line;
    guarded += line + "\n";
  }
  return guarded;
}

// One line of roff text inside a macro line.
std::string RoffInline(const std::string& text) {
  std::string out = Roff(text);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

void OptionEntries(std::ostringstream& man, const CLI::App& app) {
  for (const CLI::Option* option : Visible(app)) {
    std::string head;
    for (const std::string& name : Names(option)) head += (head.empty() ? "" : ", ") + std::string("\\fB") + RoffInline(name) + "\\fR";
    const std::string value = ValueName(option);
    if (!value.empty()) head += " \\fI" + RoffInline(value) + "\\fR";
    std::string text = option->get_description();
    if (!option->get_default_str().empty()) text += " (default: " + option->get_default_str() + ")";
    man << ".TP\n" << head << "\n" << Roff(text);
  }
}

// Words a value can be completed with: "bmp|png|tiff" gives its lower-case words.
std::string Choices(const std::string& value) {
  if (value.find('|') == std::string::npos) return {};
  std::string words;
  std::istringstream parts(value);
  for (std::string part; std::getline(parts, part, '|');) {
    bool word = !part.empty();
    for (char c : part) word = word && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
    if (word) words += (words.empty() ? "" : " ") + part;
  }
  return words;
}

}  // namespace

std::string ManPage(const CLI::App& app) {
  std::ostringstream man;
  man << ".TH LUMET\\-CLI 1 \"\" \"lumet-cli 1.0\" \"User Commands\"\n"
      << ".SH NAME\nlumet\\-cli \\- multi\\-frame super\\-resolution of an image sequence, from the command line\n"
      << ".SH SYNOPSIS\n.B lumet\\-cli\n[\\fB\\-C\\fR \\fIDIR\\fR] \\fICOMMAND\\fR [\\fIOPTIONS\\fR]\n"
      << ".SH DESCRIPTION\n" << Roff(app.get_description());
  man << ".SH GLOBAL OPTIONS\n";
  OptionEntries(man, app);
  man << ".SH COMMANDS\n";
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    man << ".SS " << Roff(command->get_name()) << Roff(command->get_description());
    OptionEntries(man, *command);
  }
  man << ".SH FRAMES\n"
      << "Frames are read from the files the LR pattern names, with the frame number in place of its "
         "\\fB%d\\fR (flags and a width such as \\fB%04d\\fR are allowed): BMP files through the program's own "
         "reader, and PNG, JPEG, TIFF (8 or 16 bits, or 32\\-bit float; 16\\-bit samples are rounded to the "
         "nearest 8\\-bit value), OpenEXR (half or float; floating\\-point samples, 1.0 the nominal white, are read "
         "by the enhanced method unclamped and by the others as their 8\\-bit cut; a sample that is not a number "
         "or infinite refuses the file), WebP, GIF, PNM, TGA and the other still formats through OpenImageIO. A "
         "pattern without "
         "\\fB%\\fR that names a video file (.mkv, .mp4, .avi, .mov, .webm, ...) reads the video's frames in order.\n"
         ".PP\n"
         "Frame 0 is the reference; registration with \\fB\\-\\-lr\\-count\\fR \\fIN\\fR reads frames 0 to "
         "\\fIN\\fR, so \\fIN\\fR + 1 frames are needed, and \\fB\\-\\-lr\\-count auto\\fR takes the frames "
         "found, minus one. Every frame is checked before the registration starts.\n";
  man << ".SH EXAMPLES\n"
      << "A first run: a synthetic sequence, its registration and reconstruction, and a quality report.\n"
         ".PP\n.nf\nlumet\\-cli demo ./lumet\\-demo\n.fi\n.PP\n"
         "PNG frames numbered from 1 (shot_0001.png, shot_0002.png, ...), every frame found, a 60 x 60 ROI, "
         "the result as PNG:\n"
         ".PP\n.nf\nlumet\\-cli run \\-\\-lr\\-pattern './frames/shot_%04d.png' \\-\\-start\\-index 1 "
         "\\-\\-lr\\-count auto \\\\\n    \\-\\-roi 120,80,60,60 \\-\\-format png\n.fi\n.PP\n"
         "Frames 100 to 130 of a video clip:\n"
         ".PP\n.nf\nlumet\\-cli run \\-\\-lr\\-pattern clip.mp4 \\-\\-start\\-index 100 \\-\\-lr\\-count 30\n.fi\n.PP\n"
         "Every frame of a clip super-resolved into a lossless video with the clip's times and audio, split into "
         "two range jobs that share the parts and a last run that only encodes:\n"
         ".PP\n.nf\nlumet\\-cli video clip.mp4 sr.mkv \\-\\-scale 2 \\-\\-first 0 \\-\\-last 999 "
         "\\-\\-parts\\-only\nlumet\\-cli video clip.mp4 sr.mkv \\-\\-scale 2 \\-\\-first 1000 "
         "\\-\\-parts\\-only\nlumet\\-cli video clip.mp4 sr.mkv \\-\\-scale 2\n.fi\n.PP\n"
         "The enhanced method, then the result compared with another image:\n"
         ".PP\n.nf\nlumet\\-cli run \\-\\-method enhanced\nlumet\\-cli compare result/hr.bmp truth.png\n.fi\n.PP\n"
         "The same engine from Python, on frames held in a numpy array (N, H, W, 3) of uint8:\n"
         ".PP\n.nf\npython3 \\-c 'import lumet; frames = lumet.read_frames(\"images/lr\\-%d.bmp\"); "
         "hr = lumet.super_resolve(frames, roi=(160, 100, 40, 40), scale=4); lumet.write_image(\"hr.png\", hr)'\n"
         ".fi\n";
  man << ".SH FILES\n.TP\n\\fBparam.txt\\fR\nThe parameters, kept between runs in the working folder.\n"
      << ".SH EXIT STATUS\n0 on success, 1 when a command fails (the reason on standard error), 2 for a malformed "
         "command line.\n"
      << ".SH SEE ALSO\n\\fBlumet\\fR(1)\n";
  return man.str();
}

std::string BashCompletion(const CLI::App& app) {
  std::ostringstream script;
  std::string commands;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    commands += (commands.empty() ? "" : " ") + command->get_name();
  }
  // Completion of option values, by option name; the same for every command.
  std::ostringstream values;
  std::vector<std::string> done;
  const auto addValues = [&](const CLI::App& a) {
    for (const CLI::Option* option : Visible(a)) {
      const std::string value = ValueName(option);
      if (value.empty()) continue;
      for (const std::string& name : Names(option)) {
        if (std::find(done.begin(), done.end(), name) != done.end()) continue;
        done.push_back(name);
        const std::string choices = Choices(value);
        if (!choices.empty()) {
          values << "    " << name << ") COMPREPLY=($(compgen -W \"" << choices << "\" -- \"$cur\")); return ;;\n";
        } else if (value == "DIR") {
          values << "    " << name << ") COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n";
        } else if (value == "FILE" || name == "--lr-pattern" || name == "--output") {
          values << "    " << name << ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
        } else {
          values << "    " << name << ") return ;;\n";
        }
      }
    }
  };
  addValues(app);
  std::ostringstream perCommand;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    addValues(*command);
    std::string options;
    for (const CLI::Option* option : Visible(*command)) {
      for (const std::string& name : Names(option)) options += (options.empty() ? "" : " ") + name;
    }
    perCommand << "    " << command->get_name() << ") words=\"" << options << "\" ;;\n";
  }
  std::string globals;
  for (const CLI::Option* option : Visible(app)) {
    for (const std::string& name : Names(option)) globals += " " + name;
  }

  script << "# bash completion for lumet-cli, generated from its option definitions\n"
         << "_lumet_cli() {\n"
         << "  local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\" command=\"\" i words\n"
         << "  COMPREPLY=()\n"
         << "  case \"$prev\" in\n"
         << values.str() << "  esac\n"
         << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         << "    case \" " << commands << " \" in *\" ${COMP_WORDS[i]} \"*) command=\"${COMP_WORDS[i]}\"; break ;; esac\n"
         << "  done\n"
         << "  case \"$command\" in\n"
         << "    \"\") words=\"" << commands << globals << "\" ;;\n"
         << perCommand.str() << "  esac\n"
         << "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
         << "}\n"
         << "complete -F _lumet_cli lumet-cli\n";
  return script.str();
}

bool GenerateDocs(const CLI::App& app, int argc, const char* const* argv) {
  if (argc != 3) return false;
  const std::string what = argv[1];
  if (what == "--generate-man") {
    WriteFileAtomically(argv[2], ManPage(app));
    return true;
  }
  if (what == "--generate-bash-completion") {
    WriteFileAtomically(argv[2], BashCompletion(app));
    return true;
  }
  return false;
}

}  // namespace lumet::cli
