// The bash completion script: one function per command, each called with the index of the first
// word after its own name, so a group hands the rest of the line to the subcommand named there.

#include <string>

#include "cli/completion.h"

namespace qor::cli::completion {
namespace {

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

std::string groupFunction(const CommandPath& path) {
  const CommandSpec& command = *path.back();
  std::string options = joined(optionWords(command));
  std::string names;
  std::string cases;
  for (const CommandSpec& sub : command.subcommands) {
    CommandPath subPath = path;
    subPath.push_back(&sub);
    names += " " + sub.commandName();
    cases += "            " + sub.commandName() + ") " + functionName(subPath) +
             " $(($1 + 1)); return ;;\n";
  }
  if (path.size() == 1) names += " help";
  return functionName(path) + "() {\n" + "    local options=\"" + options + "\"\n" +
         "    if [[ $COMP_CWORD -gt $1 ]]; then\n" + "        case \"${COMP_WORDS[$1]}\" in\n" +
         cases + "        esac\n" + "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n" +
         "        return\n" + "    fi\n" + "    COMPREPLY=($(compgen -W \"$options" + names +
         "\" -- \"$cur\"))\n" + "}\n";
}

std::string leafFunction(const CommandPath& path) {
  const CommandSpec& command = *path.back();
  // Words after these are values only; the word after these is the option's value.
  std::string endOfOptions = "--";
  std::string valueOptions;
  for (const ArgSpec& member : command.members) {
    if (member.kind == ArgKind::remainingOption) endOfOptions += "|" + longName(member);
    if (member.kind == ArgKind::option || member.kind == ArgKind::repeatedOption) {
      valueOptions += (valueOptions.empty() ? "" : "|") + longName(member);
    }
  }
  std::string text = functionName(path) + "() {\n" + "    local options=\"" +
                     joined(optionWords(command)) + "\"\n" + "    local i\n" +
                     "    for ((i = $1; i < COMP_CWORD; i++)); do\n" +
                     "        case \"${COMP_WORDS[i]}\" in\n" + "            " + endOfOptions +
                     ") return ;;\n" + "        esac\n" + "    done\n";
  if (!valueOptions.empty()) {
    text +=
        "    if [[ $COMP_CWORD -gt $1 ]]; then\n"
        "        case \"$prev\" in\n"
        "            " +
        valueOptions + ") return ;;\n" +
        "        esac\n"
        "    fi\n";
  }
  return text + "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n}\n";
}

}  // namespace

std::string bashScript(const CommandSpec& root) {
  const std::string name = root.commandName();
  const CommandPath rootPath{&root};
  std::string script =
      "#!/bin/bash\n"
      "# Completion of " +
      name +
      " for bash. Source this file, or install it where\n"
      "# bash-completion finds it (~/.local/share/bash-completion/completions/" +
      name +
      ").\n"
      "\n"
      "_" +
      name +
      "_complete() {\n"
      "    local cur=\"${COMP_WORDS[COMP_CWORD]}\"\n"
      "    local prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
      "    COMPREPLY=()\n"
      "    " +
      functionName(rootPath) +
      " 1\n"
      "}\n";
  forEachCommand(root, [&](const CommandPath& path) {
    script += "\n" + (path.back()->subcommands.empty() ? leafFunction(path) : groupFunction(path));
  });
  return script + "\ncomplete -F _" + name + "_complete " + name + "\n";
}

}  // namespace qor::cli::completion
