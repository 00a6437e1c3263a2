#include "cli/parser.h"

#include <span>

#include "cli/completion.h"
#include "cli/errors.h"
#include "cli/help.h"
#include "cli/member_parser.h"
#include "cli/parse_messages.h"
#include "support/utf8.h"

namespace qor::cli {
namespace {

constexpr std::string_view kCompletionOption = "--generate-completion-script";

const CommandSpec* subcommandNamed(const CommandSpec& command, const std::string& name) {
  for (const CommandSpec& sub : command.subcommands) {
    if (sub.commandName() == name) return &sub;
  }
  return nullptr;
}

// Messages may quote the user's words, which need not be valid UTF-8: shown, they are made so.
ReportError usageError(const CommandPath& path, const std::string& message) {
  return {"Error: " + support::sanitizeUtf8(message) + "\nUsage: " + usageLine(path) + "\n  See '" +
              commandPathText(path) + " --help' for more information.\n",
          kUsageErrorStatus};
}

// `help` followed by a command path; like the parsing library, it stops at the first word that
// names no subcommand and shows the help of the deepest command named.
ShowText helpSubcommand(const CommandSpec& root, std::span<const std::string> names,
                        std::size_t width) {
  CommandPath path{&root};
  for (const std::string& name : names) {
    const CommandSpec* sub = subcommandNamed(*path.back(), name);
    if (sub == nullptr) break;
    path.push_back(sub);
  }
  return {helpText(path, width)};
}

// `--generate-completion-script <shell>` (or `=<shell>`), given to the root alone.
ParseOutcome completionRequest(const CommandSpec& root, std::span<const std::string> words) {
  const CommandPath path{&root};
  const ArgSpec shellOption{ArgKind::option, "shell", 0, ""};
  const std::string& first = words.front();
  std::size_t used = 1;
  std::string shell;
  if (first.size() > kCompletionOption.size()) {
    shell = first.substr(kCompletionOption.size() + 1);
  } else if (words.size() > 1 && (words[1].size() < 2 || words[1][0] != '-')) {
    shell = words[1];
    used = 2;
  } else {
    return usageError(path, missingValueMessage(kCompletionOption, shellOption));
  }
  if (words.size() > used) return usageError(path, unexpectedArgumentsMessage(words.subspan(used)));
  std::optional<Shell> known = shellNamed(shell);
  if (!known) return usageError(path, invalidValueMessage(shell, kCompletionOption, shellOption));
  return ShowText{completionScript(root, *known)};
}

// Every value reaches the host as text, and a D-Bus text is UTF-8: a value that is not would
// have to be changed, and would then name another program, path or machine. Refused instead.
std::optional<std::string> invalidText(const CommandSpec& command, const ParsedArguments& values) {
  for (const ArgSpec& member : command.members) {
    if (member.kind == ArgKind::flag) continue;
    const auto& list = values.values(member.property);
    for (std::size_t i = 0; i < list.size(); ++i) {
      bool complete = true;
      const std::size_t valid = support::textPrefixLength(list[i], complete);
      if (valid == list[i].size()) continue;
      return invalidTextMessage(member, i, list.size(), valid,
                                static_cast<unsigned char>(list[i][valid]));
    }
  }
  return std::nullopt;
}

bool isCompletionRequest(const std::string& word) {
  return word == kCompletionOption ||
         (word.starts_with(kCompletionOption) && word[kCompletionOption.size()] == '=');
}

}  // namespace

ParseOutcome parseCommandLine(const CommandSpec& root, const std::vector<std::string>& arguments,
                              std::size_t width) {
  std::span<const std::string> rest(arguments);

  if (!rest.empty() && isCompletionRequest(rest.front())) return completionRequest(root, rest);
  if (!rest.empty() && rest.front() == "help") {
    return helpSubcommand(root, rest.subspan(1), width);
  }

  // Subcommand names come first, each right after its parent's name.
  CommandPath path{&root};
  while (!rest.empty()) {
    const CommandSpec* sub = subcommandNamed(*path.back(), rest.front());
    if (sub == nullptr) break;
    path.push_back(sub);
    rest = rest.subspan(1);
  }
  const CommandSpec& command = *path.back();
  if (asksForHelp(command, rest)) return ShowText{helpText(path, width)};

  ParsedArguments values;
  if (auto message = parseMembers(command, rest, values)) return usageError(path, *message);
  // The root and the groups have no body: run without a subcommand, they show their help.
  if (!command.subcommands.empty()) return ShowText{helpText(path, width)};
  if (auto message = invalidText(command, values)) return usageError(path, *message);
  if (command.validate != nullptr) {
    try {
      command.validate(values);
    } catch (const CommandError& error) {
      return ReportError{"Error: " + std::string(error.what()) + "\n", kValidationErrorStatus};
    }
  }
  return RunCommand{std::move(path), std::move(values)};
}

}  // namespace qor::cli
