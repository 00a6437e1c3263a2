// The fish completion script: a helper works out which command the words typed so far name, and
// every completion is conditioned on it.

#include <string>

#include "cli/completion.h"
#include "cli/help.h"

namespace qor::cli::completion {
namespace {

// A single-quoted fish word.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

std::string pathHelper(const CommandSpec& root, const std::string& name) {
  std::string descents, valuesOnly = "'* --'";
  forEachCommand(root, [&](const CommandPath& path) {
    const CommandSpec& command = *path.back();
    std::string pathText = commandPathText(path);
    if (!command.subcommands.empty()) {
      descents += "            case " + quoted(pathText) + "\n                set next";
      for (const CommandSpec& sub : command.subcommands) descents += " " + sub.commandName();
      descents += "\n";
    }
    for (const ArgSpec& member : command.members) {
      if (member.kind != ArgKind::remainingOption) continue;
      valuesOnly += " " + quoted(pathText + " " + longName(member)) + " " +
                    quoted(pathText + " " + longName(member) + "=*");
    }
  });
  return "# The command that the words before the cursor name (\"" + name +
         " usb\"); nothing once\n"
         "# the words that follow are values only (after -- or an option that takes the rest).\n"
         "function __" +
         name +
         "_path\n"
         "    set -l words (commandline -opc)\n"
         "    set -l path " +
         name +
         "\n"
         "    set -l i 2\n"
         "    while test $i -le (count $words)\n"
         "        set -l next\n"
         "        switch $path\n" +
         descents +
         "        end\n"
         "        contains -- $words[$i] $next; or break\n"
         "        set path \"$path $words[$i]\"\n"
         "        set i (math $i + 1)\n"
         "    end\n"
         "    while test $i -le (count $words)\n"
         "        switch \"$path $words[$i]\"\n"
         "            case " +
         valuesOnly +
         "\n"
         "                return\n"
         "        end\n"
         "        set i (math $i + 1)\n"
         "    end\n"
         "    echo $path\n"
         "end\n"
         "\n"
         "function __" +
         name +
         "_at\n"
         "    set -l path (__" +
         name +
         "_path)\n"
         "    test \"$path\" = \"$argv[1]\"\n"
         "end\n";
}

std::string completions(const CommandPath& path, const std::string& name) {
  const CommandSpec& command = *path.back();
  const std::string prefix =
      "complete -c " + name + " -n " + quoted("__" + name + "_at " + quoted(commandPathText(path)));
  std::string lines;
  for (const CommandSpec& sub : command.subcommands) {
    lines += prefix + " -a " + quoted(sub.commandName()) + " -d " + quoted(sub.abstract) + "\n";
  }
  if (path.size() == 1) {
    lines += prefix + " -a help -d " + quoted(kHelpSubcommandAbstract) + "\n";
  }
  for (const ArgSpec& member : command.members) {
    if (member.kind == ArgKind::positional) continue;
    lines += prefix;
    if (member.shortName != 0) lines += " -s " + std::string(1, member.shortName);
    lines += " -l " + deriveName(member.property);
    if (member.kind != ArgKind::flag) lines += " -r";
    if (!member.help.empty()) lines += " -d " + quoted(member.help);
    lines += "\n";
  }
  return lines + prefix + " -s h -l help -d " + quoted(kHelpAbstract) + "\n";
}

}  // namespace

std::string fishScript(const CommandSpec& root) {
  const std::string name = root.commandName();
  std::string script = "# Completion of " + name +
                       " for fish. Save it as\n"
                       "# ~/.config/fish/completions/" +
                       name + ".fish, or source it.\n\n" + pathHelper(root, name) + "\n" +
                       "complete -c " + name + " -f\n";
  forEachCommand(root, [&](const CommandPath& path) { script += completions(path, name); });
  return script;
}

}  // namespace qor::cli::completion
