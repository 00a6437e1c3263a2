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

// Whether the word under the cursor is positional number N (from 1) of the command named; the
// options listed after N take their value in the next word. Then the values the host offers,
// asked of the very program being completed; fish quotes them itself (names hold spaces).
std::string suggestHelpers(const std::string& name) {
  return "function __" + name +
         "_argument\n"
         "    __" +
         name +
         "_at $argv[1]; or return 1\n"
         "    set -l token (commandline -ct)\n"
         "    string match -q -- '-*' \"$token\"; and return 1\n"
         "    set -l words (commandline -opc)\n"
         "    set -l valued $argv[3..-1]\n"
         "    set -l positional 1\n"
         "    set -l i (math (count (string split ' ' -- $argv[1])) + 1)\n"
         "    while test $i -le (count $words)\n"
         "        if contains -- $words[$i] $valued\n"
         "            set i (math $i + 1)\n"
         "            test $i -le (count $words); or return 1\n"
         "        else if not string match -q -- '-*' $words[$i]\n"
         "            set positional (math $positional + 1)\n"
         "        end\n"
         "        set i (math $i + 1)\n"
         "    end\n"
         "    test $positional = $argv[2]\n"
         "end\n"
         "\n"
         "function __" +
         name +
         "_suggest\n"
         "    set -l program (commandline -opc)[1]\n"
         "    set -l token (commandline -ct)\n"
         "    command $program " +
         std::string(kCompleteValuesOption) +
         " $argv[1] \"$token\" 2>/dev/null </dev/null\n"
         "end\n";
}

std::string suggestions(const CommandPath& path, const std::string& name) {
  const CommandSpec& command = *path.back();
  const std::vector<Suggestions> kinds = positionalSuggestions(command);
  std::string valued;
  for (const std::string& word : valueOptionWords(command)) valued += " " + word;
  std::string lines;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    if (kinds[i] == Suggestions::none) continue;
    const std::string condition = "__" + name + "_argument " + quoted(commandPathText(path)) + " " +
                                  std::to_string(i + 1) + valued;
    lines += "complete -c " + name + " -n " + quoted(condition) + " -a " +
             quoted("(__" + name + "_suggest " + std::string(suggestionsName(kinds[i])) + ")") +
             "\n";
  }
  return lines;
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
    // -x: the value is one of the words, never a file.
    if (member.kind != ArgKind::flag) lines += member.choices.empty() ? " -r" : " -x";
    if (!member.choices.empty()) {
      std::string words;
      for (const std::string& choice : member.choices) words += (words.empty() ? "" : " ") + choice;
      lines += " -a " + quoted(words);
    }
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
                       suggestHelpers(name) + "\n" + "complete -c " + name + " -f\n";
  forEachCommand(root, [&](const CommandPath& path) {
    script += completions(path, name) + suggestions(path, name);
  });
  return script;
}

}  // namespace qor::cli::completion
