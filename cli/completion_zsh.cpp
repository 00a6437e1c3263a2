// The zsh completion script: one function per command built on _arguments. A group completes its
// subcommand names, then hands the words from the subcommand on to that subcommand's function.

#include <string>

#include "cli/completion.h"
#include "cli/help.h"

namespace qor::cli::completion {
namespace {

// The text inside a single-quoted zsh word.
std::string quoted(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out;
}

// An explanation inside [...] of an _arguments specifier.
std::string explanation(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == '\\') out += '\\';
    out += c;
  }
  return "[" + quoted(out) + "]";
}

// A message or a _describe name, where a colon would end the field.
std::string colonEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ':' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string field(const std::string& text) {
  return quoted(colonEscaped(text));
}

constexpr const char* kLine = " \\\n        ";

std::string memberArgument(const ArgSpec& member, const std::string& command) {
  const std::string name = longName(member);
  const std::string placeholder = field(valueName(member));
  switch (member.kind) {
    case ArgKind::positional: {
      std::string action;
      if (member.suggestions != Suggestions::none) {
        action = "_" + command + "_suggest " + std::string(suggestionsName(member.suggestions));
      }
      return "':" + field(member.help.empty() ? valueName(member) : member.help) + ":" + action +
             "'";
    }
    case ArgKind::flag:
      if (member.shortName == 0) return "'" + name + explanation(member.help) + "'";
      return "'(-" + std::string(1, member.shortName) + " " + name + ")'{-" +
             std::string(1, member.shortName) + "," + name + "}'" + explanation(member.help) + "'";
    // "=": the value may also follow in the same word (--name=value), as the parser accepts.
    case ArgKind::option: {
      std::string action;
      if (!member.choices.empty()) {
        for (const std::string& choice : member.choices) {
          action += (action.empty() ? "(" : " ") + quoted(choice);
        }
        action += ")";
      }
      return "'" + name + "=" + explanation(member.help) + ":" + placeholder + ":" + action + "'";
    }
    case ArgKind::repeatedOption:
      return "'*" + name + "=" + explanation(member.help) + ":" + placeholder + ":'";
    case ArgKind::remainingOption:
      return "'" + name + "=" + explanation(member.help) + ":*:" + placeholder + ":'";
  }
  return "";
}

// The word that started the command line, kept for the subcommands' functions (the words they see
// begin after their own name): the values are asked of the very program being completed.
std::string rootCommandWord(const std::string& name) {
  return "    local _" + name + "_command=${(Q)words[1]}\n";
}

// Adds the values the host offers, one per line of the program's answer; compadd quotes each as
// the word under the cursor needs (names hold spaces). _arguments puts its compadd options before
// the last word, the kind of value.
std::string suggestFunction(const std::string& name) {
  return "_" + name +
         "_suggest() {\n"
         "    local kind=$argv[-1]\n"
         "    argv[-1]=()\n"
         "    local -a values\n"
         "    values=(${(f)\"$(command ${_" +
         name + "_command:-" + name + "} " + std::string(kCompleteValuesOption) +
         " $kind ${(Q)PREFIX} 2>/dev/null </dev/null)\"})\n"
         "    compadd \"$@\" -a values\n"
         "}\n";
}

std::string helpArgument() {
  return "'(- *)'{-h,--help}'" + explanation(kHelpAbstract) + "'";
}

std::string leafFunction(const CommandPath& path) {
  std::string text = functionName(path) + "() {\n    _arguments -s -S";
  const std::string command = path.front()->commandName();
  for (const ArgSpec& member : path.back()->members)
    text += kLine + memberArgument(member, command);
  return text + kLine + helpArgument() + "\n}\n";
}

std::string groupFunction(const CommandPath& path) {
  const CommandSpec& command = *path.back();
  std::string names, cases;
  for (const CommandSpec& sub : command.subcommands) {
    CommandPath subPath = path;
    subPath.push_back(&sub);
    names += "                '" + field(sub.commandName()) + ":" + quoted(sub.abstract) + "'\n";
    cases += "                (" + sub.commandName() + ") " + functionName(subPath) + " ;;\n";
  }
  if (path.size() == 1) names += "                'help:" + quoted(kHelpSubcommandAbstract) + "'\n";
  return functionName(path) +
         "() {\n"
         "    local context state state_descr line\n"
         "    typeset -A opt_args\n" +
         (path.size() == 1 ? rootCommandWord(command.commandName()) : std::string()) +
         "    _arguments -C" + kLine + helpArgument() + kLine + "': :->subcommand'" + kLine +
         "'*:: :->argument' && return 0\n"
         "    case $state in\n"
         "        (subcommand)\n"
         "            local -a subcommands\n"
         "            subcommands=(\n" +
         names +
         "            )\n"
         "            _describe -t subcommands 'subcommand' subcommands && return 0\n"
         "            ;;\n"
         "        (argument)\n"
         "            case $words[1] in\n" +
         cases +
         "            esac\n"
         "            ;;\n"
         "    esac\n"
         "    return 1\n"
         "}\n";
}

}  // namespace

std::string zshScript(const CommandSpec& root) {
  const std::string name = root.commandName();
  std::string script = "#compdef " + name +
                       "\n"
                       "# Completion of " +
                       name + " for zsh. Install it as _" + name +
                       " in a directory of\n"
                       "# $fpath, or source it after compinit.\n";
  forEachCommand(root, [&](const CommandPath& path) {
    script += "\n" + (path.back()->subcommands.empty() ? leafFunction(path) : groupFunction(path));
  });
  script += "\n" + suggestFunction(name);
  // Autoloaded from $fpath, the file is the body of _qorctl; sourced, it registers itself.
  return script + "\nif [[ $funcstack[1] = _" + name + " ]]; then\n    _" + name +
         " \"$@\"\nelse\n    compdef _" + name + " " + name + "\nfi\n";
}

}  // namespace qor::cli::completion
