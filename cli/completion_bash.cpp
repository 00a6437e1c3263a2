// The bash completion script: one function per command, each called with the index of the first
// word after its own name, so a group hands the rest of the line to the subcommand named there.

#include <string>

#include "cli/completion.h"

namespace qor::cli::completion {
namespace {

std::string joined(const std::vector<std::string>& words, const std::string& separator = " ") {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
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
         "    if [[ $cword -gt $1 ]]; then\n" + "        case \"${words[$1]}\" in\n" + cases +
         "        esac\n" + "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n" +
         "        return\n" + "    fi\n" + "    COMPREPLY=($(compgen -W \"$options" + names +
         "\" -- \"$cur\"))\n" + "}\n";
}

// The positional under the cursor is counted past flags and the values of options; when the
// host offers values for it, those are the candidates, otherwise the command's options are.
std::string suggestionCases(const CommandSpec& command, const std::string& name) {
  std::string cases;
  const std::vector<Suggestions> kinds = positionalSuggestions(command);
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    if (kinds[i] == Suggestions::none) continue;
    cases += "            " + std::to_string(i) + ") _" + name + "_suggest " +
             std::string(suggestionsName(kinds[i])) + " && return ;;\n";
  }
  return cases;
}

// The values of the options that take only certain ones: after the option's word, or attached
// to it ("--format=j", with `suffix` "=*"; the prefix is taken off again as readline needs).
std::string choiceCases(const CommandSpec& command, const std::string& suffix) {
  std::string cases;
  for (const ArgSpec& member : command.members) {
    if (member.choices.empty()) continue;
    const std::string name = longName(member);
    const std::string words = "compgen -W \"" + joined(member.choices) + "\"";
    cases += "            " + name + suffix + ") COMPREPLY=($(" + words +
             (suffix.empty() ? " -- \"$cur\"" : " -P " + name + "= -- \"${cur#*=}\"") +
             ")); return ;;\n";
  }
  return cases;
}

std::string leafFunction(const CommandPath& path) {
  const std::string name = path.front()->commandName();
  const CommandSpec& leaf = *path.back();
  // Words after these are values only; the word after these is the option's value.
  std::string endOfOptions = "--";
  for (const ArgSpec& member : leaf.members) {
    if (member.kind == ArgKind::remainingOption) {
      endOfOptions += "|" + longName(member) + "|" + longName(member) + "=*";
    }
  }
  const std::string valueOptions = joined(valueOptionWords(leaf), "|");
  const bool suggests = suggestsValues(leaf);
  std::string text =
      functionName(path) + "() {\n" + "    local options=\"" + joined(optionWords(leaf)) + "\"\n" +
      "    local i" + (suggests ? " positional=0" : "") + "\n" +
      "    for ((i = $1; i < cword; i++)); do\n" + "        case \"${words[i]}\" in\n" +
      "            " + endOfOptions + ") return ;;\n";
  if (suggests) {
    if (!valueOptions.empty()) text += "            " + valueOptions + ") i=$((i + 1)) ;;\n";
    text +=
        "            -*) ;;\n"
        "            *) positional=$((positional + 1)) ;;\n";
  }
  text += "        esac\n    done\n";
  if (!valueOptions.empty()) {
    text +=
        "    if [[ $cword -gt $1 ]]; then\n"
        "        case \"$prev\" in\n" +
        choiceCases(leaf, "") + "            " + valueOptions + ") return ;;\n" +
        "        esac\n"
        "    fi\n";
  }
  const std::string attachedChoices = choiceCases(leaf, "=*");
  if (!attachedChoices.empty()) {
    text += "    case \"$cur\" in\n" + attachedChoices + "    esac\n";
  }
  if (suggests) {
    text += "    if [[ $cur != -* ]]; then\n        case $positional in\n" +
            suggestionCases(leaf, name) + "        esac\n    fi\n";
  }
  return text + "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n}\n";
}

// Asks the program being completed for the host's values; they come one per line, names with
// spaces among them. The word under the cursor is read as the shell will read it (quotes and
// backslashes removed); each match is given back quoted as the word is: escaped when the word has
// no opening quote, as it stands inside one (readline closes the quote).
std::string suggestFunction(const std::string& name) {
  return "_" + name +
         "_suggest() {\n"
         "    local word=\"\" quote=\"\" c i line\n"
         "    for ((i = 0; i < ${#cur}; i++)); do\n"
         "        c=${cur:i:1}\n"
         "        if [[ -z $quote && ( $c == \"'\" || $c == '\"' ) ]]; then\n"
         "            quote=$c\n"
         "        elif [[ -n $quote && $c == \"$quote\" ]]; then\n"
         "            quote=\"\"\n"
         "        else\n"
         "            if [[ $c == \\\\ && $quote != \"'\" ]]; then i=$((i + 1)); c=${cur:i:1}; fi\n"
         "            word+=$c\n"
         "        fi\n"
         "    done\n"
         "    local -a found=()\n"
         "    while IFS= read -r line; do\n"
         "        [[ -n $line && $line == \"$word\"* ]] && found+=(\"$line\")\n"
         "    done < <(command \"$_" +
         name + "_command\" " + std::string(kCompleteValuesOption) +
         " \"$1\" \"$word\" 2>/dev/null </dev/null)\n"
         "    [[ ${#found[@]} -gt 0 ]] || return 1\n"
         "    for line in \"${found[@]}\"; do\n"
         "        if [[ ${cur:0:1} == [\\\"\\'] ]]; then\n"
         "            COMPREPLY+=(\"$line\")\n"
         "        else\n"
         "            printf -v line '%q' \"$line\"\n"
         "            COMPREPLY+=(\"$line\")\n"
         "        fi\n"
         "    done\n"
         "}\n";
}

}  // namespace

std::string bashScript(const CommandSpec& root) {
  const std::string name = root.commandName();
  const CommandPath rootPath{&root};
  // No #! line: the file is sourced, never run.
  std::string script = "# Completion of " + name +
                       " for bash. Source this file, or install it where\n"
                       "# bash-completion finds it (~/.local/share/bash-completion/completions/" +
                       name +
                       ").\n"
                       "\n"
                       "_" +
                       name +
                       "_complete() {\n"
                       "    local _" +
                       name +
                       "_command=\"$1\"\n"
                       "    local cur prev words cword\n"
                       "    if declare -F _get_comp_words_by_ref >/dev/null; then\n"
                       "        _get_comp_words_by_ref -n =: cur prev words cword\n"
                       "    else\n"
                       "        words=(\"${COMP_WORDS[@]}\") cword=$COMP_CWORD\n"
                       "        cur=${words[cword]} prev=${words[cword-1]}\n"
                       "    fi\n"
                       "    COMPREPLY=()\n"
                       "    " +
                       functionName(rootPath) +
                       " 1\n"
                       "    # readline replaces the word from its last = or : on only.\n"
                       "    local broken=${cur%\"${cur##*[=:]}\"}\n"
                       "    if [[ -n $broken && ${cur:0:1} != [\\\"\\'] ]]; then\n"
                       "        COMPREPLY=(\"${COMPREPLY[@]#\"$broken\"}\")\n"
                       "    fi\n"
                       "}\n";
  forEachCommand(root, [&](const CommandPath& path) {
    script += "\n" + (path.back()->subcommands.empty() ? leafFunction(path) : groupFunction(path));
  });
  script += "\n" + suggestFunction(name);
  return script + "\ncomplete -F _" + name + "_complete " + name + "\n";
}

}  // namespace qor::cli::completion
